// A whole wizard on fakes: the form's controls as recording fakes, the form
// services as a scripted stand-in, and a TUpdate wired to a fake machine. A
// test sets the machine and the answers it wants, then drives the events.
#pragma once
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/Update.h"
#include "support/FakeControls.h"
#include "support/FakeMachine.h"

namespace oup::test {

struct TMessageRecord {
    std::string Text, Caption;
    TMsgKind Kind;
    TMsgButtons Buttons;
};

class TFakeServices : public TFormServices {
public:
    void ProcessMessages() override {
        ++Pumps;
        if (OnPump) OnPump();
    }
    TMsgResult MessageBox(const std::string& text, const std::string& caption, TMsgKind kind,
                          TMsgButtons buttons) override {
        Messages.push_back({text, caption, kind, buttons});
        return MessageAnswer;
    }
    bool ExecuteOpenDialog(const std::string& initialDir, std::string& fileName) override {
        DialogDirs.push_back(initialDir);
        if (DialogAnswer.empty()) return false;
        fileName = DialogAnswer;
        return true;
    }
    void SetCursor(TCursorKind cursor) override { Cursor = cursor; }
    void ProcessPaintMessages() override {
        ++PaintPumps;
        if (OnPaintPump) OnPaintPump();
    }
    void Close() override {
        ++Closes;
        if (OnClose) OnClose();
    }
    void ShowRestoreWindow(const std::string& packageFileName) override {
        RestoreWindows.push_back(packageFileName);
        RestoreWindowOpen = true;
        RestoreShownAt = Now;
    }
    void SetRestorePercent(int percent) override { RestorePercent = percent; }
    bool RestoreCancelRequested() override { return RestoreWindowOpen && CancelRestore; }
    void EndRestoreWindow() override { RestoreWindowOpen = false; }
    int64_t TickCount() override { return Now; }

    std::vector<TMessageRecord> Messages;
    TMsgResult MessageAnswer = TMsgResult::Ok;
    std::vector<std::string> DialogDirs;
    std::string DialogAnswer;  // empty: the user cancels the dialog
    TCursorKind Cursor = TCursorKind::crDefault;
    int Pumps = 0, PaintPumps = 0, Closes = 0;
    std::function<void()> OnPump;   // runs inside ProcessMessages (a click, a close)
    std::function<void()> OnPaintPump;  // runs inside ProcessPaintMessages (the update run)
    std::function<void()> OnClose;  // set by TFakeWizard: runs FormClose
    std::vector<std::string> RestoreWindows;  // file name of each window shown
    bool RestoreWindowOpen = false;
    int64_t RestoreShownAt = -1;
    int RestorePercent = -1;
    bool CancelRestore = false;  // Cancel pressed in the restore window
    int64_t Now = 0;             // the clock, in milliseconds; tests move it
};

// The controls in their layout state, a TUpdate over them, and the machine.
class TFakeWizard {
public:
    explicit TFakeWizard(std::vector<std::string> args = {"C:\\oupdate.exe"});
    ~TFakeWizard();

    // Makes C:\oupdate.exe a PE image of 0x600 bytes with these bytes
    // appended (none: a plain updater that looks for a package file).
    void InstallExecutable(const std::vector<uint8_t>& appended = {});

    // Builds the TUpdate (FormCreate runs); call after setting up Machine.
    TUpdate& Create();
    TUpdate& Update() { return *update_; }

    TControlLog Log;
    TFakeMachine Machine;
    TFakeServices Services;
    TFakeControl NesteKnapp{"NesteKnapp", &Log}, Button2{"Button2", &Log},
        ForrigeKnapp{"ForrigeKnapp", &Log}, Label12{"Label12", &Log},
        StartKnapp{"StartKnapp", &Log}, bane{"bane", &Log}, AvbrytKnapp{"AvbrytKnapp", &Log},
        Label1{"Label1", &Log}, OXPPanel1{"OXPPanel1", &Log}, advpanel2{"advpanel2", &Log};
    TFakeAnimate Animate1{"Animate1", &Log};
    TFakeMemo Memo1{"Memo1", &Log};
    TFakeListView Liste{"Liste", &Log}, driveliste{"driveliste", &Log};
    TFakeFileLabel filelabel1{"filelabel1", &Log}, FileLabel2{"FileLabel2", &Log};
    TFakeProgress Progress{"Progress", &Log};
    std::vector<std::string> Args;

private:
    std::unique_ptr<TUpdate> update_;
};

// A package's content: script, notes, language file and payload. Lines are
// joined with CR LF when written.
struct TTestPackage {
    std::vector<std::string> Script;     // the script's lines
    std::string Notes = "Release notes";  // not written when NoNotes
    bool NoNotes = false;
    std::vector<std::string> Language;  // the language file's lines
    std::string LanguageName = "english.ln_";
    std::vector<std::pair<std::string, std::string>> Payload;  // name, content
};
std::vector<std::string> StandardLanguage();  // 27 texts, "T0".."T26" style with placeholders
std::vector<std::string> StandardScript();    // Ledger 3 updating ledger.exe, two entries
// Writes the package as the first volume at path on the machine.
void WritePackage(TFakeMachine& machine, const std::string& path, const TTestPackage& package);

}  // namespace oup::test
