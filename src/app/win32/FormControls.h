// The wizard form's controls on real windows, by their names on the form,
// each at its place in the layout with its first state. Declared in the
// layout's stacking order: a later control lies above an earlier one.
#pragma once
#include <array>
#include <string>
#include <vector>

#include "app/win32/WinControls.h"

namespace oup::win32 {

// The windowed controls' ids; WM_COMMAND tells the buttons apart by them.
enum TControlId : int {
    idNesteKnapp = 101,
    idButton2,
    idForrigeKnapp,
    idAnimate1,
    idMemo1,
    idStartKnapp,
    idListe,
    idDriveliste,
    idAvbrytKnapp,
    idProgress,
};

struct TFormControls {
    // clipModule holds the system's stock animation clips (or is null).
    TFormControls(TControlHost& host, HMODULE clipModule);

    TPaintedLabel Label12;  // the warning of page 5
    TPaintedLabel bane;     // "Katalog:"
    TWinFileLabel filelabel1;
    TWinFileLabel FileLabel2;
    TPaintedLabel Label1;  // the content label
    TWinButton NesteKnapp;
    TWinButton StartKnapp;
    TWinListView driveliste;
    TWinMemo Memo1;
    TWinListView Liste;
    TWinButton Button2;
    TWinButton AvbrytKnapp;
    TWinButton ForrigeKnapp;
    TWinAnimate Animate1;
    TWinProgress Progress;  // the update run's progress, under FileLabel2
    TPaintedLabel OXPPanel1;  // in the header band
    TPaintedLabel Label2;
    TPaintedLabel advpanel2;  // in the instructions band

    // The windowed controls, bottom to top.
    std::array<TWinControl*, 10> Windows();
    // The labels the form paints, in the order it paints them.
    std::array<TPaintedLabel*, 8> Labels();
    std::array<TWinButton*, 5> Buttons();
    // The controls the Tab key visits, in order.
    std::vector<TWinControl*> TabOrder();
    TFormControl* Find(const std::string& name);
};

}  // namespace oup::win32
