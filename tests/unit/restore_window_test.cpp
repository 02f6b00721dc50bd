// The window over a long start-up restore, on fakes: the delay before it
// shows, and Cancel in it.
#include <gtest/gtest.h>

#include "app/RestoreProgress.h"
#include "support/FakeWizard.h"
#include "support/PackageKit.h"

namespace oup::test {
namespace {

// A package of 16 blocks, each followed by a message pump: five small files
// (one block and the closing BlockSize each) and 80 KiB that do not
// compress (five blocks and the closing one).
TTestPackage SixteenBlockPackage() {
    TTestPackage p;
    p.Script = StandardScript();
    p.Language = StandardLanguage();
    p.Payload = {{"file0.dat", "new ledger"},
                 {"readme.txt", "read me"},
                 {"big.bin", NoiseBytes(5 * 16384, 7)}};
    return p;
}

TEST(RestoreWindow, ShowsOnlyWhenTheRestoreOutlastsTheDelay) {
    const struct {
        int64_t msPerBlock;
        bool silent;
        bool shown;
    } cases[] = {
        {10, false, false},  // 16 blocks, 160 ms: over before the delay
        {100, false, true},
        {100, true, false},  // unattended: never
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.msPerBlock << " ms, silent " << c.silent);
        TFakeWizard w;
        WritePackage(w.Machine, "C:\\pkg\\ledger.oup", SixteenBlockPackage());
        w.Args.push_back("C:\\pkg\\ledger.oup");
        if (c.silent) w.Args.push_back("/S");
        w.Services.OnPump = [&] { w.Services.Now += c.msPerBlock; };
        TUpdate& u = w.Create();
        u.FormShow();

        EXPECT_EQ(1, u.Page);  // the wizard goes on either way
        EXPECT_TRUE(w.Services.Messages.empty());
        EXPECT_FALSE(w.Services.RestoreWindowOpen);  // handed back at the end
        if (c.shown) {
            EXPECT_EQ(std::vector<std::string>{"ledger.oup"}, w.Services.RestoreWindows);
            EXPECT_EQ(100, w.Services.RestorePercent);
            // The first pump is start-up's own, before the restore starts.
            EXPECT_EQ(c.msPerBlock + kRestoreWindowDelayMs, w.Services.RestoreShownAt);
        } else {
            EXPECT_TRUE(w.Services.RestoreWindows.empty());
            EXPECT_EQ(-1, w.Services.RestorePercent);
        }
    }
}

TEST(RestoreWindow, CancelStopsTheRestoreAndLeavesNoFileBehind) {
    TFakeWizard w;
    // A self-contained update: the package behind the updater's own image.
    WritePackage(w.Machine, "C:\\build\\ledger.oup", SixteenBlockPackage());
    const std::string bytes = w.Machine.Content("C:\\build\\ledger.oup");
    w.InstallExecutable(std::vector<uint8_t>(bytes.begin(), bytes.end()));
    TUpdate& u = w.Create();

    int pumpsAtCancel = -1;
    bool cutFileThere = false;
    w.Services.OnPump = [&] {
        w.Services.Now += 100;
        // Partway through big.bin, the last file of the package.
        if (pumpsAtCancel < 0 && w.Services.RestorePercent > 0 && w.Services.RestorePercent < 50 &&
            w.Machine.Exists(u.WorkDir + "big.bin")) {
            w.Services.CancelRestore = true;
            pumpsAtCancel = w.Services.Pumps;
            cutFileThere = true;
        }
    };
    u.FormShow();

    ASSERT_TRUE(cutFileThere);
    EXPECT_EQ(pumpsAtCancel, w.Services.Pumps);  // not one block more
    EXPECT_EQ(ecClosedEarly, u.ExitCode());
    EXPECT_TRUE(w.Services.Messages.empty());  // the user's choice: no error
    EXPECT_EQ(1, w.Services.Closes);
    EXPECT_EQ(1, u.Page);
    EXPECT_EQ("Instruksjoner", w.advpanel2.Caption());  // the wizard was never set up
    EXPECT_FALSE(w.Services.RestoreWindowOpen);
    for (const std::string& path : w.Machine.AllPaths())
        EXPECT_NE(0u, path.rfind("C:\\TEMP\\", 0)) << path << " is left behind";
    EXPECT_EQ(0, w.Machine.OpenCount());
}

}  // namespace
}  // namespace oup::test
