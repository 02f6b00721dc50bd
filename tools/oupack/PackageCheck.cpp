#include "PackageCheck.h"

#include <algorithm>
#include <map>
#include <set>

#include "app/Language.h"
#include "common/Paths.h"
#include "common/Stream.h"
#include "common/Text.h"
#include "update/EntryRules.h"
#include "update/UpdateRun.h"

namespace oup {

namespace {

// What the macros become on a user's machine. Only the form of the result
// is checked, so any absolute directories serve.
constexpr const char* kStandInInstallDir = "C:\\Program Files\\Program";
const TUpdateDirs kStandInDirs{std::string(), "C:\\WINDOWS", "C:\\WINDOWS\\system32"};

constexpr const char* kModes[] = {kModeUpdateIfPresent, kModeUpdateIfOlder, kModeAlwaysUpdate,
                                  kModeAlwaysCopy};

std::string Quote(const std::string& s) { return "\"" + s + "\""; }

bool SameAscii(const std::string& a, const std::string& b) {
    return AsciiUpperCase(a) == AsciiUpperCase(b);
}

bool IsLanguageFile(const std::string& name) { return MatchesMask(name, kLanguageFilePattern); }

// Files the updater reads or deletes by their fixed names: no script entry
// has to use them, and none is left behind.
bool IsSteeringFile(const std::string& name) {
    for (const char* fixed : {kScriptFileName, kNotesFileName, kSecFileName, kSetFileName})
        if (SameAscii(name, fixed)) return true;
    return IsLanguageFile(name);
}

bool HasMacro(const std::string& dir) {
    for (const char* macro : {kMacroInstallDir, kMacroWinDir, kMacroWinSysDir})
        if (dir.find(macro) != std::string::npos) return true;
    return false;
}

std::string ModeAdvice(const std::string& mode) {
    for (const char* m : kModes)
        if (SameAscii(Trim(mode), m)) return " (did you mean " + Quote(m) + "?)";
    return std::string();
}

TMemoryStream StreamOf(const std::string& content) {
    return TMemoryStream(std::vector<uint8_t>(content.begin(), content.end()));
}

class TChecker {
public:
    TChecker(TPlatform& platform, TCheckResult& result) : platform_(platform), result_(result) {}

    void Run(const std::vector<TCheckFile>& files) {
        const std::vector<const TCheckFile*> workDir = WorkDirFiles(files);
        const TCheckFile *script = nullptr, *notes = nullptr;
        std::vector<const TCheckFile*> languages;
        for (const TCheckFile* f : workDir) {
            names_.insert(Upper(f->Name));
            if (SameAscii(f->Name, kScriptFileName)) script = f;
            if (SameAscii(f->Name, kNotesFileName)) notes = f;
            if (IsLanguageFile(f->Name)) languages.push_back(f);
        }
        if (script) {
            CheckScript(*script);
        } else {
            Add(TSeverity::Error, "", 0,
                std::string("no update script ") + kScriptFileName +
                    " in the package: the updater stops at its fifth line (\"'' is not a valid "
                    "date and time\")");
        }
        CheckLanguageFiles(languages);
        // The memo's reading of the notes, and start-up's test for blank ones.
        if (notes) result_.HaveNotes = !Trim(AdjustLineBreaks(notes->Content)).empty();
        for (TFinding& f : duplicates_) result_.Findings.push_back(std::move(f));
        if (script) CheckUnused(workDir);
    }

private:
    std::string Upper(const std::string& name) { return platform_.AnsiUpperCase(name); }

    void Add(TSeverity severity, const std::string& file, int line, std::string message) {
        result_.Findings.push_back({severity, file, line, std::move(message)});
    }

    // The files as the work directory holds them: of names that Windows
    // takes for one, the later restores over the earlier.
    std::vector<const TCheckFile*> WorkDirFiles(const std::vector<TCheckFile>& files) {
        std::map<std::string, size_t> last;
        for (size_t i = 0; i < files.size(); ++i) {
            const auto [at, added] = last.emplace(Upper(files[i].Name), i);
            if (added) continue;
            duplicates_.push_back({TSeverity::Warning, "", 0,
                                   "package entries " + Quote(files[at->second].Name) + " and " +
                                       Quote(files[i].Name) +
                                       " are one file on Windows: the later replaces the earlier"});
            at->second = i;
        }
        std::vector<const TCheckFile*> out;
        for (size_t i = 0; i < files.size(); ++i)
            if (last[Upper(files[i].Name)] == i) out.push_back(&files[i]);
        return out;
    }

    void CheckScript(const TCheckFile& file) {
        result_.HaveScript = true;
        const size_t first = result_.Findings.size();
        TMemoryStream s = StreamOf(file.Content);
        TUpdateScript& script = result_.Script;
        ReadUpdateScript(s, script, [&](int line, const std::string& message) {
            Add(TSeverity::Error, kScriptFileName, line, message);
        });

        const std::string& program = script.ProgramFile;
        if (program.empty())
            Add(TSeverity::Error, kScriptFileName, 4,
                "the program file is empty: the search finds no installation");
        else if (program.find_first_of("\\/:") != std::string::npos)
            Add(TSeverity::Error, kScriptFileName, 4,
                "program file " + Quote(program) +
                    " holds a path: this line names the program's file alone");

        std::map<std::string, int> targets;  // upper-cased target file -> its name's line
        for (const TFileEntry& e : script.FileEntries) {
            const int line = e.Line;
            if (!IsPlainFileName(e.SourceName))
                Add(TSeverity::Error, kScriptFileName, line,
                    Quote(e.SourceName) + " is not a plain file name: the updater skips the entry");
            else if (!names_.count(Upper(e.SourceName)))
                Add(TSeverity::Error, kScriptFileName, line,
                    Quote(e.SourceName) + " is not in the package");
            else if (IsLanguageFile(e.SourceName))
                Add(TSeverity::Error, kScriptFileName, line,
                    Quote(e.SourceName) +
                        " is the language file, which the updater removes once it has read "
                        "its texts: the entry fails on every machine");
            used_.insert(Upper(e.SourceName));
            const bool plainTarget = IsPlainFileName(e.TargetName);
            if (!plainTarget)
                Add(TSeverity::Error, kScriptFileName, line + 1,
                    Quote(e.TargetName) + " is not a plain file name: the updater skips the entry");
            if (std::find(std::begin(kModes), std::end(kModes), e.Mode) == std::end(kModes))
                Add(TSeverity::Warning, kScriptFileName, line + 2,
                    "mode " + Quote(e.Mode) +
                        " is not one of the four mode texts: the updater installs nothing for "
                        "the entry" +
                        ModeAdvice(e.Mode));

            const std::string dir = ExpandTargetDir(e.TargetDir, kStandInInstallDir, kStandInDirs);
            if (!IsAbsoluteTargetDir(dir)) {
                Add(TSeverity::Error, kScriptFileName, line + 4,
                    "target directory " + Quote(e.TargetDir) +
                        " is not an absolute path: it must start with <installdir>, <windir>, "
                        "<winsysdir>, a drive or \\\\server\\share");
                continue;
            }
            if (!HasMacro(e.TargetDir))
                Add(TSeverity::Warning, kScriptFileName, line + 4,
                    "target directory " + Quote(e.TargetDir) +
                        " holds no macro: every installation found installs into this one place");
            if (!plainTarget) continue;
            const std::string shown = ExcludeTrailingBackslash(e.TargetDir) + "\\" + e.TargetName;
            const auto [at, added] = targets.emplace(
                Upper(ExcludeTrailingBackslash(dir) + "\\" + e.TargetName), line + 1);
            if (!added)
                Add(TSeverity::Warning, kScriptFileName, line + 1,
                    "target " + Quote(shown) +
                        " is on Windows the same file as the target of line " +
                        std::to_string(at->second));
        }
        std::stable_sort(result_.Findings.begin() + static_cast<std::ptrdiff_t>(first),
                         result_.Findings.end(),
                         [](const TFinding& a, const TFinding& b) { return a.Line < b.Line; });
    }

    void CheckLanguageFiles(const std::vector<const TCheckFile*>& languages) {
        if (languages.empty()) {
            Add(TSeverity::Error, "", 0,
                "no language file (*.ln_) in the package: the updater cannot start");
            return;
        }
        if (languages.size() > 1) {
            std::string list;
            for (const TCheckFile* f : languages) list += (list.empty() ? "" : ", ") + f->Name;
            Add(TSeverity::Error, "", 0,
                std::to_string(languages.size()) + " language files (" + list +
                    "): the updater reads whichever the directory search returns first");
        }
        result_.LanguageFile = languages.front()->Name;
        for (const TCheckFile* f : languages) {
            TLanguageTexts texts;
            TMemoryStream s = StreamOf(f->Content);
            ReadLanguageTexts(s, texts);
            if (f == languages.front()) result_.LanguageTexts = texts.Count();
            if (texts.Count() < kLanguageTextCount)
                Add(TSeverity::Error, f->Name, 0,
                    "has " + std::to_string(texts.Count()) +
                        " texts (lines); the wizard needs texts 0 to 21 and 24 to 26, so " +
                        std::to_string(kLanguageTextCount) +
                        " lines (texts 22 and 23 may be empty lines)");
        }
    }

    void CheckUnused(const std::vector<const TCheckFile*>& workDir) {
        for (const TCheckFile* f : workDir)
            if (!IsSteeringFile(f->Name) && !used_.count(Upper(f->Name)))
                Add(TSeverity::Warning, "", 0,
                    "package entry " + Quote(f->Name) +
                        " is used by no script entry: the updater unpacks it and leaves it in "
                        "the temporary directory");
    }

    TPlatform& platform_;
    TCheckResult& result_;
    std::set<std::string> names_;  // upper-cased names in the work directory
    std::set<std::string> used_;   // upper-cased source names of the script
    std::vector<TFinding> duplicates_;
};

}  // namespace

bool CheckReadsContent(const std::string& name) {
    return SameAscii(name, kScriptFileName) || SameAscii(name, kNotesFileName) ||
           IsLanguageFile(name);
}

TCheckResult CheckPackageFiles(TPlatform& platform, const std::vector<TCheckFile>& files) {
    TCheckResult result;
    TChecker(platform, result).Run(files);
    return result;
}

std::string FormatFinding(const TFinding& finding, const std::string& packageName) {
    std::string where = finding.File.empty() ? packageName : finding.File;
    // Appended piece by piece: GCC 12 misreads ":" + to_string(...) as an
    // overlapping copy.
    if (finding.Line > 0) {
        where += ':';
        where += std::to_string(finding.Line);
    }
    return where + (finding.Severity == TSeverity::Error ? ": error: " : ": warning: ") +
           finding.Message;
}

}  // namespace oup
