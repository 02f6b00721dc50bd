// Fuzzes the text readers on the fake machine: the input is the update
// script, the notes file and the language file at once, and every language
// text is expanded with the placeholder values the script's header gave.
// The script's entries are put to the update run's rules as well.
//
// Every read must end with its texts or one of the program's own errors, and
// leave no file open; an expanded text must come back trimmed and of a size
// a caption can have. Anything else aborts as a finding.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "app/Language.h"
#include "common/Errors.h"
#include "support/FakeMachine.h"
#include "update/EntryRules.h"
#include "update/UpdateRun.h"
#include "update/UpdateScript.h"

namespace {

using namespace oup;

[[noreturn]] void Finding(const char* what) {
    std::fprintf(stderr, "finding: %s\n", what);
    std::abort();
}

// No text the wizard shows needs more; a larger one means runaway expansion.
constexpr size_t kMaxExpanded = 1u << 20;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    test::TFakeMachine m;
    m.AddDrive('C');
    const std::string work = "C:\\W\\";
    m.AddFile(work + kScriptFileName, text);
    m.AddFile(work + kNotesFileName, text);
    m.AddFile(work + "fuzz.ln_", text);

    TUpdateScript script;
    try {
        ReadUpdateScript(m, work + kScriptFileName, script);
    } catch (const Exception&) {
        // An invalid date: the header read before it stays.
    }
    const TUpdateDirs dirs{work, "C:\\WINDOWS", "C:\\WINDOWS\\SYSTEM32"};
    for (const TFileEntry& entry : script.FileEntries) {
        IsPlainFileName(entry.SourceName);
        IsPlainFileName(entry.TargetName);
        IsAbsoluteTargetDir(ExpandTargetDir(entry.TargetDir, "D:\\Apps", dirs));
    }

    std::string notes;
    try {
        LoadNotes(m, work + kNotesFileName, notes);
    } catch (const Exception&) {
        Finding("notes that exist could not be loaded");
    }

    TPlaceholderValues values;
    values.ProgramName = script.ProgramName;
    values.Company = script.Company;
    values.ProgramVersion = script.ProgramVersion;
    values.Count = static_cast<long>(script.FileEntries.size());
    TLanguageTexts texts;
    try {
        LoadLanguage(m, work, texts, TLanguageControls{}, values);
    } catch (const EListError&) {
        // Too few texts; the ones read are still there.
    } catch (const Exception& e) {
        std::fprintf(stderr, "%s\n", e.what());
        Finding("the language file could not be read");
    }
    for (const std::string& t : texts.Texts()) {
        const std::string expanded = ExpandPlaceholders(t, values);
        if (expanded.size() > kMaxExpanded) Finding("runaway expansion");
        if (!expanded.empty() && (static_cast<unsigned char>(expanded.front()) <= ' ' ||
                                  static_cast<unsigned char>(expanded.back()) <= ' '))
            Finding("expanded text not trimmed");
    }
    if (m.OpenCount() != 0) Finding("a file left open");
    return 0;
}
