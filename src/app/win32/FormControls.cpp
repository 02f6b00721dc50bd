#include "app/win32/FormControls.h"

namespace oup::win32 {

namespace {
constexpr TLabelStyle kBoldWrapped = {.Font = TFontKind::Bold, .WordWrap = true};
constexpr TLabelStyle kBoldAutoSize = {.Font = TFontKind::Bold, .AutoSize = true};
constexpr TLabelStyle kWrapped = {.WordWrap = true};
constexpr TLabelStyle kPlain = {};
}  // namespace

// Positions in 96-dpi pixels; labels in a band are placed relative to it.
TFormControls::TFormControls(TControlHost& host, HMODULE clipModule)
    : Label12(host, "Label12", {180, 64, 297, 81}, TBand::Form,
              "ADVARSEL! Det har oppst\xE5tt en eller flere feil ved oppdateringen.", kBoldWrapped,
              false),
      bane(host, "bane", {184, 201, 0, 0}, TBand::Form, "Katalog:", kBoldAutoSize, false),
      filelabel1(host, "filelabel1", {184, 214, 333, 17}, kPlain, true),
      FileLabel2(host, "FileLabel2", {180, 225, 313, 17},
                 {.Color = ::GetSysColor(COLOR_WINDOWTEXT)}, false),
      Label1(host, "Label1", {180, 64, 337, 129}, TBand::Form, "Label1", kWrapped, true),
      NesteKnapp(host, "NesteKnapp", {444, 264, 75, 25}, idNesteKnapp, "&Neste >>"),
      StartKnapp(host, "StartKnapp", {443, 264, 75, 25}, idStartKnapp, "Start"),
      driveliste(host, "driveliste", kContentArea, idDriveliste, "Stasjon"),
      Memo1(host, "Memo1", kContentArea, idMemo1),
      Liste(host, "Liste", kContentArea, idListe, "Bane", kWhite),
      Button2(host, "Button2", {179, 263, 75, 25}, idButton2, "&Lukk"),
      AvbrytKnapp(host, "AvbrytKnapp", {179, 264, 75, 25}, idAvbrytKnapp, "&Avbryt", false),
      ForrigeKnapp(host, "ForrigeKnapp", {360, 264, 75, 25}, idForrigeKnapp, "<< Forrige", true,
                   false),
      Animate1(host, "Animate1", {308, 120, 77, 69}, idAnimate1, clipModule),
      Progress(host, "Progress", {180, 243, 313, 8}, idProgress),
      OXPPanel1(host, "OXPPanel1", {12, 8, 0, 0}, TBand::Panel1, "Oppdatering", kBoldAutoSize,
                true),
      Label2(host, "Label2", {12, 28, 421, 13}, TBand::Panel1, "F\xF8lg instruksjonene under",
             kPlain, true),
      advpanel2(host, "advpanel2", {8, 8, 157, 125}, TBand::Panel2, "Instruksjoner", kWrapped,
                true) {}

std::array<TWinControl*, 10> TFormControls::Windows() {
    return {&NesteKnapp, &StartKnapp,  &driveliste,   &Memo1,    &Liste,
            &Button2,    &AvbrytKnapp, &ForrigeKnapp, &Animate1, &Progress};
}

std::array<TPaintedLabel*, 8> TFormControls::Labels() {
    return {&Label12, &bane, &filelabel1, &FileLabel2, &Label1, &OXPPanel1, &Label2, &advpanel2};
}

std::array<TWinButton*, 5> TFormControls::Buttons() {
    return {&NesteKnapp, &Button2, &ForrigeKnapp, &StartKnapp, &AvbrytKnapp};
}

std::vector<TWinControl*> TFormControls::TabOrder() {
    return {&NesteKnapp, &Button2, &ForrigeKnapp, &Memo1,
            &StartKnapp, &Liste,   &driveliste,   &AvbrytKnapp};
}

TFormControl* TFormControls::Find(const std::string& name) {
    for (TFormControl* control : Windows())
        if (control->Name() == name) return control;
    for (TFormControl* control : Labels())
        if (control->Name() == name) return control;
    return nullptr;
}

}  // namespace oup::win32
