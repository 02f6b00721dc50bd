// The instance search on a fake machine: order, the Windows directory, what
// does and does not count as an installation, cancel and close mid-walk.
#include <gtest/gtest.h>

#include "support/FakeWizard.h"

namespace oup::test {
namespace {

using TNames = std::vector<std::string>;

class Search : public ::testing::Test {
protected:
    // A wizard on page 2 after start-up, with these drive-list items ticked.
    TUpdate& Ready(const TNames& items = {"C:"}) {
        TUpdate& u = w.Create();
        for (const std::string& t : StandardLanguage()) u.LanguageTexts.Add(t);
        u.Script.ProgramName = "Ledger 3";
        u.Script.ProgramFile = "ledger.exe";
        u.WorkDir = "C:\\TEMP\\oupdate-1\\";
        u.WindowsDir = "C:\\WINDOWS";
        u.Page = 2;
        for (const std::string& item : items) w.driveliste.AddItem(item, true);
        return u;
    }
    void Install(const std::string& dir, uint32_t attr = faArchive) {
        w.Machine.AddFile(dir + "\\ledger.exe", "MZ", TFakeMachine::kDefaultTime, attr);
    }
    TFakeWizard w;
};

TEST_F(Search, WalksEachItemBreadthFirstAndListsHitsInOrderOfDiscovery) {
    w.Machine.AddDrive('D');
    Install("C:\\Apps\\Deep\\Er\\Ledger");
    Install("C:\\Zed\\Ledger");  // shallower, so found first
    Install("D:");
    Install("D:\\B\\Ledger");
    TUpdate& u = Ready({"C:", "D:"});
    u.StartKnappClick();

    EXPECT_EQ((TNames{"C:\\Zed\\Ledger", "C:\\Apps\\Deep\\Er\\Ledger", "D:", "D:\\B\\Ledger"}),
              w.Liste.Captions());
    for (int i = 0; i < w.Liste.Count(); ++i) EXPECT_TRUE(w.Liste.ItemChecked(i));
    EXPECT_EQ((TNames{"C:\\WINDOWS", "C:", "C:\\WINDOWS\\SYSTEM32", "C:\\Apps", "C:\\TEMP",
                      "C:\\Zed", "C:\\Apps\\Deep", "C:\\Zed\\Ledger", "C:\\Apps\\Deep\\Er",
                      "C:\\Apps\\Deep\\Er\\Ledger", "D:", "D:\\B", "D:\\B\\Ledger"}),
              u.DirQueue);
    // Messages flow once per item and once before each listing, no more.
    EXPECT_EQ(2 + static_cast<int>(u.DirQueue.size()), w.Services.Pumps);
    EXPECT_EQ("D:\\B\\Ledger", w.filelabel1.Label().FileName());

    EXPECT_EQ(3, u.Page);
    EXPECT_EQ("Found 4 copies of Ledger 3.", w.advpanel2.Caption());
    EXPECT_EQ("&Update", w.NesteKnapp.Caption());
    EXPECT_TRUE(w.NesteKnapp.Enabled());
    EXPECT_FALSE(w.bane.Visible() || w.filelabel1.Visible() || w.Animate1.Visible());
    EXPECT_FALSE(w.Animate1.Playing());
    EXPECT_EQ(TCursorKind::crDefault, w.Services.Cursor);
    EXPECT_FALSE(u.Searching());
}

TEST_F(Search, WindowsDirectoryComesFirstButIsWalkedAndListedOnce) {
    Install("C:\\Apps\\Ledger");
    Install("C:\\WINDOWS");
    Install("C:\\WINDOWS\\Ledger");
    TUpdate& u = Ready({"c:"});
    u.WindowsDir = "c:\\windows";  // as the system may spell it
    u.StartKnappClick();
    // Below the Windows directory first; the directory itself when the
    // root's walk reaches it.
    EXPECT_EQ((TNames{"c:\\windows\\Ledger", "c:\\WINDOWS", "c:\\Apps\\Ledger"}),
              w.Liste.Captions());
    EXPECT_EQ("c:\\windows", u.DirQueue.at(0));

    // On another drive it is still walked first for "C:", and not again
    // when its own drive is walked.
    w.Machine.AddDrive('D');
    Install("D:\\WIN\\Ledger");
    u.WindowsDir = "D:\\WIN";
    w.driveliste.Clear();
    w.driveliste.AddItem("D:", true);
    w.driveliste.AddItem("C:", true);
    u.Page = 2;
    u.StartKnappClick();
    EXPECT_EQ((TNames{"D:\\WIN\\Ledger", "C:\\WINDOWS", "C:\\Apps\\Ledger",
                      "C:\\WINDOWS\\Ledger"}),
              w.Liste.Captions());
}

TEST_F(Search, OnlyVisibleEntriesOutsideTheWorkDirCount) {
    Install("C:\\TEMP\\oupdate-1");   // the package's own copy
    Install("C:\\TEMP\\oupdate-1x");  // merely a similar name
    w.Machine.AddDir("C:\\Hid", faDirectory | faHidden);
    Install("C:\\Hid");
    Install("C:\\Hid\\Ledger");
    w.Machine.AddDir("C:\\Sys", faDirectory | faSysFile);
    Install("C:\\Sys\\Ledger");
    Install("C:\\HiddenFile", faArchive | faHidden);
    Install("C:\\SystemFile", faArchive | faSysFile);
    w.Machine.AddDir("C:\\Odd\\ledger.exe");  // a directory of that name counts
    w.Machine.AddDir("C:\\Link", faDirectory | faReparsePoint);
    Install("C:\\Link");
    Install("C:\\Link\\Ledger");  // behind a link: never walked into
    TUpdate& u = Ready();
    u.StartKnappClick();
    EXPECT_EQ((TNames{"C:\\Link", "C:\\Odd", "C:\\TEMP\\oupdate-1x"}), w.Liste.Captions());

    // The work directory test upper-cases as the ANSI code page does.
    u.WorkDir = "C:\\TEMP\\\xC6\xD8\\";
    Install("C:\\TEMP\\\xE6\xF8");
    EXPECT_FALSE(u.IsInstanceDir("C:\\TEMP\\\xE6\xF8"));
    EXPECT_TRUE(u.IsInstanceDir("C:\\TEMP\\oupdate-1"));
}

TEST_F(Search, ProgramFileMayHoldWildcards) {
    w.Machine.AddFile("C:\\A\\ledger.dat", "");
    w.Machine.AddFile("C:\\B\\ledger", "");
    w.Machine.AddFile("C:\\C\\ledgerx.exe", "");
    w.Machine.AddFile("C:\\D\\ledXer.exe", "");
    TUpdate& u = Ready();
    u.Script.ProgramFile = "ledger.*";
    u.StartKnappClick();
    EXPECT_EQ((TNames{"C:\\A", "C:\\B"}), w.Liste.Captions());
    u.Script.ProgramFile = "led?er.exe";
    EXPECT_TRUE(u.IsInstanceDir("C:\\D"));
    EXPECT_FALSE(u.IsInstanceDir("C:\\C"));
}

TEST_F(Search, RepeatedAndNestedItemsAreSearchedOnceAndUntickedOnesNotAtAll) {
    w.Machine.AddDrive('D');
    w.Machine.AddDrive('E');
    Install("D:");
    Install("D:\\Apps\\Ledger");
    Install("E:\\Ledger");
    TUpdate& u = Ready({"D:\\Apps", "D:", "d:", "E:"});
    w.driveliste.SetItemChecked(3, false);
    u.StartKnappClick();
    EXPECT_EQ((TNames{"D:\\Apps\\Ledger", "D:"}), w.Liste.Captions());

    for (int i = 0; i < w.driveliste.Count(); ++i) w.driveliste.SetItemChecked(i, false);
    u.Page = 2;
    u.StartKnappClick();
    EXPECT_EQ(3, u.Page);
    EXPECT_EQ(0, w.Liste.Count());
    EXPECT_EQ("Found 0 copies of Ledger 3.", w.advpanel2.Caption());
}

// A tree wide enough that a search takes many pumps.
void Forest(TFakeMachine& m) {
    for (char a = 'a'; a <= 'h'; ++a)
        for (char b = 'a'; b <= 'h'; ++b)
            m.AddFile(std::string("C:\\") + a + "\\" + b + "\\ledger.exe", "MZ");
}

TEST_F(Search, CancelInsideThePumpStopsTheWalkAndAFreshSearchStartsOver) {
    Forest(w.Machine);
    TUpdate& u = Ready();
    int pumps = 0, listedAtCancel = -1;
    w.Services.OnPump = [&] {
        if (++pumps == 1) {  // the state the search sets up
            EXPECT_TRUE(u.Searching());
            EXPECT_FALSE(w.NesteKnapp.Enabled() || w.ForrigeKnapp.Enabled());
            EXPECT_TRUE(w.AvbrytKnapp.Visible() && w.bane.Visible() && w.filelabel1.Visible());
            EXPECT_FALSE(w.StartKnapp.Visible() || w.driveliste.Visible());
            EXPECT_TRUE(w.Animate1.Playing());
            EXPECT_EQ(TCursorKind::crHourGlass, w.Services.Cursor);
        }
        if (pumps == 12) {
            listedAtCancel = w.Liste.Count();
            u.AvbrytKnappClick();
        }
    };
    u.StartKnappClick();
    EXPECT_EQ(12, pumps);
    EXPECT_GT(listedAtCancel, 0);
    EXPECT_EQ(listedAtCancel, w.Liste.Count());
    EXPECT_EQ(2, u.Page);
    EXPECT_TRUE(w.StartKnapp.Visible() && w.driveliste.Visible());
    EXPECT_FALSE(w.AvbrytKnapp.Visible());
    EXPECT_EQ(TCursorKind::crDefault, w.Services.Cursor);
    EXPECT_FALSE(u.Searching());

    w.Services.OnPump = nullptr;
    u.StartKnappClick();
    EXPECT_EQ(64, w.Liste.Count());
    EXPECT_EQ(3, u.Page);
}

TEST_F(Search, CloseDuringTheSearchStopsItFirstAndThenCloses) {
    Forest(w.Machine);
    TUpdate& u = Ready();
    int pumps = 0, listedAtClose = -1;
    size_t queuedAtClose = 0;
    w.Services.OnPump = [&] {
        if (++pumps != 5) return;
        listedAtClose = w.Liste.Count();
        queuedAtClose = u.DirQueue.size();
        EXPECT_FALSE(u.CloseQuery());  // held: the walk still uses DirQueue
        EXPECT_EQ(0, w.Services.Closes);
    };
    u.StartKnappClick();
    EXPECT_EQ(5, pumps);
    EXPECT_GT(queuedAtClose, 0u);
    EXPECT_EQ(1, w.Services.Closes);
    EXPECT_TRUE(u.DirQueue.empty());  // released by the close, after the walk
    EXPECT_EQ(listedAtClose, w.Liste.Count());
    EXPECT_EQ(2, u.Page);
    EXPECT_FALSE(u.Searching());
}

}  // namespace
}  // namespace oup::test
