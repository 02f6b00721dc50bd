// The machine-readable report of a run (/REPORT=FILE): one JSON document
// saying what the run found, decided and did, for the tools that gather the
// results of a whole fleet. It is fed by the same events as the log (the
// update run's report callback, the errors the wizard shows, start-up's
// package and script), so the two always tell the same story. The format
// is described in docs/report.md.
#pragma once
#include <string>
#include <vector>

#include "platform/Platform.h"
#include "update/UpdateRun.h"
#include "update/UpdateScript.h"

namespace oup {

// Raised with every change a reader of the report must know about.
inline constexpr int kReportFormat = 1;

// What is known of the package's signature, as the report names it.
enum class TPackageSignature {
    Unknown,   // null: no package taken yet, or one that was refused
    Appended,  // "appended": appended to the updater itself, whose file carries any signature
    Unsigned,  // "unsigned": a package file without a signature file
    Signed,    // "signed": signed by the publisher of this signed program, every volume matching
    IntegrityOnly,  // "integrity-only": its signature holds and every volume matches, but this
                    // program is unsigned and has no publisher to compare the signer with
};
const char* SignatureName(TPackageSignature signature);  // null for Unknown

class TRunReport {
public:
    // The run starts now.
    explicit TRunReport(TPlatform& platform);

    void SetProgram(const std::string& name, const std::string& version,
                    const std::string& company);
    void SetPackage(const std::string& path, TPackageSignature signature);
    void SetPreview(bool preview) { preview_ = preview; }
    // The installations found, each ticked or not; replaces those set before
    // along with their decisions.
    void SetInstallations(const std::vector<TInstallation>& installations);
    // One report of the update run or its preview about the entry it names;
    // Visiting is no decision and is passed over.
    void AddDecision(const TUpdateReport& report, const TFileEntry& entry);
    // An error that ended the run, or the part of it it was in.
    void AddError(const std::string& text);
    // An installation that /ATOMIC left as it was (or, in a preview, would
    // leave), with the first reason, as its log line gives it.
    void SetLeftUnchanged(const std::string& installation, const std::string& reason);

    // The document, the run ending now with this exit status.
    std::string Json(int exitStatus);

private:
    struct TFileRecord {
        std::string Source, Target, Mode;
        const char* Decision;
        const char* Outcome;
        std::string Reason;  // empty for an installed file
    };
    struct TInstallationRecord {
        std::string Path;
        bool Ticked = true;
        std::vector<TFileRecord> Files;
        std::string LeftUnchanged;  // empty: updated as its files say
    };
    TInstallationRecord& Installation(const std::string& path);

    TPlatform& platform_;
    TDateTime started_;
    bool haveProgram_ = false;
    std::string programName_, programVersion_, company_;
    std::string packagePath_;
    TPackageSignature signature_ = TPackageSignature::Unknown;
    bool preview_ = false;
    std::vector<TInstallationRecord> installations_;
    std::vector<std::string> errors_;
};

// Writes the report file: the text goes into a temporary file beside it,
// which then replaces it in one step, so that a tool reading the report
// never sees half of one. Raises EInOutError naming the path when it cannot.
void WriteReportFile(TPlatform& platform, const std::string& path, const std::string& text);

}  // namespace oup
