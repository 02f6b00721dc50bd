// The wizard's real window: layout and scaling, the controls on real
// windows, the keys, the page-5 arrangement, start-up that gives up before
// the window shows, and errors caught at the window procedure. Windows need
// a display: without one (Wine without X) these tests are skipped, and
// tests/e2e/10-wizard.sh runs them under Xvfb.
#include <gtest/gtest.h>

#include "platform/win32/WinApi.h"

#include <commctrl.h>

#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "app/Update.h"
#include "app/win32/UpdateForm.h"
#include "common/Errors.h"
#include "package/PackageWriter.h"
#include "support/FakeMachine.h"
#include "support/PackageKit.h"

namespace oup::win32 {
namespace {

using test::TFakeMachine;

bool CanCreateWindows() {
    static const bool can = [] {
        const HWND probe = ::CreateWindowExA(0, "STATIC", "", WS_POPUP, 0, 0, 1, 1, nullptr,
                                             nullptr, nullptr, nullptr);
        if (!probe) return false;
        ::DestroyWindow(probe);
        return true;
    }();
    return can;
}

std::vector<std::string> LanguageLines() {
    std::vector<std::string> t;
    for (int i = 0; i < kLanguageTextCount; ++i) t.push_back("Text " + std::to_string(i));
    t[ltNext] = "&Next >>";
    t[ltPrevious] = "<< &Back";
    t[ltClose] = "&Close";
    t[ltHeaderTitle] = "<programname>";
    t[ltPage1] = "Update <programname> to <version>.";
    t[ltPage2] = "Tick the drives to search.";
    t[ltStart] = "&Start";
    t[ltPage3] = "Found <count> copies.";
    t[ltUpdate] = "&Update";
    t[ltCancel] = "&Cancel";
    return t;
}

std::string Join(const std::vector<std::string>& lines) {
    std::string out;
    for (size_t i = 0; i < lines.size(); ++i) out += (i ? "\r\n" : "") + lines[i];
    return out;
}

struct TBoxRecord {
    std::string Text, Caption;
    UINT Type;
};

class WizardForm : public ::testing::Test {
protected:
    void SetUp() override {
        if (!CanCreateWindows()) GTEST_SKIP() << "no display for windows; run under Xvfb";
        INITCOMMONCONTROLSEX controls{sizeof controls, ICC_STANDARD_CLASSES |
                                                           ICC_LISTVIEW_CLASSES |
                                                           ICC_ANIMATE_CLASS | ICC_PROGRESS_CLASS};
        ::InitCommonControlsEx(&controls);
        // Loaded, as the program's import has it (a first load by the form from the system
        // directory takes shell32's dependencies away under Wine while others use them).
        if (!::GetModuleHandleA("shell32.dll")) ::LoadLibraryA("shell32.dll");
        machine.AddDrive('C');
        // An updater with nothing appended: its file ends where its image does.
        machine.ModuleHeaders = test::PeHeaders({{0x400, 0x200}});
        std::string image(machine.ModuleHeaders.begin(), machine.ModuleHeaders.end());
        image.resize(0x600, '\0');
        machine.AddFile(machine.ModuleFile, image);
    }

    void TearDown() override {
        form.reset();
        // Nothing of one test may reach the next through the queue.
        MSG message;
        while (::PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
        }
    }

    TUpdateForm& Make(int dpi = 96, std::vector<std::string> args = {"C:\\oupdate.exe"}) {
        TFormOptions options;
        options.Dpi = dpi;
        options.QuitOnDestroy = false;
        options.Clock = clock;
        options.MessageBoxHook = [this](const std::string& text, const std::string& caption,
                                        UINT type) {
            boxes.push_back({text, caption, type});
            if (form && form->RestoreWindow()) ++boxesOverRestoreWindow;
            return IDOK;
        };
        options.OpenDialogHook = [this](const std::string& dir, std::string& file) {
            dialogDirs.push_back(dir);
            if (dialogAnswer.empty()) return false;
            file = dialogAnswer;
            return true;
        };
        form = std::make_unique<TUpdateForm>(::GetModuleHandleA(nullptr), machine,
                                             ParseCommandLine(args), options);
        form->Create();
        return *form;
    }

    void WritePackage(const std::string& path, const std::string& notes) {
        machine.AddDir(ExtractFilePath(path));
        TPackageWriter writer(machine, path);
        auto add = [&](const std::string& name, const std::string& text) {
            TMemoryStream content(std::vector<uint8_t>(text.begin(), text.end()));
            writer.AddEntry(name, TFakeMachine::kDefaultTime, content);
        };
        add("oupdate.inf", Join({"Ledger 3", "3.2.0", "Nordvik Data AS", "ledger.exe",
                                 "30.12.1899", "28.02.2005", "true", "ledger.ex_", "ledger.exe",
                                 "Always copy", "28.02.2005 16:55:44", "<installdir>\\"}));
        add("oupdate.mem", notes);
        add("english.ln_", Join(LanguageLines()));
        add("ledger.ex_", "new ledger");
        writer.Finish();
    }

    // The texts, as start-up would have loaded them.
    // Page 2 with only C: ticked and a click on Start waiting in the queue,
    // so that a message posted next reaches the search while it runs.
    void QueueStartOnDriveC() {
    machine.AddDir("C:\\Apps\\Ledger");
    Make();
    LoadTexts();
    ShowWindow();
    form->Update().Script.ProgramFile = "ledger.exe";
    form->Update().Page = 2;
    form->Update().ShowPage();
    List("driveliste").AddItem("C:", true);
    ::PostMessageA(form->Handle(), WM_COMMAND, MAKEWPARAM(idStartKnapp, BN_CLICKED),
                   reinterpret_cast<LPARAM>(Handle("StartKnapp")));
    }

    void LoadTexts() {
        for (const std::string& line : LanguageLines()) form->Update().LanguageTexts.Add(line);
    }

    void ShowWindow() {
        ::ShowWindow(form->Handle(), SW_SHOWNORMAL);
        ::SetForegroundWindow(form->Handle());
        ::SetActiveWindow(form->Handle());
    }

    TFormControl& Control(const std::string& name) {
        TFormControl* control = form->FindControl(name);
        if (!control) throw std::runtime_error("no control " + name);
        return *control;
    }
    HWND Handle(const std::string& name) {
        return dynamic_cast<TWinControl&>(Control(name)).Handle();
    }
    TListView& List(const std::string& name) { return dynamic_cast<TListView&>(Control(name)); }

    // Where a windowed control lies in the form's client area.
    RECT PlaceOf(const std::string& name) {
        RECT r{};
        ::GetWindowRect(Handle(name), &r);
        ::MapWindowPoints(nullptr, form->Handle(), reinterpret_cast<POINT*>(&r), 2);
        return r;
    }

    std::string WindowText(HWND window) {
        char text[512] = {};
        ::GetWindowTextA(window, text, sizeof text);
        return text;
    }

    // A key as it comes off the queue, to the focused window.
    void Key(WPARAM key, bool shift = false) {
        BYTE state[256];
        ::GetKeyboardState(state);
        state[VK_SHIFT] = shift ? 0x80 : 0;
        ::SetKeyboardState(state);
        MSG message{};
        message.hwnd = ::GetFocus() ? ::GetFocus() : form->Handle();
        message.message = WM_KEYDOWN;
        message.wParam = key;
        EXPECT_TRUE(form->PreTranslateMessage(message));
        state[VK_SHIFT] = 0;
        ::SetKeyboardState(state);
        form->ProcessMessages();
    }

    std::string FocusName() {
        const HWND focus = ::GetFocus();
        for (TWinControl* control : form->TabOrder())
            if (control->Handle() == focus) return control->Name();
        return focus == form->Handle() ? "form" : "?";
    }

    // Position in the stacking order: 0 is on top.
    int Depth(HWND window) {
        int depth = 0;
        for (HWND h = ::GetWindow(form->Handle(), GW_CHILD); h; h = ::GetWindow(h, GW_HWNDNEXT), ++depth)
            if (h == window) return depth;
        return -1;
    }

    TFakeMachine machine;
    std::unique_ptr<TUpdateForm> form;
    std::vector<TBoxRecord> boxes;
    int boxesOverRestoreWindow = 0;
    std::vector<std::string> dialogDirs;
    std::string dialogAnswer;
    std::function<int64_t()> clock;
};

void ExpectRect(const RECT& r, int left, int top, int width, int height, const std::string& what) {
    EXPECT_EQ(r.left, left) << what;
    EXPECT_EQ(r.top, top) << what;
    EXPECT_EQ(r.right - r.left, width) << what;
    EXPECT_EQ(r.bottom - r.top, height) << what;
}

// --- layout ---

TEST_F(WizardForm, WindowHasTheLayoutAt96Dpi) {
    Make();
    RECT client{};
    ::GetClientRect(form->Handle(), &client);
    EXPECT_EQ(client.right, 527);
    EXPECT_EQ(client.bottom, 297);
    EXPECT_EQ(WindowText(form->Handle()), "Ostrel Update 2002");
    const LONG style = ::GetWindowLongA(form->Handle(), GWL_STYLE);
    EXPECT_FALSE(style & (WS_THICKFRAME | WS_MINIMIZEBOX | WS_MAXIMIZEBOX));
    EXPECT_TRUE(style & WS_SYSMENU);

    struct TRow {
        const char* Name;
        int Left, Top, Width, Height;
        bool Visible, Enabled;
        const char* Caption;
    };
    const TRow rows[] = {
        {"NesteKnapp", 444, 264, 75, 25, true, true, "&Neste >>"},
        {"StartKnapp", 443, 264, 75, 25, true, true, "Start"},
        {"driveliste", 180, 64, 337, 177, false, true, nullptr},
        {"Memo1", 180, 64, 337, 177, false, true, nullptr},
        {"Liste", 180, 64, 337, 177, false, true, nullptr},
        {"Button2", 179, 263, 75, 25, true, true, "&Lukk"},
        {"AvbrytKnapp", 179, 264, 75, 25, false, true, "&Avbryt"},
        {"ForrigeKnapp", 360, 264, 75, 25, true, false, "<< Forrige"},
        {"Animate1", 308, 120, 77, 69, false, true, nullptr},
        {"Progress", 180, 243, 313, 8, false, true, nullptr},
    };
    for (const TRow& row : rows) {
        ExpectRect(PlaceOf(row.Name), row.Left, row.Top, row.Width, row.Height, row.Name);
        EXPECT_EQ(Control(row.Name).Visible(), row.Visible) << row.Name;
        EXPECT_EQ(Control(row.Name).Enabled(), row.Enabled) << row.Name;
        if (row.Caption) {
            EXPECT_EQ(WindowText(Handle(row.Name)), row.Caption) << row.Name;
        }
    }
    // The painted labels' first state.
    EXPECT_TRUE(Control("Label1").Visible());
    EXPECT_EQ(Control("Label1").Caption(), "Label1");
    EXPECT_FALSE(Control("Label12").Visible());
    EXPECT_FALSE(Control("bane").Visible());
    EXPECT_TRUE(Control("filelabel1").Visible());
    EXPECT_FALSE(Control("FileLabel2").Visible());
    EXPECT_EQ(Control("advpanel2").Caption(), "Instruksjoner");
    EXPECT_EQ(Control("OXPPanel1").Caption(), "Oppdatering");
}

TEST_F(WizardForm, ListsHaveCheckBoxesAVisibleColumnAndNoBorder) {
    Make();
    for (const char* name : {"driveliste", "Liste"}) {
        const HWND list = Handle(name);
        const LONG style = ::GetWindowLongA(list, GWL_STYLE);
        EXPECT_EQ(style & LVS_TYPEMASK, LVS_REPORT) << name;
        EXPECT_FALSE(style & LVS_NOCOLUMNHEADER) << name;
        EXPECT_FALSE(style & WS_BORDER) << name;
        EXPECT_FALSE(::GetWindowLongA(list, GWL_EXSTYLE) & WS_EX_CLIENTEDGE) << name;
        EXPECT_TRUE(ListView_GetExtendedListViewStyle(list) & LVS_EX_CHECKBOXES) << name;
        // The one column fills the list.
        RECT client{};
        ::GetClientRect(list, &client);
        EXPECT_GE(ListView_GetColumnWidth(list, 0), client.right - 4) << name;
    }
    EXPECT_EQ(ListView_GetBkColor(Handle("Liste")), RGB(255, 255, 255));
    const LONG memo = ::GetWindowLongA(Handle("Memo1"), GWL_STYLE);
    EXPECT_TRUE(memo & ES_READONLY);
    EXPECT_TRUE(memo & ES_MULTILINE);
    EXPECT_FALSE(memo & WS_BORDER);
}

TEST_F(WizardForm, LaterControlsLieAboveEarlierOnes) {
    Make();
    EXPECT_LT(Depth(Handle("StartKnapp")), Depth(Handle("NesteKnapp")));
    EXPECT_LT(Depth(Handle("AvbrytKnapp")), Depth(Handle("Button2")));
    for (const char* list : {"driveliste", "Memo1", "Liste"})
        EXPECT_LT(Depth(Handle("Animate1")), Depth(Handle(list))) << list;
}

TEST_F(WizardForm, ScalesWithTheDisplayDpi) {
    Make(144);
    RECT client{};
    ::GetClientRect(form->Handle(), &client);
    EXPECT_EQ(client.right, 791);  // 527 * 1.5, rounded
    EXPECT_EQ(client.bottom, 446);
    ExpectRect(PlaceOf("NesteKnapp"), 666, 396, 113, 38, "NesteKnapp");
    ExpectRect(PlaceOf("driveliste"), 270, 96, 506, 266, "driveliste");
    // 8 points at 144 dpi are 16 pixels; the bitmap face of 96 dpi is not used.
    const HFONT font = reinterpret_cast<HFONT>(::SendMessageA(Handle("NesteKnapp"), WM_GETFONT, 0, 0));
    LOGFONTA info{};
    ASSERT_TRUE(::GetObjectA(font, sizeof info, &info));
    EXPECT_EQ(info.lfHeight, -16);
    EXPECT_STRNE(info.lfFaceName, "MS Sans Serif");

    // Moving to a 144-dpi monitor later gives the same layout.
    std::vector<RECT> created;
    for (TWinControl* control : form->TabOrder()) created.push_back(PlaceOf(control->Name()));
    form.reset();
    Make(96);
    RECT outer{};
    ::GetWindowRect(form->Handle(), &outer);
    ::SendMessageA(form->Handle(), WM_DPICHANGED, MAKEWPARAM(144, 144),
                   reinterpret_cast<LPARAM>(&outer));
    ::GetClientRect(form->Handle(), &client);
    EXPECT_EQ(client.right, 791);
    EXPECT_EQ(client.bottom, 446);
    size_t i = 0;
    for (TWinControl* control : form->TabOrder()) {
        const RECT& r = created[i++];
        ExpectRect(PlaceOf(control->Name()), r.left, r.top, r.right - r.left, r.bottom - r.top,
                   control->Name() + " after a change of DPI");
    }
}

// --- the controls on real windows ---

TEST_F(WizardForm, ListViewKeepsWholeCaptionsAndReadsTicksFromTheWindow) {
    Make();
    TListView& list = List("driveliste");
    const HWND window = Handle("driveliste");
    const std::string longPath = "\\\\server\\" + std::string(300, 'd');
    list.AddItem("C:", true);
    list.AddItem(longPath, false);
    ASSERT_EQ(list.Count(), 2);
    EXPECT_EQ(ListView_GetItemCount(window), 2);
    EXPECT_EQ(list.ItemCaption(1), longPath);
    EXPECT_TRUE(list.ItemChecked(0));
    EXPECT_FALSE(list.ItemChecked(1));

    // The user ticks in the window; the wizard reads the window.
    ListView_SetCheckState(window, 1, TRUE);
    EXPECT_TRUE(list.ItemChecked(1));
    list.SetItemChecked(0, false);
    EXPECT_FALSE(ListView_GetCheckState(window, 0));

    try {
        list.ItemCaption(2);
        ADD_FAILURE() << "no error for a missing item";
    } catch (const EListError& e) {
        EXPECT_STREQ(e.what(), "List index out of bounds (2)");
    }

    list.SetColumnTitle("Drive");
    char title[64] = {};
    LVCOLUMNA column{};
    column.mask = LVCF_TEXT;
    column.pszText = title;
    column.cchTextMax = sizeof title;
    ASSERT_TRUE(::SendMessageA(window, LVM_GETCOLUMNA, 0, reinterpret_cast<LPARAM>(&column)));
    EXPECT_STREQ(title, "Drive");

    list.Clear();
    EXPECT_EQ(list.Count(), 0);
    EXPECT_EQ(ListView_GetItemCount(window), 0);
}

TEST_F(WizardForm, MemoShowsLineBreaksAndKeepsItsTextAsSet) {
    Make();
    TMemo& memo = dynamic_cast<TMemo&>(Control("Memo1"));
    const HWND window = Handle("Memo1");
    memo.SetCaption("one\ntwo");
    EXPECT_EQ(memo.Caption(), "one\ntwo");
    EXPECT_EQ(WindowText(window), "one\r\ntwo");
    memo.AppendLine("three\nfour");
    EXPECT_EQ(memo.Caption(), "one\ntwo\r\nthree\nfour");
    EXPECT_EQ(WindowText(window), "one\r\ntwo\r\nthree\r\nfour");
    EXPECT_EQ(::SendMessageA(window, EM_GETLINECOUNT, 0, 0), 4);

    // A scroll bar only when the text is longer than the memo.
    EXPECT_FALSE(::GetWindowLongA(window, GWL_STYLE) & WS_VSCROLL);
    std::string many;
    for (int i = 0; i < 40; ++i) many += "Could not update the file C:\\x" + std::to_string(i) + "\r\n";
    memo.SetCaption(many);
    EXPECT_TRUE(::GetWindowLongA(window, GWL_STYLE) & WS_VSCROLL);
    memo.SetCaption("short");
    EXPECT_FALSE(::GetWindowLongA(window, GWL_STYLE) & WS_VSCROLL);
    // Lines added one by one to the hidden memo bring it too, and the memo
    // shows them from the top.
    memo.SetVisible(false);
    for (int i = 0; i < 40; ++i) memo.AppendLine("Would install C:\\x" + std::to_string(i));
    EXPECT_TRUE(::GetWindowLongA(window, GWL_STYLE) & WS_VSCROLL);
    EXPECT_EQ(::SendMessageA(window, EM_GETLINECOUNT, 0, 0), 41);
    memo.SetVisible(true);
    EXPECT_EQ(::SendMessageA(window, EM_GETFIRSTVISIBLELINE, 0, 0), 0);
}

TEST_F(WizardForm, ButtonsMoveAndTakeCaptionsIn96DpiUnits) {
    Make(144);
    TControl& close = Control("Button2");
    close.SetLeft(443);
    EXPECT_EQ(close.Left(), 443);
    EXPECT_EQ(PlaceOf("Button2").left, 665);  // 443 * 1.5, rounded
    EXPECT_EQ(PlaceOf("Button2").right, 777);  // (443 + 75) * 1.5
    close.SetCaption("&Close");
    EXPECT_EQ(WindowText(Handle("Button2")), "&Close");
}

TEST_F(WizardForm, PathLabelFitsItsPathInTheFontItIsDrawnWith) {
    for (int dpi : {96, 144}) {
        Make(dpi);
        auto& label = dynamic_cast<TFileLabelControl&>(Control("filelabel1"));
        label.Label().SetFileName("C:\\Apps\\Ledger");
        EXPECT_EQ(label.Caption(), "C:\\Apps\\Ledger") << dpi;
        const std::string path =
            "C:\\Programs\\Nordvik Data AS\\Ledger 3 for Windows\\Shared company files"
            "\\Archive of the year 2004\\Printed reports\\ledger.exe";
        label.Label().SetFileName(path);
        const std::string caption = label.Caption();
        EXPECT_EQ(caption.rfind("C:\\...\\", 0), 0u) << caption;
        EXPECT_EQ(caption.substr(caption.size() - 10), "ledger.exe") << caption;
        // Measured as drawn: in the label's own font, within its width.
        const TWindowDC dc(form->Handle());
        const HFONT font =
            reinterpret_cast<HFONT>(::SendMessageA(Handle("NesteKnapp"), WM_GETFONT, 0, 0));
        const TSelectObject select(dc.Get(), font);
        SIZE size{};
        ::GetTextExtentPoint32A(dc.Get(), caption.data(), static_cast<int>(caption.size()), &size);
        EXPECT_LE(size.cx, ::MulDiv(333, dpi, 96)) << caption;
        EXPECT_GT(size.cx, ::MulDiv(333, dpi, 96) / 2) << caption;
        form.reset();
    }
}

TEST_F(WizardForm, WarningAndFailureLinesShareTheContentArea) {
    Make();
    TControl& memo = Control("Memo1");
    auto& warning = dynamic_cast<TPaintedLabel&>(Control("Label12"));
    memo.SetCaption("Could not update the file C:\\Apps\\Ledger\\ledger.exe");
    memo.SetVisible(true);
    ExpectRect(PlaceOf("Memo1"), 180, 64, 337, 177, "memo alone");

    warning.SetVisible(true);
    const int warningBottom = 64 + warning.TextHeight();
    EXPECT_GT(warning.TextHeight(), 0);
    const RECT shared = PlaceOf("Memo1");
    EXPECT_GE(shared.top, warningBottom);
    EXPECT_LE(shared.top, 64 + 81);  // within the warning's own place
    EXPECT_EQ(shared.bottom, 241);
    EXPECT_EQ(shared.left, 180);

    warning.SetVisible(false);
    ExpectRect(PlaceOf("Memo1"), 180, 64, 337, 177, "memo after the warning went");
}

// --- keys ---

TEST_F(WizardForm, TabFollowsTheTabOrderOverWhatCanBeReached) {
    Make();
    LoadTexts();
    ShowWindow();
    form->Update().ShowPage();  // page 1, no notes: Next and Close only
    ::SetFocus(Handle("NesteKnapp"));
    Key(VK_TAB);
    EXPECT_EQ(FocusName(), "Button2");
    Key(VK_TAB);
    EXPECT_EQ(FocusName(), "NesteKnapp");  // Previous is disabled, the rest hidden
    Key(VK_TAB, true);
    EXPECT_EQ(FocusName(), "Button2");

    form->Update().Page = 2;
    form->Update().ShowPage();
    ::SetFocus(Handle("StartKnapp"));
    Key(VK_TAB);
    EXPECT_EQ(FocusName(), "driveliste");
    Key(VK_TAB);
    EXPECT_EQ(FocusName(), "Button2");
    Key(VK_TAB);
    EXPECT_EQ(FocusName(), "ForrigeKnapp");
    Key(VK_TAB, true);
    EXPECT_EQ(FocusName(), "Button2");
}

TEST_F(WizardForm, EnterPressesTheVisibleDefaultButtonAndEscCloses) {
    Make();
    LoadTexts();
    ShowWindow();
    form->Update().ShowPage();
    ::SetFocus(Handle("NesteKnapp"));
    EXPECT_EQ(form->DefaultButton()->Name(), "NesteKnapp");
    Key(VK_RETURN);
    EXPECT_EQ(form->Update().Page, 2);
    // Next is disabled under Start now: Enter belongs to Start.
    EXPECT_EQ(form->DefaultButton()->Name(), "StartKnapp");
    EXPECT_EQ(FocusName(), "StartKnapp");
    EXPECT_EQ(::GetWindowLongA(Handle("StartKnapp"), GWL_STYLE) & BS_TYPEMASK, BS_DEFPUSHBUTTON);
    EXPECT_EQ(form->CancelButton()->Name(), "Button2");

    Key(VK_ESCAPE);
    EXPECT_TRUE(form->Destroyed());
    EXPECT_EQ(form->Update().ExitCode(), ecClosedEarly);
}

TEST_F(WizardForm, EscDuringTheSearchCancelsIt) {
    // Start, and Esc waiting in the queue for the search's first look at it.
    QueueStartOnDriveC();
    ::PostMessageA(form->Handle(), WM_KEYDOWN, VK_ESCAPE, 0);
    form->ProcessMessages();

    EXPECT_EQ(form->Update().Page, 2);
    EXPECT_TRUE(form->Update().CancelRequested);
    EXPECT_FALSE(Control("AvbrytKnapp").Visible());
    EXPECT_TRUE(Control("StartKnapp").Visible());
    EXPECT_EQ(form->CursorKind(), TCursorKind::crDefault);
    EXPECT_FALSE(form->Destroyed());
}

TEST_F(WizardForm, CloseDuringTheSearchClosesOnceItHasStopped) {
    QueueStartOnDriveC();
    ::PostMessageA(form->Handle(), WM_CLOSE, 0, 0);
    form->ProcessMessages();

    EXPECT_NE(form->Update().Page, 3);  // the search did not complete
    EXPECT_TRUE(form->Destroyed());
}

// --- errors and start-up ---

TEST_F(WizardForm, AnErrorInAHandlerIsShownAndTheProgramGoesOn) {
    Make();  // no language texts: page 2 asks for one that is not there
    ShowWindow();
    ::PostMessageA(form->Handle(), WM_COMMAND, MAKEWPARAM(idNesteKnapp, BN_CLICKED),
                   reinterpret_cast<LPARAM>(Handle("NesteKnapp")));
    form->ProcessMessages();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].Text.rfind("List index out of bounds (", 0), 0u) << boxes[0].Text;
    EXPECT_EQ(boxes[0].Caption, "Ostrel Update");
    EXPECT_EQ(boxes[0].Type & MB_ICONMASK, static_cast<UINT>(MB_ICONERROR));
    EXPECT_FALSE(form->Destroyed());
    EXPECT_TRUE(::IsWindowVisible(form->Handle()));
}

TEST_F(WizardForm, CancelledOpenDialogEndsStartUpWithoutAWindow) {
    Make();
    EXPECT_FALSE(form->Show());
    EXPECT_EQ(dialogDirs, std::vector<std::string>{"C:\\"});
    EXPECT_TRUE(form->Destroyed());
    EXPECT_TRUE(boxes.empty());
    EXPECT_EQ(form->Update().ExitCode(), ecClosedEarly);
}

TEST_F(WizardForm, BrokenPackageGivesOneErrorAndNoWindow) {
    machine.AddFile("C:\\pkg\\broken.oup", std::string(600, '\x5A'));
    Make(96, {"C:\\oupdate.exe", "C:\\pkg\\broken.oup"});
    EXPECT_FALSE(form->Show());
    EXPECT_TRUE(dialogDirs.empty());
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_NE(boxes[0].Text.find("C:\\pkg\\broken.oup"), std::string::npos) << boxes[0].Text;
    EXPECT_TRUE(form->Destroyed());
    EXPECT_EQ(form->Update().ExitCode(), ecNoPackage);
}

TEST_F(WizardForm, CloseDuringStartUpEndsItWithoutAWindowOrAWorkDir) {
    WritePackage("C:\\pkg\\ledger.oup", "notes");
    dialogAnswer = "C:\\pkg\\ledger.oup";
    Make();
    ::PostMessageA(form->Handle(), WM_CLOSE, 0, 0);  // met by start-up's first look at the queue
    EXPECT_FALSE(form->Show());
    EXPECT_TRUE(form->Destroyed());
    EXPECT_EQ(form->Update().ExitCode(), ecClosedEarly);
    for (const std::string& path : machine.AllPaths())
        EXPECT_EQ(path.find("oupdate-"), std::string::npos) << path;
}

TEST_F(WizardForm, TheEndOfTheSessionTakesTheWorkDirectoryAway) {
    WritePackage("C:\\pkg\\ledger.oup", "notes");
    dialogAnswer = "C:\\pkg\\ledger.oup";
    Make();
    ASSERT_TRUE(form->Show());
    const std::string work = form->Update().WorkDir;
    ASSERT_TRUE(machine.Exists(work + "ledger.ex_"));
    // Asked first, then told: the process ends after this, with no close.
    EXPECT_TRUE(::SendMessageA(form->Handle(), WM_QUERYENDSESSION, 0, 0));
    ::SendMessageA(form->Handle(), WM_ENDSESSION, TRUE, 0);
    EXPECT_FALSE(machine.Exists(work));
}

TEST_F(WizardForm, StartUpShowsPageOneWithTheNotes) {
    WritePackage("C:\\pkg\\ledger.oup", "What is new in 3.2.0");
    dialogAnswer = "C:\\pkg\\ledger.oup";
    Make();
    ASSERT_TRUE(form->Show());
    EXPECT_TRUE(boxes.empty()) << boxes[0].Text;
    EXPECT_TRUE(::IsWindowVisible(form->Handle()));
    EXPECT_EQ(Control("advpanel2").Caption(), "Update Ledger 3 to 3.2.0.");
    EXPECT_EQ(Control("OXPPanel1").Caption(), "Ledger 3");
    EXPECT_TRUE(Control("Memo1").Visible());
    EXPECT_EQ(WindowText(Handle("Memo1")), "What is new in 3.2.0");
    EXPECT_FALSE(Control("Label1").Visible());
    EXPECT_FALSE(Control("StartKnapp").Visible());
    EXPECT_EQ(WindowText(Handle("NesteKnapp")), "&Next >>");
    EXPECT_EQ(FocusName(), "NesteKnapp");
}

// --- the window over a long start-up restore ---

// Watches the windows the thread creates and destroys (a CBT hook): what the
// restore window showed when it went, and whether the wizard was on screen
// by then. Can post a message to the restore window as it is made.
class TRestoreWindowWatch {
public:
    explicit TRestoreWindowWatch(HWND wizard) : wizard_(wizard) {
        current_ = this;
        hook_ = ::SetWindowsHookExA(WH_CBT, Hook, nullptr, ::GetCurrentThreadId());
    }
    ~TRestoreWindowWatch() {
        ::UnhookWindowsHookEx(hook_);
        current_ = nullptr;
    }

    UINT PostOnCreate = 0;
    WPARAM PostWParam = 0;
    int Created = 0;
    std::string Caption, FileName;
    RECT Client{};
    int Percent = -1;
    bool WizardVisibleAtDestroy = false;

private:
    static bool IsRestoreWindow(HWND window) {
        char name[64] = {};
        ::GetClassNameA(window, name, sizeof name);
        return std::string(name) == "OstrelUpdateRestore";
    }
    static LRESULT CALLBACK Hook(int code, WPARAM wParam, LPARAM lParam) {
        TRestoreWindowWatch* self = current_;
        const HWND window = reinterpret_cast<HWND>(wParam);
        if (self && code == HCBT_CREATEWND && IsRestoreWindow(window)) {
            ++self->Created;
            if (self->PostOnCreate) ::PostMessageA(window, self->PostOnCreate, self->PostWParam, 0);
        } else if (self && code == HCBT_DESTROYWND && IsRestoreWindow(window)) {
            char text[256] = {};
            ::GetWindowTextA(window, text, sizeof text);
            self->Caption = text;
            ::GetDlgItemTextA(window, 201, text, sizeof text);
            self->FileName = text;
            ::GetClientRect(window, &self->Client);
            self->Percent = static_cast<int>(
                ::SendMessageA(::GetDlgItem(window, 202), PBM_GETPOS, 0, 0));
            self->WizardVisibleAtDestroy = ::IsWindowVisible(self->wizard_) != FALSE;
        }
        return ::CallNextHookEx(nullptr, code, wParam, lParam);
    }

    static inline TRestoreWindowWatch* current_ = nullptr;
    HWND wizard_;
    HHOOK hook_;
};

TEST_F(WizardForm, ALongRestoreShowsItsWindowUntilTheWizardIsOnScreen) {
    WritePackage("C:\\pkg\\ledger.oup", "What is new");
    int64_t now = 0;
    clock = [&now] { return now += 100; };  // every look at the clock takes 100 ms
    Make(144, {"C:\\oupdate.exe", "C:\\pkg\\ledger.oup"});
    TRestoreWindowWatch watch(form->Handle());
    ASSERT_TRUE(form->Show());

    EXPECT_EQ(watch.Created, 1);
    EXPECT_EQ(watch.Caption, "Ostrel Update");
    EXPECT_EQ(watch.FileName, "ledger.oup");
    EXPECT_EQ(watch.Client.right, 540);  // 360 x 103 at 96 dpi
    EXPECT_EQ(watch.Client.bottom, 155);
    EXPECT_EQ(watch.Percent, 100);
    EXPECT_TRUE(watch.WizardVisibleAtDestroy);
    EXPECT_EQ(form->RestoreWindow(), nullptr);
}

TEST_F(WizardForm, ARestoreThatFailsTakesItsWindowAwayBeforeTheMessage) {
    WritePackage("C:\\pkg\\ledger.oup", "What is new");
    const std::string bytes = machine.Content("C:\\pkg\\ledger.oup");
    machine.AddFile("C:\\pkg\\ledger.oup", bytes.substr(0, bytes.size() - 8));
    int64_t now = 0;
    clock = [&now] { return now += 100; };
    Make(96, {"C:\\oupdate.exe", "C:\\pkg\\ledger.oup"});
    TRestoreWindowWatch watch(form->Handle());
    EXPECT_FALSE(form->Show());
    EXPECT_EQ(watch.Created, 1);
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxesOverRestoreWindow, 0);
    EXPECT_EQ(form->Update().ExitCode(), ecNoPackage);
}

TEST_F(WizardForm, EscCancelOrACloseOfTheRestoreWindowEndsWithoutTheWizard) {
    const struct {
        UINT message;
        WPARAM wParam;
    } inputs[] = {
        {WM_KEYDOWN, VK_ESCAPE},
        {WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED)},
        {WM_CLOSE, 0},  // Alt+F4, the close box
    };
    for (const auto& input : inputs) {
        SCOPED_TRACE(input.message);
        WritePackage("C:\\pkg\\ledger.oup", "What is new");
        int64_t now = 0;
        clock = [&now] { return now += 100; };
        Make(96, {"C:\\oupdate.exe", "C:\\pkg\\ledger.oup"});
        TRestoreWindowWatch watch(form->Handle());
        watch.PostOnCreate = input.message;
        watch.PostWParam = input.wParam;
        EXPECT_FALSE(form->Show());

        EXPECT_EQ(watch.Created, 1);
        EXPECT_LT(watch.Percent, 100);
        EXPECT_FALSE(watch.WizardVisibleAtDestroy);
        EXPECT_TRUE(form->Destroyed());
        EXPECT_TRUE(boxes.empty());
        EXPECT_EQ(form->Update().ExitCode(), ecClosedEarly);
        form.reset();
    }
}

}  // namespace
}  // namespace oup::win32
