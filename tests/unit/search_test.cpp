// The instance search on a fake machine: order, the Windows directory, what
// does and does not count as an installation; and the wizard's search page
// around it: the display, cancel and close mid-walk.
#include <gtest/gtest.h>

#include "search/InstanceSearch.h"
#include "support/FakeWizard.h"

namespace oup::test {
namespace {

using TNames = std::vector<std::string>;

class Search : public ::testing::Test {
protected:
    Search() {
        m.AddDrive('C');
        m.AddDir("C:\\TEMP");
        m.AddDir("C:\\WINDOWS\\SYSTEM32");
    }
    // The installations found under these roots, in order.
    TNames Run(const TNames& roots) {
        TInstanceSearch search(m, setup);
        TNames found;
        search.OnFound = [&](const std::string& dir) { found.push_back(dir); };
        m.Listings.clear();
        EXPECT_TRUE(search.Run(roots));
        return found;
    }
    bool IsInstance(const std::string& dir) { return TInstanceSearch(m, setup).IsInstanceDir(dir); }
    void Install(const std::string& dir, uint32_t attr = faArchive) {
        m.AddFile(dir + "\\ledger.exe", "MZ", TFakeMachine::kDefaultTime, attr);
    }
    TFakeMachine m;
    TInstanceSearchSetup setup{"ledger.exe", "C:\\TEMP\\oupdate-1\\", "C:\\WINDOWS"};
};

TEST_F(Search, WalksEachRootBreadthFirstAndListsHitsInOrderOfDiscovery) {
    m.AddDrive('D');
    Install("C:\\Apps\\Deep\\Er\\Ledger");
    Install("C:\\Zed\\Ledger");  // shallower, so found first
    Install("D:");
    Install("D:\\B\\Ledger");
    EXPECT_EQ((TNames{"C:\\Zed\\Ledger", "C:\\Apps\\Deep\\Er\\Ledger", "D:", "D:\\B\\Ledger"}),
              Run({"C:", "D:"}));
    // Each directory is listed once, level by level, the Windows directory first.
    EXPECT_EQ((TNames{"C:\\WINDOWS", "C:", "C:\\WINDOWS\\SYSTEM32", "C:\\Apps", "C:\\TEMP",
                      "C:\\Zed", "C:\\Apps\\Deep", "C:\\Zed\\Ledger",
                      "C:\\Apps\\Deep\\Er", "C:\\Apps\\Deep\\Er\\Ledger", "D:", "D:\\B",
                      "D:\\B\\Ledger"}),
              m.Listings);
}

TEST_F(Search, WindowsDirectoryComesFirstButIsWalkedAndListedOnce) {
    Install("C:\\Apps\\Ledger");
    Install("C:\\WINDOWS");
    Install("C:\\WINDOWS\\Ledger");
    setup.WindowsDir = "c:\\windows";  // as the system may spell it
    // Below the Windows directory first; the directory itself when the
    // root's walk reaches it.
    EXPECT_EQ((TNames{"c:\\windows\\Ledger", "c:\\WINDOWS", "c:\\Apps\\Ledger"}), Run({"c:"}));
    EXPECT_EQ("c:\\windows", m.Listings.at(0));

    // On another drive it is still walked first for "C:", and not again
    // when its own drive is walked.
    m.AddDrive('D');
    Install("D:\\WIN\\Ledger");
    setup.WindowsDir = "D:\\WIN";
    EXPECT_EQ((TNames{"D:\\WIN\\Ledger", "C:\\WINDOWS", "C:\\Apps\\Ledger", "C:\\WINDOWS\\Ledger"}),
              Run({"D:", "C:"}));
}

TEST_F(Search, OnlyVisibleEntriesOutsideTheWorkDirCount) {
    Install("C:\\TEMP\\oupdate-1");   // the package's own copy
    Install("C:\\TEMP\\oupdate-1x");  // merely a similar name
    m.AddDir("C:\\Hid", faDirectory | faHidden);
    Install("C:\\Hid");
    Install("C:\\Hid\\Ledger");
    m.AddDir("C:\\Sys", faDirectory | faSysFile);
    Install("C:\\Sys\\Ledger");
    Install("C:\\HiddenFile", faArchive | faHidden);
    Install("C:\\SystemFile", faArchive | faSysFile);
    m.AddDir("C:\\Odd\\ledger.exe");  // a directory of that name counts
    m.AddDir("C:\\Link", faDirectory | faReparsePoint);
    Install("C:\\Link");
    Install("C:\\Link\\Ledger");  // behind a link: never walked into
    EXPECT_EQ((TNames{"C:\\Link", "C:\\Odd", "C:\\TEMP\\oupdate-1x"}), Run({"C:"}));

    // The work directory test upper-cases as the ANSI code page does.
    setup.WorkDir = "C:\\TEMP\\\xC6\xD8\\";
    Install("C:\\TEMP\\\xE6\xF8");
    EXPECT_FALSE(IsInstance("C:\\TEMP\\\xE6\xF8"));
    EXPECT_TRUE(IsInstance("C:\\TEMP\\oupdate-1"));
}

TEST_F(Search, ProgramFileMayHoldWildcards) {
    m.AddFile("C:\\A\\ledger.dat", "");
    m.AddFile("C:\\B\\ledger", "");
    m.AddFile("C:\\C\\ledgerx.exe", "");
    m.AddFile("C:\\D\\ledXer.exe", "");
    setup.ProgramFile = "ledger.*";
    EXPECT_EQ((TNames{"C:\\A", "C:\\B"}), Run({"C:"}));
    setup.ProgramFile = "led?er.exe";
    EXPECT_TRUE(IsInstance("C:\\D"));
    EXPECT_FALSE(IsInstance("C:\\C"));
}

TEST_F(Search, RepeatedAndNestedRootsAreSearchedOnce) {
    m.AddDrive('D');
    Install("D:");
    Install("D:\\Apps\\Ledger");
    EXPECT_EQ((TNames{"D:\\Apps\\Ledger", "D:"}), Run({"D:\\Apps", "D:", "d:"}));
    EXPECT_TRUE(Run({}).empty());
}

// The wizard's search page: the roots are the ticked drive-list items.
class SearchPage : public ::testing::Test {
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
    TFakeWizard w;
};

TEST_F(SearchPage, TickedItemsAreSearchedAndPageThreeShowsTheHits) {
    w.Machine.AddDrive('D');
    w.Machine.AddDrive('E');
    w.Machine.AddFile("D:\\B\\Ledger\\ledger.exe", "MZ");
    w.Machine.AddFile("E:\\Ledger\\ledger.exe", "MZ");
    TUpdate& u = Ready({"C:", "D:", "E:"});
    w.driveliste.SetItemChecked(2, false);
    w.Machine.Listings.clear();
    u.StartKnappClick();

    EXPECT_EQ(TNames{"D:\\B\\Ledger"}, w.Liste.Captions());
    EXPECT_TRUE(w.Liste.ItemChecked(0));
    // Messages flow once per item and once before each listing, no more.
    EXPECT_EQ(2 + static_cast<int>(w.Machine.Listings.size()), w.Services.Pumps);
    EXPECT_EQ("D:\\B\\Ledger", w.filelabel1.Label().FileName());

    EXPECT_EQ(3, u.Page);
    EXPECT_EQ("Found 1 copies of Ledger 3.", w.advpanel2.Caption());
    EXPECT_EQ("&Update", w.NesteKnapp.Caption());
    EXPECT_TRUE(w.NesteKnapp.Enabled());
    EXPECT_FALSE(w.bane.Visible() || w.filelabel1.Visible() || w.Animate1.Visible());
    EXPECT_FALSE(w.Animate1.Playing());
    EXPECT_EQ(TCursorKind::crDefault, w.Services.Cursor);
    EXPECT_FALSE(u.Searching());

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

TEST_F(SearchPage, CancelInsideThePumpStopsTheWalkAndAFreshSearchStartsOver) {
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
    EXPECT_FALSE(w.bane.Visible() || w.filelabel1.Visible());  // no path of a search that ended
    EXPECT_EQ(TCursorKind::crDefault, w.Services.Cursor);
    EXPECT_FALSE(u.Searching());

    w.Services.OnPump = nullptr;
    u.StartKnappClick();
    EXPECT_EQ(64, w.Liste.Count());
    EXPECT_EQ(3, u.Page);
}

TEST_F(SearchPage, CancelThenEnterInsideThePumpStartsNoSecondSearchAndNoUpdate) {
    Forest(w.Machine);
    TUpdate& u = Ready();
    int pumps = 0;
    w.Services.OnPump = [&] {
        if (++pumps != 5) return;
        // Esc, then Enter on the Start button that Cancel has just shown;
        // then Enter again, which would press Next (Update) on page 3.
        u.AvbrytKnappClick();
        u.StartKnappClick();
        u.NesteKnappClick();
    };
    u.StartKnappClick();
    EXPECT_EQ(5, pumps);
    EXPECT_EQ(2, u.Page);
    EXPECT_FALSE(w.Animate1.Clip() == TCommonAVI::aviCopyFiles);  // the update never ran
    EXPECT_EQ(ecClosedEarly, u.ExitCode());
    EXPECT_FALSE(u.Searching());
}

TEST_F(SearchPage, CloseDuringTheSearchStopsItFirstAndThenCloses) {
    Forest(w.Machine);
    TUpdate& u = Ready();
    int pumps = 0, listedAtClose = -1;
    bool searchingAtClose = true;
    w.Services.OnClose = [&] {
        searchingAtClose = u.Searching();
        u.FormClose();
    };
    w.Services.OnPump = [&] {
        if (++pumps != 5) return;
        listedAtClose = w.Liste.Count();
        EXPECT_FALSE(u.CloseQuery());  // held: the walk still uses its queue
        EXPECT_EQ(0, w.Services.Closes);
    };
    u.StartKnappClick();
    EXPECT_EQ(5, pumps);
    EXPECT_EQ(1, w.Services.Closes);
    EXPECT_FALSE(searchingAtClose);  // closed once the walk had let go
    EXPECT_EQ(listedAtClose, w.Liste.Count());
    EXPECT_EQ(2, u.Page);
    EXPECT_FALSE(u.Searching());
}

}  // namespace
}  // namespace oup::test
