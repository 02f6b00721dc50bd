#include "app/Language.h"

#include <memory>

#include "common/Errors.h"
#include "common/TextReader.h"

namespace oup {

const std::string& TLanguageTexts::Get(int index) const {
    if (!Has(index)) ThrowListIndex(index);
    return texts_[static_cast<size_t>(index)];
}

namespace {

// No caption needs more. Values that hold the later placeholders multiply
// one another (a text of 150 "<programname>" whose value holds 200
// "<company>" ...), so a text stops growing at this size.
constexpr size_t kMaxExpandedText = 65536;

// Replaces every occurrence of placeholder in text, left to right, never
// looking into a value it has just inserted. An occurrence that would carry
// the text past kMaxExpandedText stays as written, and so does the rest.
void ReplaceEach(std::string& text, const std::string& placeholder, const std::string& value) {
    size_t at = text.find(placeholder);
    if (at == std::string::npos) return;
    std::string out;
    size_t from = 0;
    for (; at != std::string::npos; at = text.find(placeholder, from)) {
        if (out.size() + (at - from) + value.size() > kMaxExpandedText) break;
        out.append(text, from, at - from);
        out += value;
        from = at + placeholder.size();
    }
    out.append(text, from, std::string::npos);
    text = std::move(out);
}

void SetCaption(TControl* control, const TLanguageTexts& texts, int index) {
    const std::string& text = texts[index];  // raises for a missing text even without a control
    if (control) control->SetCaption(text);
}

}  // namespace

std::string ExpandPlaceholders(const std::string& text, const TPlaceholderValues& values) {
    std::string result = text;
    ReplaceEach(result, "<programname>", values.ProgramName);
    ReplaceEach(result, "<company>", values.Company);
    ReplaceEach(result, "<version>", values.ProgramVersion);
    ReplaceEach(result, "<count>", std::to_string(values.Count));
    return Trim(result);
}

void ReadLanguageTexts(TStream& stream, TLanguageTexts& texts) {
    texts.Clear();
    TTextReader reader(stream);
    while (!reader.Eof()) texts.Add(reader.ReadLine());
}

std::string LoadLanguage(TPlatform& platform, const std::string& workDir, TLanguageTexts& texts,
                         const TLanguageControls& controls, const TExpandFunction& expand) {
    // The work directory is the system's shared temporary directory, so a
    // hidden or system file of that pattern is someone else's.
    std::string fileName;
    platform.FindFiles(workDir + kLanguageFilePattern, [&](const TSearchRec& rec) {
        if (rec.Attr & (faHidden | faSysFile | faDirectory)) return true;
        fileName = rec.Name;
        return false;
    });

    const std::string path = workDir + fileName;
    texts.Clear();
    ReadLanguageTexts(*platform.OpenFile(path, TOpenMode::ReadShared), texts);
    // The texts are in memory now; a file that cannot be deleted just stays.
    platform.DeleteFile(path);

    SetCaption(controls.NesteKnapp, texts, ltNext);
    SetCaption(controls.ForrigeKnapp, texts, ltPrevious);
    SetCaption(controls.Button2, texts, ltClose);
    SetCaption(controls.bane, texts, ltSearchPath);
    SetCaption(controls.StartKnapp, texts, ltStart);
    const std::string& instanceColumn = texts[ltInstanceColumn];
    if (controls.Liste) controls.Liste->SetColumnTitle(instanceColumn);
    const std::string title = expand(texts[ltHeaderTitle]);
    if (controls.OXPPanel1) controls.OXPPanel1->SetCaption(title);

    if (texts.Has(ltDriveColumn) && controls.driveliste)
        controls.driveliste->SetColumnTitle(texts[ltDriveColumn]);
    if (texts.Has(ltCancel) && controls.AvbrytKnapp)
        controls.AvbrytKnapp->SetCaption(texts[ltCancel]);
    return fileName;
}

std::string LoadLanguage(TPlatform& platform, const std::string& workDir, TLanguageTexts& texts,
                         const TLanguageControls& controls, const TPlaceholderValues& values) {
    return LoadLanguage(platform, workDir, texts, controls,
                        [&values](const std::string& text) { return ExpandPlaceholders(text, values); });
}

}  // namespace oup
