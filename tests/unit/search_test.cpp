// The instance search on a fake machine: order, the Windows directory, what
// does and does not count as an installation, the same hits as the plain
// walk; and the wizard's search page around it: the display, cancel and
// close mid-walk with listings in flight.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <random>

#include "search/InstanceSearch.h"
#include "support/FakeWizard.h"
#include "support/ReferenceSearch.h"

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
    // Each directory is listed once, and nothing else is: no existence
    // checks, no separate search for the program file (the pool lists in
    // any order).
    std::sort(m.Listings.begin(), m.Listings.end());
    EXPECT_EQ((TNames{"C:", "C:\\Apps", "C:\\Apps\\Deep", "C:\\Apps\\Deep\\Er",
                      "C:\\Apps\\Deep\\Er\\Ledger", "C:\\TEMP", "C:\\WINDOWS",
                      "C:\\WINDOWS\\SYSTEM32", "C:\\Zed", "C:\\Zed\\Ledger", "D:", "D:\\B",
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

TEST_F(Search, NearThePathLimitThePresenceSearchDecides) {
    // Paths of 16 characters or more are not found. "C:\\Deep\\*.*" lists,
    // but "C:\\Deep\\ledger.exe" is too long to be found; "C:\\Deeper\\Di\\*.*"
    // does not list, but "C:\\Deeper\\Di\\ab" is found.
    m.PathLimit = 16;
    Install("C:\\Deep");
    m.AddFile("C:\\Deeper\\Di\\ab", "");
    EXPECT_EQ(TNames{}, Run({"C:"}));
    setup.ProgramFile = "ab";
    EXPECT_EQ(TNames{"C:\\Deeper\\Di"}, Run({"C:"}));
}

TEST_F(Search, ANameOutsideTheCodePageIsReportedNotWalked) {
    Install("C:\\Apps\\Ledger");
    Install("C:\\Apps\\Ledger\\Old");
    m.SetNoAnsiName("C:\\Apps\\Ledger");
    Install("C:\\Apps\\Other");
    TInstanceSearch search(m, setup);
    TNames found, skipped;
    search.OnFound = [&](const std::string& dir) { found.push_back(dir); };
    search.OnNameNotRepresentable = [&](const std::string& dir) { skipped.push_back(dir); };
    EXPECT_TRUE(search.Run({"C:"}));
    EXPECT_EQ(TNames{"C:\\Apps\\Other"}, found);
    EXPECT_EQ(TNames{"C:\\Apps\\??????"}, skipped);
}

TEST_F(Search, ThePathDisplayFollowsTheClockNotEveryDirectory) {
    Install("C:\\Apps\\Deep\\Ledger");
    TInstanceSearch search(m, setup);
    TNames shown;
    search.OnDirectory = [&](const std::string& dir) { shown.push_back(dir); };
    // Time stands still: the first directory, and the last one at the end.
    search.Now = [] { return TInstanceSearch::TClock::time_point(); };
    EXPECT_TRUE(search.Run({"C:"}));
    EXPECT_EQ((TNames{"C:\\WINDOWS", "C:\\Apps\\Deep\\Ledger"}), shown);
    // A second between any two looks: every directory as it is taken.
    shown.clear();
    auto now = TInstanceSearch::TClock::time_point();
    search.Now = [&] { return now += std::chrono::seconds(1); };
    EXPECT_TRUE(search.Run({"C:"}));
    EXPECT_GE(shown.size(), 8u);
    EXPECT_EQ("C:\\Apps\\Deep\\Ledger", shown.back());
}

// A random machine: C: and D: with directories a few levels deep, hidden,
// system and link directories, program files (some hidden), a directory
// named like the program file, the Windows directory and the work directory.
void RandomMachine(TFakeMachine& m, std::mt19937& rng) {
    auto pick = [&](unsigned n) { return rng() % n; };
    std::function<void(const std::string&, int)> grow = [&](const std::string& dir, int depth) {
        const unsigned children = depth >= 4 ? 0 : pick(depth == 0 ? 6 : 4);
        for (unsigned i = 0; i < children; ++i) {
            const std::string sub = dir + "\\" + "abcAB"[pick(5)] + std::to_string(i);
            static const uint32_t kinds[] = {faHidden, faSysFile, faReparsePoint, 0, 0, 0, 0, 0, 0};
            m.AddDir(sub, faDirectory | kinds[pick(9)]);
            if (pick(4) == 0)
                m.AddFile(sub + (pick(2) ? "\\ledger.exe" : "\\LEDGER.EXE"), "MZ",
                          TFakeMachine::kDefaultTime, pick(5) == 0 ? faArchive | faHidden : faArchive);
            if (pick(20) == 0) m.AddDir(sub + "\\ledger.exe");
            if (pick(10) == 0) m.AddFile(sub + "\\ledger.dat", "");
            grow(sub, depth + 1);
        }
    };
    m.AddDrive('D');
    grow("C:", 0);
    grow("C:\\WINDOWS", 1);
    if (pick(2)) m.AddFile("C:\\WINDOWS\\ledger.exe", "MZ");
    grow("D:", 0);
    m.AddFile("C:\\TEMP\\oupdate-1\\ledger.exe", "MZ");
}

TEST_F(Search, RandomTreesGiveThePlainWalksHitsInItsOrder) {
    const TNames rootChoices{"C:", "D:", "c:", "C:\\WINDOWS", "D:\\a0", "D:\\A1", "C:\\b0"};
    const TNames programFiles{"ledger.exe", "LEDGER.EXE", "ledger.*", "led?er.exe"};
    const TNames windowsDirs{"C:\\WINDOWS", "c:\\windows", "D:\\a0"};
    int hits = 0;
    for (unsigned seed = 1; seed <= 60; ++seed) {
        SCOPED_TRACE("seed " + std::to_string(seed));
        std::mt19937 rng(seed);
        TFakeMachine machine;
        machine.AddDrive('C');
        RandomMachine(machine, rng);
        machine.PathLimit = seed % 3 == 0 ? 20 : 0;
        TInstanceSearchSetup random = setup;
        random.ProgramFile = programFiles[seed % 5 == 0 ? rng() % programFiles.size() : 0];
        random.WindowsDir = windowsDirs[rng() % windowsDirs.size()];
        TNames roots;
        for (unsigned n = 1 + rng() % 4; n > 0; --n) roots.push_back(rootChoices[rng() % rootChoices.size()]);

        const TNames expected = TReferenceSearch(machine, random).Run(roots);
        TInstanceSearch search(machine, random);
        TNames found;
        search.OnFound = [&](const std::string& dir) { found.push_back(dir); };
        EXPECT_TRUE(search.Run(roots));
        EXPECT_EQ(expected, found);
        hits += static_cast<int>(found.size());
    }
    EXPECT_GT(hits, 100);  // the trees hold something to find
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
    // Messages flow once per item and once before each directory is taken
    // (more while a listing is awaited).
    EXPECT_LE(2 + static_cast<int>(w.Machine.Listings.size()), w.Services.Pumps);
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

TEST_F(SearchPage, CancelWithAListingInFlightShowsPageTwoAtOnceAndAFreshSearchStartsOver) {
    Forest(w.Machine);
    w.Machine.HoldListings("C:\\h\\h");  // a share that hangs on the last directory
    TUpdate& u = Ready();
    int pumps = 0, listedAtCancel = -1, heldAfterCancel = 0;
    w.Services.OnPump = [&] {
        if (++pumps == 1) {  // the state the search sets up
            EXPECT_TRUE(u.Searching());
            EXPECT_FALSE(w.NesteKnapp.Enabled() || w.ForrigeKnapp.Enabled());
            EXPECT_TRUE(w.AvbrytKnapp.Visible() && w.bane.Visible() && w.filelabel1.Visible());
            EXPECT_FALSE(w.StartKnapp.Visible() || w.driveliste.Visible());
            EXPECT_TRUE(w.Animate1.Playing());
            EXPECT_EQ(TCursorKind::crHourGlass, w.Services.Cursor);
        }
        if (w.Machine.ListingsHeld() == 0 || w.Liste.Count() == 0) return;
        if (listedAtCancel < 0) {
            listedAtCancel = w.Liste.Count();
            u.AvbrytKnappClick();
            return;
        }
        // Page 2 is back while the listing still hangs, and the window is
        // served meanwhile, with a Start that cannot be pressed yet; the
        // search lets go once the listing is done.
        ++heldAfterCancel;
        EXPECT_EQ(2, u.Page);
        EXPECT_TRUE(w.StartKnapp.Visible() && u.Searching());
        EXPECT_FALSE(w.StartKnapp.Enabled());
        w.Machine.ReleaseListings();
    };
    u.StartKnappClick();
    EXPECT_GE(heldAfterCancel, 1);
    EXPECT_EQ(0, w.Machine.CallsInProgress());
    EXPECT_LT(listedAtCancel, 64);
    EXPECT_EQ(listedAtCancel, w.Liste.Count());  // nothing found after the cancel
    EXPECT_EQ(2, u.Page);
    EXPECT_TRUE(w.StartKnapp.Visible() && w.driveliste.Visible());
    EXPECT_TRUE(w.StartKnapp.Enabled());
    EXPECT_FALSE(w.AvbrytKnapp.Visible());
    EXPECT_FALSE(w.bane.Visible() || w.filelabel1.Visible());  // no path of a search that ended
    EXPECT_EQ(TCursorKind::crDefault, w.Services.Cursor);
    EXPECT_FALSE(u.Searching());

    w.Services.OnPump = nullptr;
    u.StartKnappClick();
    EXPECT_EQ(64, w.Liste.Count());
    EXPECT_EQ(3, u.Page);
}

TEST_F(SearchPage, BackToPageOneWhileACancelledSearchDrainsHoldsNextUntilItReturns) {
    Forest(w.Machine);
    w.Machine.HoldListings("C:\\h\\h");
    TUpdate& u = Ready();
    bool cancelled = false, nextWhileDraining = true;
    w.Services.OnPump = [&] {
        if (w.Machine.ListingsHeld() == 0 || cancelled) return;
        cancelled = true;
        u.AvbrytKnappClick();
        u.ForrigeKnappClick();
        nextWhileDraining = w.NesteKnapp.Enabled();
        w.Machine.ReleaseListings();
    };
    u.StartKnappClick();
    ASSERT_TRUE(cancelled);
    EXPECT_FALSE(nextWhileDraining);
    EXPECT_EQ(1, u.Page);
    EXPECT_TRUE(w.NesteKnapp.Enabled());
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
    EXPECT_LE(5, pumps);
    EXPECT_EQ(2, u.Page);
    EXPECT_FALSE(w.Animate1.Clip() == TCommonAVI::aviCopyFiles);  // the update never ran
    EXPECT_EQ(ecClosedEarly, u.ExitCode());
    EXPECT_FALSE(u.Searching());
}

TEST_F(SearchPage, CloseWithAListingInFlightStopsTheSearchJoinsThePoolAndThenCloses) {
    Forest(w.Machine);
    w.Machine.HoldListings("C:\\e\\c");
    TUpdate& u = Ready();
    int listedAtClose = -1, callsAtClose = -1;
    bool searchingAtClose = true;
    w.Services.OnClose = [&] {
        searchingAtClose = u.Searching();
        callsAtClose = w.Machine.CallsInProgress();
        u.FormClose();
    };
    w.Services.OnPump = [&] {
        EXPECT_EQ(0, w.Services.Closes);
        if (w.Machine.ListingsHeld() == 0) return;
        if (listedAtClose < 0) {
            listedAtClose = w.Liste.Count();
            EXPECT_FALSE(u.CloseQuery());  // held: the walk still uses its queue
        } else {
            w.Machine.ReleaseListings();
        }
    };
    u.StartKnappClick();
    EXPECT_EQ(1, w.Services.Closes);
    EXPECT_FALSE(searchingAtClose);  // closed once the walk had let go
    EXPECT_EQ(0, callsAtClose);      // and its pool had finished
    EXPECT_EQ(listedAtClose, w.Liste.Count());
    EXPECT_EQ(2, u.Page);
    EXPECT_FALSE(u.Searching());
}

}  // namespace
}  // namespace oup::test
