// TUpdate: the wizard. This is its portable logic: the page choreography,
// start-up, closing, and the wiring of the search (search/), the update run
// (update/) and the restore engine (package/) to the controls, written
// against the control seam (controls/Controls.h) and the form services below.
// The Win32 form (src/app/win32) creates the real windows and forwards its
// events here; unattended mode and the unit tests drive the same logic on
// in-memory controls.
#pragma once
#include <cstdint>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "app/CommandLine.h"
#include "app/Language.h"
#include "common/UserInterface.h"
#include "controls/Controls.h"
#include "controls/FileLbl.h"
#include "package/backup.h"
#include "platform/Platform.h"
#include "update/UpdateRun.h"
#include "update/UpdateScript.h"

namespace oup {

class TRunningImage;
class TUpdateLog;
class TRunReport;

// The wizard form's controls, by their names on the form.
struct TWizardControls {
    TControl* NesteKnapp = nullptr;    // Next
    TControl* Button2 = nullptr;       // Close
    TControl* ForrigeKnapp = nullptr;  // Previous
    TAnimate* Animate1 = nullptr;
    TMemo* Memo1 = nullptr;
    TControl* Label12 = nullptr;  // warning of page 5
    TControl* StartKnapp = nullptr;
    TListView* Liste = nullptr;  // instances
    TControl* bane = nullptr;    // "Katalog:"
    TFileLabelControl* filelabel1 = nullptr;
    TFileLabelControl* FileLabel2 = nullptr;
    TListView* driveliste = nullptr;
    TControl* AvbrytKnapp = nullptr;  // Cancel
    TControl* Label1 = nullptr;       // content label
    TControl* OXPPanel1 = nullptr;    // header title
    TControl* advpanel2 = nullptr;    // instructions
    TProgressControl* Progress = nullptr;  // update run progress
};

// Points a TWizardControls at the members of the same names in a set of
// controls (the in-memory set of unattended mode, the fakes of the tests).
template <class TControlSet>
TWizardControls WireControls(TControlSet& s) {
    TWizardControls c;
    c.NesteKnapp = &s.NesteKnapp;
    c.Button2 = &s.Button2;
    c.ForrigeKnapp = &s.ForrigeKnapp;
    c.Animate1 = &s.Animate1;
    c.Memo1 = &s.Memo1;
    c.Label12 = &s.Label12;
    c.StartKnapp = &s.StartKnapp;
    c.Liste = &s.Liste;
    c.bane = &s.bane;
    c.filelabel1 = &s.filelabel1;
    c.FileLabel2 = &s.FileLabel2;
    c.driveliste = &s.driveliste;
    c.AvbrytKnapp = &s.AvbrytKnapp;
    c.Label1 = &s.Label1;
    c.OXPPanel1 = &s.OXPPanel1;
    c.advpanel2 = &s.advpanel2;
    c.Progress = &s.Progress;
    return c;
}

// Puts a set of controls into the form layout's initial state: what is
// hidden or disabled, the layout's captions and the buttons' places.
void ApplyLayout(const TWizardControls& c);

enum class TCursorKind { crDefault, crHourGlass };

// What the wizard asks of the window around it, beyond message boxes and the
// message pump of TUserInterface.
class TFormServices : public TUserInterface {
public:
    // The open dialog for a package; false when the user cancels.
    virtual bool ExecuteOpenDialog(const std::string& initialDir, std::string& fileName) = 0;
    virtual void SetCursor(TCursorKind cursor) = 0;
    // Lets only paint messages through (the update run keeps the window drawn
    // while it holds all other input back).
    virtual void ProcessPaintMessages() = 0;
    // Closes the window; the form then calls TUpdate::FormClose.
    virtual void Close() = 0;

    // The small window over a long start-up restore (app/RestoreProgress.h):
    // the package's file name, a progress bar and Cancel. Services without
    // windows show nothing, and nothing there can cancel.
    virtual void ShowRestoreWindow(const std::string& /*packageFileName*/) {}
    virtual void SetRestorePercent(int /*percent*/) {}
    // Whether the user asked the restore to stop: Cancel, Esc, or a close
    // of the window.
    virtual bool RestoreCancelRequested() { return false; }
    // The restore is over. The window may stay until the wizard is on
    // screen, so that Windows keeps the wizard in front.
    virtual void EndRestoreWindow() {}
    // Milliseconds on a clock that never goes back, for delays.
    virtual int64_t TickCount();
};

// The program's exit status.
enum TExitCode : int {
    ecSuccess = 0,         // every file that was due was installed
    ecFailures = 1,        // the run completed with failure lines
    ecNoPackage = 2,       // no package, unreadable package, start-up failed, or a usage error
    ecNoInstallation = 3,  // unattended, and no installation found
    ecClosedEarly = 4,     // the wizard was closed before the update ran
    // Another update runs on this machine: Windows Installer's status for
    // "another installation is in progress", which deployment tools retry.
    ecAnotherRun = 1618,
    // Nothing failed, and a file in use waits for Windows to restart: the
    // status installers give for "success, restart required".
    ecRestartRequired = 3010,
};

inline constexpr const char* kApplicationTitle = "Ostrel Update";
inline constexpr const char* kFormCaption = "Ostrel Update 2002";
inline constexpr const char* kFailureLinePrefix = "Could not update the file ";
// Page 5 after /PREVIEW, where the language file's texts would say that
// the update was done (it has none for a preview): the header title gets
// the suffix, the instructions and the content label these texts.
inline constexpr const char* kPreviewHeaderSuffix = " - preview, nothing was changed";
inline constexpr const char* kPreviewInstructionsText =
    "The list shows what the update would do. Nothing was changed. Press Close to end the program.";
inline constexpr const char* kPreviewFinishedText = "The preview is finished. Nothing was changed.";
inline constexpr const char* kAnotherRunText =
    "Another update is running on this computer. Try again when it has finished.";

class TUpdate {
public:
    TUpdate(TPlatform& platform, TFormServices& services, const TWizardControls& controls,
            TCommandLine commandLine);
    ~TUpdate();
    TUpdate(const TUpdate&) = delete;
    TUpdate& operator=(const TUpdate&) = delete;

    // --- events of the form ---
    void FormCreate();
    void FormShow();  // the start-up sequence
    void FormClose();
    void NesteKnappClick();
    void ForrigeKnappClick();
    void StartKnappClick();  // the instance search
    void AvbrytKnappClick();
    void Button2Click();
    // The window is asked to close (Close button, Esc, close box). Returns
    // whether it may close now; during a search the close acts as Cancel and
    // happens when the search has stopped, during start-up and the update
    // run it waits for their end.
    bool CloseQuery();

    void ShowPage();

    // --- start-up pieces ---
    void FillDriveList();
    void LoadLanguage();
    std::string ExpandPlaceholders(const std::string& text) const;
    const std::string& Text(int index) const { return LanguageTexts.Get(index); }

    // --- the update run of page 4 ---
    void RunUpdate();

    // --- unattended mode ---
    // Runs the whole job without a window: start-up, search, update. Returns
    // the exit status.
    int RunUnattended();

    // The exit status of this run so far.
    int ExitCode() const { return exitCode_; }
    bool Searching() const { return busy_ == TBusyKind::Searching; }
    bool Updating() const { return busy_ == TBusyKind::Updating; }
    bool StartupFailed() const { return startupFailed_; }

    // Writes the run's report where /REPORT names it, ending with this exit
    // status; without /REPORT nothing. A report that cannot be written is
    // a line in the log and on standard error; it never raises.
    void WriteReport(int exitStatus) noexcept;

    // --- the form's members ---
    TPlatform& Platform;
    TFormServices& Services;
    TWizardControls Controls;
    TCommandLine CommandLine;
    TBackupFile BackupFile1;

    TUpdateScript Script;  // ProgramName ... FileEntries
    std::string WorkDir;   // ends with a backslash
    std::string WindowsDir, SystemDir;  // no trailing backslash
    TLanguageTexts LanguageTexts;
    std::string LanguageFileName;
    int Page = 1;
    bool CancelRequested = false;

private:
    enum class TBusyKind { None, Starting, Searching, Updating };
    // Held while start-up, a search or the update run is in progress: Start,
    // Update and Next do nothing meanwhile (a click let through by the
    // search's message pump must not start a second search inside the
    // first), and a close asked for meanwhile happens when it is released.
    class TBusy {
    public:
        TBusy(TUpdate& form, TBusyKind kind);
        ~TBusy();
        TBusy(const TBusy&) = delete;
        TBusy& operator=(const TBusy&) = delete;

    private:
        TUpdate& form_;
    };

    void StartupSequence();
    bool FindAndRestorePackage();
    // One update at a time on a machine; false when another holds the lock.
    bool TakeRunLock();
    void ShowError(const std::string& message);
    void Log(const std::string& line);
    void OnUpdateReport(const TUpdateRun& run, const TUpdateReport& report);
    void PreviewLine(const std::string& line);
    // Page 5, with the completion notice in the content label.
    void ShowResultPage(const std::string& finished);

    // --- an elevated run's start-up (Startup.cpp) ---
    // The restore asks for the package's next volume: unattended, it is
    // taken when it lies beside the first; in the wizard the user is asked.
    // Either way a volume asked for again after it was taken stops the
    // restore (switches that lead round in a circle would never end).
    void NeedVolume(uint16_t diskId, bool& goOn);
    // Whether the work directory's drive has room for a package whose
    // header says it holds totalSize bytes; sets roomError_ when not.
    bool EnoughRoom(int32_t totalSize);
    std::unique_ptr<TRunningImage> image_;  // the program's own file, opened once
    std::set<uint16_t> volumesTaken_;       // volumes taken in this restore
    std::string roomError_;                 // why the package did not fit

    std::unique_ptr<TUpdateLog> log_;
    std::unique_ptr<TRunReport> report_;
    std::unique_ptr<TRunLock> runLock_;  // held from start-up until the wizard closes
    std::string packageName_;       // for messages: the package file or the executable
    std::string restoreError_;      // the restore engine's own error text, if any
    TBusyKind busy_ = TBusyKind::None;
    bool closePending_ = false;
    bool closed_ = false;
    bool ownsWorkDir_ = false;  // WorkDir was created for this run
    bool startupFailed_ = false;
    // Page 5's memo lists a preview in which nothing would fail: no warning.
    bool memoWithoutFailures_ = false;
    int exitCode_ = ecClosedEarly;
};

// The whole job without a window (/S): start-up, search of every drive-list
// item (or the /DIR roots), update of every installation found, on in-memory
// controls and with every message box answered silently. Returns the exit
// status. An error raised out of it is for the caller to report with
// ReportUnattendedError, never with a message box: nobody would see one.
int RunUnattended(TPlatform& platform, const TCommandLine& commandLine);

// "Error: <text>" appended to the log named by /LOG (opened again for it,
// when it opens) and the text on standard error. Never raises.
void ReportUnattendedError(TPlatform& platform, const std::string& logFile,
                           const std::string& text) noexcept;

// The report of a run that ended before the wizard could begin (a bad
// command line, a window that could not be made): the error and the status.
// Does nothing without a report file; never raises.
void WriteErrorReport(TPlatform& platform, const std::string& reportFile, int exitStatus,
                      const std::string& text) noexcept;

}  // namespace oup
