// The update run: every file entry of the script into every chosen
// installation, each under the rule of its mode. It takes installations and
// entries as values, decides each (installation, entry) pair once, and
// reports every decision and outcome through one callback, which the log,
// the window and the tests all use.
#pragma once
#include <functional>
#include <string>
#include <vector>

#include "common/DateTime.h"
#include "platform/Platform.h"
#include "update/UpdateScript.h"
#include "update/WritePlaces.h"

namespace oup {

struct TInstallation {
    std::string Dir;  // no trailing backslash; a drive root is "D:"
    bool Chosen = true;
};

// The directories the macros of a target directory stand for.
struct TUpdateDirs {
    std::string WorkDir;     // holds the package copies; ends with a backslash
    std::string WindowsDir;  // "<windir>", no trailing backslash
    std::string SystemDir;   // "<winsysdir>", no trailing backslash
};

// What is decided for one entry and one installation: install it, skip it
// as its mode says, or refuse it because the entry names what it may not
// (Fail: a failure of the run, decided before anything is read or written).
struct TDecision {
    TDecision(bool install = false, std::string reason = {})
        : Install(install), Reason(std::move(reason)) {}
    static TDecision Refusal(std::string reason, std::string target) {
        TDecision d(false, std::move(reason));
        d.Fail = true;
        d.Target = std::move(target);
        return d;
    }
    bool Install = false;
    std::string Reason;  // why not, when not
    bool Fail = false;
    std::string Target;  // what a refusal names: the instance file, or the bad name's place
};

enum class TReportKind {
    NotChosen,            // Target: the instance file; the installation was not chosen
    Visiting,             // Target: the instance file; a chosen pair is being worked on
    Installed,            // Target: the target file
    Skipped,              // Target: the instance or target file; Reason says why
    Failed,               // Target: the target file; the old file is intact; Reason: empty, or
                          // "in use" (InUseReason)
    Scheduled,            // Target: the target file, held by a program; its new copy waits
                          // beside it (StagedCopyName) and replaces it when Windows restarts;
                          // Reason: "in use" (InUseReason)
    Refused,              // Target: the instance file or the bad name in the installation;
                          // Reason says why; a failure, though nothing was touched
    SameAs,               // Installation: a chosen installation whose folder is one met
                          // before (Target), by another path: it is updated once, there
    PutBack,              // Target: a file an interrupted run had replaced, put back from
                          // the copy of its old version it kept (KeptOldName)
    KeptRemoved,          // Target: the kept old version (KeptOldName) of a file that an
                          // interrupted run had replaced in an installation it completed
    LeftUnchanged,        // all or nothing: Installation was left as it was; Reason
                          // names the first file that stopped it and why
    WouldLeaveUnchanged,  // the same, as Preview says it
    // What Preview says of a pair, with the Target and Reason the run would
    // report for it; nothing is touched.
    WouldInstall,  // Target: the target file
    WouldSkip,     // Target: the instance or target file; Reason says why
    WouldFail,     // Target: as Failed; Reason says why
    WouldRefuse,   // Target and Reason: as Refused
};

struct TUpdateReport {
    TReportKind Kind;
    std::string Target;
    std::string Reason;
    std::string Installation;
    size_t Entry = 0;  // index into the run's entries
};

inline constexpr const char* kAlreadyInstalledText =
    "already installed into the Windows or system directory";

// Replaces the first occurrence of macro in text (case-sensitive) with value
// and trims the result; text without the macro is returned as it is.
std::string ReplaceMacro(const std::string& text, const std::string& macro,
                         const std::string& value);
// A target directory with its macros expanded in their order ("<installdir>",
// "<windir>", "<winsysdir>"), still with any trailing backslash.
std::string ExpandTargetDir(const std::string& targetDir, const std::string& installationDir,
                            const TUpdateDirs& dirs);
// Whether an entry goes into a directory shared by all installations.
bool NamesSystemDirectory(const std::string& targetDir);
inline constexpr const char* kInUseText = "in use";
// "in use", and the programs that hold the file where the system names them:
// "in use by Ledger 3 (ledger.exe, process 1234)", then detail when there is
// more to say. Every "in use" reason is worded here.
std::string InUseReason(const std::vector<TFileHolder>& holders,
                        const std::string& detail = std::string());
// Where the new copy of a file in use waits for the restart: beside it,
// under one name per target, so a later run replaces it rather than adding one.
std::string StagedCopyName(const std::string& targetFile);
// Where all or nothing keeps the old version of a file while the new one
// takes its name: beside it, until the installation is complete.
std::string KeptOldName(const std::string& name);

class TUpdateRun {
public:
    TUpdateRun(TPlatform& platform, std::vector<TFileEntry> entries, TUpdateDirs dirs);
    TUpdateRun(const TUpdateRun&) = delete;
    TUpdateRun& operator=(const TUpdateRun&) = delete;

    std::function<void(const TUpdateReport&)> OnReport;
    // A file that a program holds is staged and replaced at the next
    // restart; false: it fails like any file that cannot be replaced.
    bool RestartReplace = true;
    // All or nothing per installation: an installation of which one file
    // cannot be installed is left exactly as it was (LeftUnchanged).
    bool Atomic = false;

    // Decides every pair of the chosen installations and counts the files
    // due (an entry for the Windows or system directory once).
    void Plan(const std::vector<TInstallation>& installations);
    // Works through the plan in order: installations as given, entries in
    // script order.
    void Execute();
    void Run(const std::vector<TInstallation>& installations) {
        Plan(installations);
        Execute();
    }
    // Says what Execute would do with the plan, pair by pair, as if every
    // install succeeded (so an entry for the Windows or system directory
    // goes in at the first installation only), and changes nothing: no
    // directory, copy, date or staged file. A pair whose package copy is
    // missing would fail. Afterwards InstalledCount and FailedCount count
    // the pairs that would be installed and that would fail.
    void Preview();

    // The decision for one pair: first whether the entry's names and its
    // target directory are allowed at all (EntryRules.h), then its mode.
    TDecision Decide(const std::string& installationDir, const TFileEntry& entry);
    // Installs one entry into one installation, under the once-only rule for
    // the Windows and system directories; reports the outcome.
    void InstallEntry(const std::string& installationDir, size_t entryIndex);
    // Gives a file the entry's date; years outside 1980..2107 leave it.
    void StampFileDate(const std::string& path, TDateTime dateTime);

    const std::vector<TFileEntry>& Entries() const { return entries_; }
    int Due() const { return due_; }
    int InstalledCount() const { return installed_; }
    int FailedCount() const { return failed_; }
    int ScheduledCount() const { return scheduled_; }  // files waiting for a restart
    int Chosen() const { return chosen_; }

private:
    struct TPair {
        size_t Installation;
        size_t Entry;
        TDecision Decision;
    };
    // The refusal of a pair whose entry breaks the rules; Fail is false when
    // the entry keeps them.
    TDecision CheckRules(const std::string& installationDir, const TFileEntry& entry) const;
    std::string TargetFile(const std::string& installationDir, const TFileEntry& entry) const;
    struct TPrepared;
    void PreviewPair(const TPair& pair, std::vector<bool>& installed, std::string& firstFailure);
    // Why a target cannot be replaced in one step now (read-only, in use);
    // empty when it can, or is not there.
    std::string Obstacle(const std::string& target);
    // All or nothing for the pairs of one installation (AtomicInstall.cpp).
    void InstallAtomically(size_t first, size_t count);
    bool Prepare(TPrepared& file, std::string& reason);
    bool Swap(TPrepared& file, std::string& reason);
    void Undo(std::vector<TPrepared>& files, size_t swapped);
    // Puts back what an interrupted run of all or nothing had replaced in an
    // installation (or, where that run had completed it, only removes the
    // old versions it kept); true when anything was put back.
    bool PutBack(const std::string& installationDir);
    // The installation folder, held open; null when it cannot be reached.
    TDirectory* InstallationFolder(const std::string& installationDir);
    // Reports an installation that is one met before, at its first pair;
    // true for each pair of such an installation.
    bool ReportedSameAs(const TPair& pair);
    void Refuse(const TDecision& refusal, const std::string& installationDir, size_t entryIndex);
    enum class TSwap { Replaced, Scheduled, Failed, InUse };
    TSwap CopyIntoPlace(const std::string& source, TWritePlaces::TPlace& place,
                        const std::string& name, TDateTime date, std::string& reason);
    TSwap StageForRestart(THeldFile& temp, TWritePlaces::TPlace& place, const std::string& name,
                          std::string& reason);
    bool HeldByAProgram(TOsResult swap, const std::string& target);
    bool RenamedAtRestart(const std::string& target);
    std::string PathAtRestart(const std::string& path);
    void Report(TReportKind kind, const std::string& target, const std::string& reason,
                const std::string& installation, size_t entry);

    TPlatform& platform_;
    std::vector<TFileEntry> entries_;
    TUpdateDirs dirs_;
    std::vector<TInstallation> installations_;
    std::vector<TPair> plan_;
    TWritePlaces places_;
    // Per installation: the chosen installation met before whose folder it
    // is (empty: none).
    std::vector<std::string> sameAs_;
    int due_ = 0, installed_ = 0, failed_ = 0, chosen_ = 0, scheduled_ = 0;
};

}  // namespace oup
