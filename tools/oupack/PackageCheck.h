// The package tool's check: the mistakes in a package that the updater would
// meet only on the users' machines (a misspelt mode, a missing payload file,
// a short language file, a relative target directory), found before the
// package leaves the author, with the updater's own readers and rules.
#pragma once
#include <string>
#include <vector>

#include "update/UpdateScript.h"

namespace oup {

// One file of a package, as the updater's work directory holds it after the
// restore.
struct TCheckFile {
    std::string Name;     // the name the restore gives it (RestoredName)
    std::string Content;  // read only for the files CheckReadsContent names
};

// Whether the check reads a file's content: the script, the notes and a
// language file. Letter case does not count, as on Windows.
bool CheckReadsContent(const std::string& name);

enum class TSeverity { Warning, Error };

struct TFinding {
    TSeverity Severity = TSeverity::Error;
    std::string File;  // the script or the language file it is about; empty: the package
    int Line = 0;      // in File (1-based); 0 when no line applies
    std::string Message;
};

struct TCheckResult {
    std::vector<TFinding> Findings;  // script findings by line, then the rest
    bool HaveScript = false;
    TUpdateScript Script;      // as the updater reads it (bad dates as 0)
    std::string LanguageFile;  // the first, when there is any
    int LanguageTexts = 0;     // its texts
    bool HaveNotes = false;    // notes that page 1 shows (not blank)
};

// Checks the files of a package, in package order (a later file of a name
// replaces an earlier one, as in the work directory). Names compare with the
// platform's upper-casing.
TCheckResult CheckPackageFiles(TPlatform& platform, const std::vector<TCheckFile>& files);

// A finding as one line: "oupdate.inf:12: error: ..." or, for the package
// itself, "<packageName>: warning: ...".
std::string FormatFinding(const TFinding& finding, const std::string& packageName);

}  // namespace oup
