// The wizard's pages, buttons and closing.
#include "app/Update.h"

#include <chrono>

#include "app/RunReport.h"
#include "app/UpdateLog.h"
#include "common/Errors.h"
#include "controls/FileLbl.h"
#include "package/RunningImage.h"
#include "update/EntryRules.h"

namespace oup {

int64_t TFormServices::TickCount() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

TUpdate::TUpdate(TPlatform& platform, TFormServices& services, const TWizardControls& controls,
                 TCommandLine commandLine)
    : Platform(platform),
      Services(services),
      Controls(controls),
      CommandLine(std::move(commandLine)),
      BackupFile1(platform, services),
      report_(std::make_unique<TRunReport>(platform)) {
    ApplyFormSettings(BackupFile1);
    report_->SetPreview(CommandLine.Preview);
}

TUpdate::~TUpdate() = default;

void ApplyLayout(const TWizardControls& c) {
    c.Label12->SetVisible(false);
    c.bane->SetVisible(false);
    c.FileLabel2->SetVisible(false);
    c.StartKnapp->SetVisible(true);
    c.driveliste->SetVisible(false);
    c.Memo1->SetVisible(false);
    c.Liste->SetVisible(false);
    c.AvbrytKnapp->SetVisible(false);
    c.ForrigeKnapp->SetEnabled(false);
    c.Animate1->SetVisible(false);
    c.Animate1->SetClip(TCommonAVI::aviFindComputer);
    if (c.Progress) c.Progress->SetVisible(false);
    c.Label1->SetCaption("Label1");
    c.NesteKnapp->SetCaption("&Neste >>");
    c.StartKnapp->SetCaption("Start");
    c.Button2->SetCaption("&Lukk");
    c.Button2->SetLeft(179);
    c.StartKnapp->SetLeft(443);
    c.AvbrytKnapp->SetCaption("&Avbryt");
    c.ForrigeKnapp->SetCaption("<< Forrige");
    c.bane->SetCaption("Katalog:");
    c.OXPPanel1->SetCaption("Oppdatering");
    c.advpanel2->SetCaption("Instruksjoner");
    c.driveliste->SetColumnTitle("Stasjon");
    c.Liste->SetColumnTitle("Bane");
}

void TUpdate::FormCreate() {
    LanguageTexts.Clear();
    Page = 1;
}

std::string TUpdate::ExpandPlaceholders(const std::string& text) const {
    TPlaceholderValues values;
    values.ProgramName = Script.ProgramName;
    values.Company = Script.Company;
    values.ProgramVersion = Script.ProgramVersion;
    values.Count = Controls.Liste ? Controls.Liste->Count() : 0;
    return oup::ExpandPlaceholders(text, values);
}

void TUpdate::ShowPage() {
    TWizardControls& c = Controls;
    if (Page == 0) Page = 1;
    switch (Page) {
        case 1:
            c.advpanel2->SetCaption(ExpandPlaceholders(Text(ltPage1)));
            c.StartKnapp->SetVisible(false);
            c.driveliste->SetVisible(false);
            c.Memo1->SetVisible(!Trim(c.Memo1->Caption()).empty());
            c.ForrigeKnapp->SetEnabled(false);
            // A cancelled search that still waits for a listing would drop
            // the click (see NesteKnappClick): enabled once it has let go.
            c.NesteKnapp->SetEnabled(busy_ != TBusyKind::Searching);
            break;
        case 2:
            c.NesteKnapp->SetEnabled(false);
            c.ForrigeKnapp->SetEnabled(true);
            c.AvbrytKnapp->SetVisible(false);
            c.Animate1->Stop();
            c.Animate1->SetVisible(false);
            c.advpanel2->SetCaption(ExpandPlaceholders(Text(ltPage2)));
            c.StartKnapp->SetVisible(true);
            // After a cancel the search may still wait for a listing (a share
            // that hangs): no new one until it has let go.
            c.StartKnapp->SetEnabled(busy_ != TBusyKind::Searching);
            c.driveliste->SetVisible(true);
            c.Memo1->SetVisible(false);
            c.ForrigeKnapp->SetEnabled(true);
            c.Liste->SetVisible(false);
            c.NesteKnapp->SetCaption(Text(ltNext));
            break;
        case 3:
            c.NesteKnapp->SetEnabled(true);
            c.ForrigeKnapp->SetEnabled(true);
            c.AvbrytKnapp->SetVisible(false);
            c.advpanel2->SetCaption(ExpandPlaceholders(Text(ltPage3)));
            c.Liste->SetVisible(true);
            c.ForrigeKnapp->SetEnabled(true);
            c.NesteKnapp->SetEnabled(true);
            c.NesteKnapp->SetCaption(Text(ltUpdate));
            break;
        case 4:
            c.advpanel2->SetCaption(ExpandPlaceholders(Text(ltPage4)));
            c.Liste->SetVisible(false);
            c.NesteKnapp->SetEnabled(false);
            c.ForrigeKnapp->SetEnabled(false);
            RunUpdate();
            break;
        case 5:
            c.advpanel2->SetCaption(ExpandPlaceholders(Text(ltPage5)));
            if (!c.Memo1->Caption().empty()) {
                c.Memo1->SetVisible(true);
                c.Label12->SetVisible(!memoWithoutFailures_);
            }
            c.NesteKnapp->SetVisible(false);
            c.ForrigeKnapp->SetVisible(false);
            break;
        default:
            break;
    }
}

TUpdate::TBusy::TBusy(TUpdate& form, TBusyKind kind) : form_(form) { form_.busy_ = kind; }

TUpdate::TBusy::~TBusy() {
    form_.busy_ = TBusyKind::None;
    if (!form_.closePending_) return;
    form_.closePending_ = false;
    try {
        form_.Services.Close();
    } catch (...) {
        // Closing ignores its own failures; none may leave here.
    }
}

void TUpdate::NesteKnappClick() {
    if (busy_ != TBusyKind::None) return;
    Controls.Label1->SetVisible(false);
    ++Page;
    ShowPage();
}

void TUpdate::ForrigeKnappClick() {
    --Page;
    ShowPage();
}

void TUpdate::AvbrytKnappClick() {
    CancelRequested = true;
    Page = 2;
    ShowPage();
    Services.SetCursor(TCursorKind::crDefault);
}

void TUpdate::Button2Click() { Services.Close(); }

bool TUpdate::CloseQuery() {
    if (busy_ == TBusyKind::Searching) {
        // The search still walks its queue: stop it as Cancel does; the
        // window closes once the search has let go of it.
        CancelRequested = true;
        closePending_ = true;
        return false;
    }
    if (busy_ == TBusyKind::Updating || busy_ == TBusyKind::Starting) {
        // Half an update is worse than a late close, and a restore that goes
        // on after its work directory was removed would make it again: the
        // window closes when they have finished.
        closePending_ = true;
        return false;
    }
    return true;
}

void TUpdate::FormClose() {
    if (closed_) return;
    closed_ = true;
    if (!WorkDir.empty()) {
        for (const TFileEntry& entry : Script.FileEntries)
            if (IsPlainFileName(entry.SourceName)) Platform.DeleteFile(WorkDir + entry.SourceName);
        for (const char* name : {kScriptFileName, kSecFileName, kSetFileName, kNotesFileName})
            Platform.DeleteFile(WorkDir + name);
        // The work directory was made for this run alone: take it away with
        // whatever the package brought besides the files named above.
        if (ownsWorkDir_) RemoveTree(Platform, ExcludeTrailingBackslash(WorkDir));
    }
    LanguageTexts.Clear();
    image_.reset();
    if (log_) Log("Closed on page " + std::to_string(Page));
    // The run is over: the next one may begin while this process ends.
    runLock_.reset();
}

void TUpdate::ShowError(const std::string& message) {
    Log("Error: " + message);
    report_->AddError(message);
    Services.MessageBox(message, kApplicationTitle, TMsgKind::Error, TMsgButtons::Ok);
}

void TUpdate::Log(const std::string& line) {
    if (log_) log_->Line(line);
}

void TUpdate::WriteReport(int exitStatus) noexcept {
    if (CommandLine.ReportFile.empty()) return;
    try {
        WriteReportFile(Platform, CommandLine.ReportFile, report_->Json(exitStatus));
    } catch (const std::exception& e) {
        // The exit status stands: the files were installed or not whatever
        // became of their report, and its absence tells the collector.
        try {
            Log(std::string("Error: ") + e.what());
            Platform.WriteStandardError(std::string(e.what()) + "\r\n");
        } catch (...) {
        }
    }
}

void WriteErrorReport(TPlatform& platform, const std::string& reportFile, int exitStatus,
                      const std::string& text) noexcept {
    if (reportFile.empty()) return;
    try {
        TRunReport report(platform);
        report.AddError(text);
        WriteReportFile(platform, reportFile, report.Json(exitStatus));
    } catch (...) {
        // The error itself has been reported by the caller; the exit status tells.
    }
}

}  // namespace oup
