// The instance search: a breadth-first walk over the ticked drive-list items
// that lists every directory holding the program's executable.
#include "app/Update.h"

namespace oup {

namespace {
enum : uint8_t { kReachedQueued = 1, kReachedTested = 2 };

bool IsDotEntry(const std::string& name) {
    const std::string trimmed = Trim(name);
    return trimmed == "." || trimmed == "..";
}
}  // namespace

bool TUpdate::IsInstanceDir(const std::string& path) {
    // The package is extracted into the work directory, program file and
    // all; it is never an installation.
    if (Platform.AnsiUpperCase(path) + "\\" == Platform.AnsiUpperCase(WorkDir)) return false;
    bool found = false;
    Platform.FindFiles(path + "\\" + Script.ProgramFile, [&](const TSearchRec& r) {
        if (r.Attr & (faHidden | faSysFile)) return true;
        found = true;
        return false;
    });
    return found;
}

void TUpdate::ReachDirectory(const std::string& path, bool test, bool queue) {
    uint8_t& state = reached_[Platform.AnsiUpperCase(path)];
    if (test && !(state & kReachedTested)) {
        state |= kReachedTested;
        if (IsInstanceDir(path)) {
            Controls.Liste->AddItem(path, true);
            Log("Found " + path);
        }
    }
    if (queue && !(state & kReachedQueued)) {
        state |= kReachedQueued;
        DirQueue.push_back(path);
    }
}

void TUpdate::StartKnappClick() {
    TWizardControls& c = Controls;
    c.NesteKnapp->SetEnabled(false);
    c.ForrigeKnapp->SetEnabled(false);
    CancelRequested = false;
    c.AvbrytKnapp->SetVisible(true);
    c.driveliste->SetVisible(false);
    c.Liste->Clear();
    Services.SetCursor(TCursorKind::crHourGlass);
    c.StartKnapp->SetVisible(false);
    c.Animate1->SetVisible(true);
    c.Animate1->Play();
    c.bane->SetVisible(true);
    c.filelabel1->SetVisible(true);

    DirQueue.clear();
    reached_.clear();
    size_t queuePosition = 0;

    // A close asked for while the search runs only sets CancelRequested (see
    // CloseQuery); the window closes here, once the walk has let go of
    // DirQueue, however the walk ended.
    struct TSearching {
        TUpdate& form;
        explicit TSearching(TUpdate& f) : form(f) { form.searching_ = true; }
        ~TSearching() {
            form.searching_ = false;
            if (!form.closePending_) return;
            form.closePending_ = false;
            try {
                form.Services.Close();
            } catch (...) {
                // Closing ignores its own failures; none may leave here.
            }
        }
    } searching(*this);

    for (int i = 0; i < c.driveliste->Count(); ++i) {
        if (!c.driveliste->ItemChecked(i)) continue;
        SearchRoot(c.driveliste->ItemCaption(i), queuePosition);
        if (CancelRequested) {
            // Cancel has already put page 2 back and the cursor too.
            Log("Search cancelled");
            return;
        }
    }

    Services.SetCursor(TCursorKind::crDefault);
    c.Animate1->Stop();
    c.advpanel2->SetCaption(Text(ltSearchDone));
    c.bane->SetVisible(false);
    c.filelabel1->SetVisible(false);
    c.Animate1->SetVisible(false);
    Log("Search finished: " + std::to_string(c.Liste->Count()) + " installation(s) found");
    ++Page;
    ShowPage();
}

void TUpdate::SearchRoot(const std::string& root, size_t& queuePosition) {
    Log("Searching " + root);
    // Installations under the Windows directory are met before the rest of
    // the drive; the walk of the root later finds it already queued.
    if (AsciiUpperCase(root) == "C:" && !WindowsDir.empty()) ReachDirectory(WindowsDir, false, true);
    ReachDirectory(root, true, true);
    Services.ProcessMessages();

    TFileLabel& pathLabel = Controls.filelabel1->Label();
    while (queuePosition < DirQueue.size()) {
        Services.ProcessMessages();
        if (CancelRequested) return;

        // DirQueue grows while its entry is listed: work on a copy.
        const std::string dir = DirQueue[queuePosition];
        Platform.FindFiles(dir + "\\*.*", [&](const TSearchRec& r) {
            if (r.Attr & (faHidden | faSysFile)) return true;
            if (!(r.Attr & faDirectory) || IsDotEntry(r.Name)) return true;
            const std::string sub = dir + "\\" + r.Name;
            if (!Platform.DirectoryExists(sub)) return true;
            // A junction or symbolic link may lead back up the tree: list
            // it, but do not walk into it.
            ReachDirectory(sub, true, !(r.Attr & faReparsePoint));
            pathLabel.SetFileName(sub);
            Controls.filelabel1->Repaint();
            return true;
        });
        ++queuePosition;
    }
}

}  // namespace oup
