// The wizard without a window, for unattended runs (/S): the form's controls
// kept in memory, and form services that never show anything. The page logic
// runs unchanged on top of them.
#pragma once
#include <string>
#include <vector>

#include "app/Update.h"
#include "controls/MemoryControls.h"

namespace oup {

// The form's controls in the state the form's layout gives them.
class THeadlessControls {
public:
    THeadlessControls();
    THeadlessControls(const THeadlessControls&) = delete;
    THeadlessControls& operator=(const THeadlessControls&) = delete;
    // Pointers into this object: it must outlive the TUpdate they are given to.
    TWizardControls Wire();

    TMemoryControl NesteKnapp, Button2, ForrigeKnapp, Label12, StartKnapp, bane, AvbrytKnapp,
        Label1, OXPPanel1, advpanel2;
    TMemoryAnimate Animate1;
    TMemoryMemo Memo1;
    TMemoryListView Liste, driveliste;
    TMemoryFileLabel filelabel1, FileLabel2;
    TMemoryProgress Progress;
};

// Form services that never show anything. Message boxes are kept as text
// (they are in the log already, through the form; errors go to standard
// error too) and answered with OK, but a question that offers Cancel is
// declined: nobody is there to act on it.
class THeadlessServices : public TFormServices {
public:
    void ProcessMessages() override {}
    TMsgResult MessageBox(const std::string& text, const std::string& caption, TMsgKind kind,
                          TMsgButtons buttons) override;
    bool ExecuteOpenDialog(const std::string&, std::string&) override { return false; }
    void SetCursor(TCursorKind) override {}
    void ProcessPaintMessages() override {}
    // Closing a window that does not exist: the form's clean-up runs at once.
    void Close() override;

    void Attach(TUpdate* form) { form_ = form; }
    std::vector<std::string> Messages;

private:
    TUpdate* form_ = nullptr;
};

// Run as LocalSystem, or in session 0, no window of this process can be
// seen: a dialog or a message box would wait for an answer that never comes
// (and a deployment tool for its time-out), and a file dialog would let
// whoever sees it browse as SYSTEM. There the run goes as with /S, and its
// log says so (TCommandLine::NoUser).
void RunWithoutWindowsWhereNobodySees(TPlatform& platform, TCommandLine& commandLine);

}  // namespace oup
