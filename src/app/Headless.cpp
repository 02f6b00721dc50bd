// Unattended mode: the wizard's own steps, driven without a window.
#include "app/Headless.h"

#include "app/UpdateLog.h"

#include "common/Errors.h"
#include "package/PackageReader.h"

namespace oup {

THeadlessControls::THeadlessControls() {
    ApplyLayout(Wire());
    filelabel1.Label().SetBounds(184, 214, 333, 17);
    FileLabel2.Label().SetBounds(180, 225, 313, 17);
}

TWizardControls THeadlessControls::Wire() { return WireControls(*this); }

TMsgResult THeadlessServices::MessageBox(const std::string& text, const std::string&, TMsgKind kind,
                                         TMsgButtons buttons) {
    Messages.push_back(text);
    // An error also goes to standard error, where the starter gave us one:
    // without /LOG, or with a log that would not open, it is the only trace.
    if (kind == TMsgKind::Error && form_) form_->Platform.WriteStandardError(text + "\r\n");
    return buttons == TMsgButtons::OkCancel ? TMsgResult::Cancel : TMsgResult::Ok;
}

void THeadlessServices::Close() {
    if (form_) form_->FormClose();
}

int TUpdate::RunUnattended() {
    // Further volumes of a package are looked for beside the first (see
    // NeedVolume): nobody can insert a disk here.
    FormShow();
    // Start-up gave its reason: no usable package (2), or another update (1618).
    if (startupFailed_ || closed_) return startupFailed_ ? exitCode_ : ecNoPackage;

    bool updateRan = false;
    try {
        NesteKnappClick();  // page 2, the drive list (or the /DIR roots)
        for (int i = 0; i < Controls.driveliste->Count(); ++i)
            Controls.driveliste->SetItemChecked(i, true);
        StartKnappClick();
        if (Controls.Liste->Count() == 0) {
            Log("No installation found");
            exitCode_ = ecNoInstallation;
            return exitCode_;
        }
        updateRan = true;
        NesteKnappClick();  // page 4 runs the update and moves on to page 5
    } catch (const std::exception& e) {
        // What the general error display would show. Before the update it
        // means a package the wizard cannot use (a language file too short
        // for its pages). Once the update (or its preview) has run, it is a
        // failure even where the run had ended well (a completion text
        // missing after every file went in): a deployment tool must never
        // take an error for a success, and 2 would tell it nothing was done.
        ShowError(e.what());
        exitCode_ = updateRan ? ecFailures : ecNoPackage;
    }
    return exitCode_;
}

namespace {

// "Error: <text>" at the end of the log named on the command line, when it
// opens; the exit status and standard error tell the rest.
void AppendErrorToLog(TPlatform& platform, const std::string& logFile, const std::string& text) {
    if (logFile.empty()) return;
    try {
        TUpdateLog(platform, logFile).Line("Error: " + text);
    } catch (const std::exception&) {
    }
}

}  // namespace

void ReportUnattendedError(TPlatform& platform, const std::string& logFile,
                           const std::string& text) noexcept {
    try {
        AppendErrorToLog(platform, logFile, text);
        platform.WriteStandardError(text + "\r\n");
    } catch (...) {
        // Nowhere left to say it: the exit status tells.
    }
}

void RunWithoutWindowsWhereNobodySees(TPlatform& platform, TCommandLine& commandLine) {
    if (commandLine.Silent || !platform.RunsWithoutUser()) return;
    commandLine.Silent = true;
    commandLine.NoUser = true;
}

int RunUnattended(TPlatform& platform, const TCommandLine& commandLine) {
    if (!commandLine.UsageError.empty()) {
        // One line in the log, when the log itself was named right, and the
        // text on standard error for whoever started us from a console.
        AppendErrorToLog(platform, commandLine.LogFile, commandLine.UsageError);
        platform.WriteStandardError(commandLine.UsageError + "\r\n" + UsageLine() + "\r\n");
        WriteErrorReport(platform, commandLine.ReportFile, ecNoPackage, commandLine.UsageError);
        return ecNoPackage;
    }
    if (commandLine.ShowUsage) return ecSuccess;  // nobody to show it to

    THeadlessControls controls;
    THeadlessServices services;
    TUpdate form(platform, services, controls.Wire(), commandLine);
    services.Attach(&form);
    form.FormCreate();
    int code = ecNoPackage;
    try {
        code = form.RunUnattended();
    } catch (...) {
        // Past the wizard's own error display: the program's entry reports
        // it once the form (and its log file) is gone. The work directory
        // goes all the same.
        services.Close();
        throw;
    }
    // The window's closing cleans the work directory up; it runs once.
    services.Close();
    form.WriteReport(code);
    return code;
}

}  // namespace oup
