// The wizard's two long steps, wired to its controls: the instance search of
// page 2 (Start) and the update run of page 4.
#include "app/RunReport.h"
#include "app/Update.h"
#include "app/UpdateLog.h"
#include "search/InstanceSearch.h"

namespace oup {

void TUpdate::StartKnappClick() {
    // A Start let through by the search's own message pump (Cancel, then
    // Enter) must not begin a second search inside the first.
    if (busy_ != TBusyKind::None) return;
    TBusy busy(*this, TBusyKind::Searching);

    TWizardControls& c = Controls;
    c.NesteKnapp->SetEnabled(false);
    c.ForrigeKnapp->SetEnabled(false);
    CancelRequested = false;
    c.AvbrytKnapp->SetVisible(true);
    c.driveliste->SetVisible(false);
    c.Liste->Clear();
    report_->SetInstallations({});
    Services.SetCursor(TCursorKind::crHourGlass);
    c.StartKnapp->SetVisible(false);
    c.Animate1->SetVisible(true);
    c.Animate1->Play();
    c.bane->SetVisible(true);
    c.filelabel1->SetVisible(true);

    std::vector<std::string> roots;
    for (int i = 0; i < c.driveliste->Count(); ++i)
        if (c.driveliste->ItemChecked(i)) roots.push_back(c.driveliste->ItemCaption(i));

    TInstanceSearch search(Platform, {Script.ProgramFile, WorkDir, WindowsDir});
    search.OnRoot = [this](const std::string& root) { Log("Searching " + root); };
    // One folder found by two paths (a link to it) is one installation: it
    // is listed, and updated, by the path met first.
    TInstallationSet folders;
    search.OnFound = [this, &folders](const std::string& dir) {
        const std::string same = folders.Add(Platform, dir, FinalPathOfDirectory(Platform, dir));
        if (!same.empty()) {
            Log("Same as " + same + ": " + dir);
            return;
        }
        Controls.Liste->AddItem(dir, true);
        Log("Found " + dir);
    };
    search.OnNameNotRepresentable = [this](const std::string& dir) {
        Log("Skipped " + dir + ": name not representable");
    };
    TFileLabel& pathLabel = c.filelabel1->Label();
    search.OnDirectory = [&](const std::string& dir) {
        pathLabel.SetFileName(dir);
        Controls.filelabel1->Repaint();
    };
    // Cancel (or a close) runs inside the pump and has already put page 2
    // and the cursor back when the search sees the flag. The search returns
    // once its listings in flight are done, pumping meanwhile; a close
    // asked for until then waits for it (see CloseQuery).
    search.Poll = [this] {
        Services.ProcessMessages();
        return CancelRequested;
    };
    if (!search.Run(roots)) {
        // Page 2 is back: the caption and the last path went with the search.
        c.bane->SetVisible(false);
        c.filelabel1->SetVisible(false);
        // The buttons held back while it drained (see ShowPage).
        if (Page == 1) c.NesteKnapp->SetEnabled(true);
        if (Page == 2) c.StartKnapp->SetEnabled(true);
        Log("Search cancelled");
        return;
    }

    Services.SetCursor(TCursorKind::crDefault);
    c.Animate1->Stop();
    c.advpanel2->SetCaption(Text(ltSearchDone));
    c.bane->SetVisible(false);
    c.filelabel1->SetVisible(false);
    c.Animate1->SetVisible(false);
    Log("Search finished: " + std::to_string(c.Liste->Count()) + " installation(s) found");
    std::vector<TInstallation> found;
    for (int i = 0; i < c.Liste->Count(); ++i)
        found.push_back({c.Liste->ItemCaption(i), c.Liste->ItemChecked(i)});
    report_->SetInstallations(found);
    ++Page;
    ShowPage();
}

void TUpdate::PreviewLine(const std::string& line) {
    // Every decision, for the user in the memo and for a script that runs
    // the preview on standard output (when it handed us one).
    Controls.Memo1->AppendLine(line);
    Log(line);
    Platform.WriteStandardOutput(line + "\r\n");
}

void TUpdate::OnUpdateReport(const TUpdateRun& run, const TUpdateReport& report) {
    TWizardControls& c = Controls;
    // The report records each decision the lines below give.
    report_->AddDecision(report, run.Entries().at(report.Entry));
    switch (report.Kind) {
        case TReportKind::WouldInstall:
            PreviewLine("Would install " + report.Target);
            return;
        case TReportKind::WouldSkip:
            PreviewLine("Would skip " + report.Target + ": " + report.Reason);
            return;
        case TReportKind::WouldFail:
        case TReportKind::WouldRefuse:
            PreviewLine("Would fail " + report.Target + ": " + report.Reason);
            return;
        case TReportKind::Visiting:
            c.FileLabel2->Label().SetFileName(report.Target);
            c.FileLabel2->Repaint();
            return;
        case TReportKind::NotChosen:
            Log("Skipped " + report.Target + ": " + report.Reason);
            return;
        case TReportKind::Installed:
            Log("Installed " + report.Target);
            break;
        case TReportKind::Skipped:
            Log("Skipped " + report.Target + ": " + report.Reason);
            break;
        case TReportKind::Failed: {
            std::string line = kFailureLinePrefix + report.Target;
            if (!report.Reason.empty()) line += ": " + report.Reason;
            c.Memo1->AppendLine(line);
            Log(line);
            break;
        }
        case TReportKind::Scheduled:
            // Who holds the file, where the system could say.
            Log("Scheduled " + report.Target + " for replacement at restart" +
                (report.Reason.empty() || report.Reason == kInUseText ? "" : ": " + report.Reason));
            break;
        case TReportKind::SameAs:
            Log("Same as " + report.Target + ": " + report.Installation);
            return;
        case TReportKind::WouldLeaveUnchanged:
            report_->SetLeftUnchanged(report.Installation, report.Reason);
            PreviewLine("Would leave unchanged: " + report.Installation + ": " + report.Reason);
            return;
        case TReportKind::PutBack:
            Log("Put back " + report.Target + " from " + KeptOldName(report.Target) +
                ", left by an interrupted update");
            return;
        case TReportKind::KeptRemoved:
            Log("Removed " + report.Target +
                ", left by an interrupted update that had installed every file");
            return;
        case TReportKind::LeftUnchanged: {
            // The installation's record in the report says it, with the reason.
            const std::string line =
                "Left unchanged: " + report.Installation + ": " + report.Reason;
            c.Memo1->AppendLine(line);
            Log(line);
            report_->SetLeftUnchanged(report.Installation, report.Reason);
            break;
        }
        case TReportKind::Refused: {
            // A failure too: the memo says why, for a user without a log.
            const std::string line = "Skipped " + report.Target + ": " + report.Reason;
            c.Memo1->AppendLine(line);
            Log(line);
            break;
        }
    }
    // A failed once-only entry is tried again at the next installation, so
    // the total may grow.
    const int done = run.InstalledCount() + run.FailedCount() + run.ScheduledCount();
    if (c.Progress) c.Progress->SetProgress(done, std::max(done, run.Due()));
    Services.ProcessPaintMessages();
}

void TUpdate::RunUpdate() {
    // A close asked for meanwhile waits for the run's end (see CloseQuery).
    TBusy busy(*this, TBusyKind::Updating);
    TWizardControls& c = Controls;
    c.Animate1->SetClip(TCommonAVI::aviCopyFiles);
    c.Animate1->SetVisible(true);
    c.Animate1->Play();
    c.Memo1->SetCaption("");

    std::vector<TInstallation> installations;
    for (int i = 0; i < c.Liste->Count(); ++i)
        installations.push_back({c.Liste->ItemCaption(i), c.Liste->ItemChecked(i)});
    report_->SetInstallations(installations);
    TUpdateRun run(Platform, Script.FileEntries, {WorkDir, WindowsDir, SystemDir});
    run.OnReport = [&](const TUpdateReport& report) { OnUpdateReport(run, report); };
    run.RestartReplace = !CommandLine.NoRestartReplace;
    run.Atomic = CommandLine.Atomic;
    run.Plan(installations);
    if (CommandLine.Preview) {
        // The plan the update would carry out, and nothing carried out.
        Log("Preview of " + std::to_string(run.Chosen()) + " installation(s), " +
            std::to_string(run.Due()) + " file(s) due; nothing is changed");
        run.Preview();
        exitCode_ = run.FailedCount() > 0 ? ecFailures : ecSuccess;
        Log("Preview finished: " + std::to_string(run.InstalledCount()) + " would be installed, " +
            std::to_string(run.FailedCount()) + " would fail");
        c.Animate1->Stop();
        c.Animate1->SetVisible(false);
        memoWithoutFailures_ = run.FailedCount() == 0;
        ShowResultPage(kPreviewFinishedText);
        c.OXPPanel1->SetCaption(ExpandPlaceholders(Text(ltHeaderTitle)) + kPreviewHeaderSuffix);
        c.advpanel2->SetCaption(kPreviewInstructionsText);
        return;
    }
    Log("Updating " + std::to_string(run.Chosen()) + " installation(s), " +
        std::to_string(run.Due()) + " file(s) due");

    c.FileLabel2->SetVisible(true);
    if (c.Progress) {  // a window may have none
        c.Progress->SetProgress(0, run.Due());
        c.Progress->SetVisible(true);
    }
    Services.ProcessPaintMessages();
    run.Execute();
    Script.FileEntries = run.Entries();  // with their Installed flags

    c.Animate1->Stop();
    c.Animate1->SetVisible(false);
    c.FileLabel2->SetVisible(false);
    if (c.Progress) c.Progress->SetVisible(false);
    const bool restart = run.ScheduledCount() > 0;
    // Failed until page 5 is shown: a text that the language file lacks
    // raises below, after every file went in, and that must not end as a
    // success.
    exitCode_ = ecFailures;
    Log("Update finished: " + std::to_string(run.InstalledCount()) + " installed, " +
        std::to_string(run.FailedCount()) + " failed" +
        (restart ? ", " + std::to_string(run.ScheduledCount()) + " waiting for a restart" : ""));

    // The updater never restarts Windows itself; it says that it must be.
    std::string finished = Text(ltFinished);
    if (restart) {
        const std::string notice = LanguageTexts.Has(ltRestart) && !Trim(Text(ltRestart)).empty()
                                       ? Text(ltRestart)
                                       : kRestartDefaultText;
        finished += "\r\n\r\n" + notice;
        // With failure lines page 5 shows the memo instead of the notice.
        if (!c.Memo1->Caption().empty()) {
            c.Memo1->AppendLine("");
            c.Memo1->AppendLine(notice);
        }
    }
    ShowResultPage(finished);
    exitCode_ = run.FailedCount() > 0 ? ecFailures : restart ? ecRestartRequired : ecSuccess;
}

void TUpdate::ShowResultPage(const std::string& finished) {
    TWizardControls& c = Controls;
    ++Page;
    ShowPage();
    c.Label1->SetCaption(finished);
    c.Label1->SetVisible(true);
    c.Button2->SetLeft(c.StartKnapp->Left());
}

}  // namespace oup
