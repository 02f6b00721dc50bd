// Where an elevated update run writes, on a fake machine that users have
// prepared: links inside an installation, a link re-pointed while the run
// waits, folders open to users, one installation reached twice, a run that
// ends early, and a log file that leads elsewhere.
#include <gtest/gtest.h>

#include "app/UpdateLog.h"
#include "support/FakeWizard.h"
#include "update/UpdateRun.h"

namespace oup::test {
namespace {

using TNames = std::vector<std::string>;
const char* kWork = "C:\\TEMP\\W\\";
const char* kSys = "C:\\WINDOWS\\SYSTEM32";
const char* kOutside = "outside the installation";
struct TKilled {};  // the run ends here, as when its process is killed

// A machine with a system directory, the package copies in the work
// directory and the entries of one run.
struct TScene {
    TScene() {
        m.AddDrive('C');
        m.AddDrive('D');
        m.AddDir(kSys);
        m.AddDir(kWork);
        m.AddFile(std::string(kSys) + "\\kernel.dll", "system file");
    }
    void Entry(const std::string& name, const std::string& targetDir = "<installdir>\\") {
        m.AddFile(kWork + name, "new " + name);
        TFileEntry e;
        e.SourceName = e.TargetName = name;
        e.Mode = "Always copy";
        e.TargetDir = targetDir;
        e.FileDate = StrToDateTime("01.03.2005 10:00:00");
        entries.push_back(e);
    }
    // The outcome of each pair, as the log words it.
    TNames Update(const TNames& dirs) {
        std::vector<TInstallation> installations;
        for (const std::string& dir : dirs) installations.push_back({dir, true});
        TUpdateRun run(m, entries, {kWork, "C:\\WINDOWS", kSys});
        TNames outcomes;
        run.OnReport = [&](const TUpdateReport& r) {
            if (r.Kind == TReportKind::Installed) outcomes.push_back("Installed " + r.Target);
            if (r.Kind == TReportKind::Scheduled) outcomes.push_back("Scheduled " + r.Target);
            if (r.Kind == TReportKind::SameAs)
                outcomes.push_back("Same as " + r.Target + ": " + r.Installation);
            if (r.Kind == TReportKind::Failed)
                outcomes.push_back("Failed " + r.Target + ": " +
                                   (r.Reason == kThroughALinkText ? kOutside : r.Reason));
        };
        run.Run(installations);
        return outcomes;
    }
    // Files whose path holds text, in the case they were made with.
    TNames Holding(const std::string& text) {
        TNames found;
        for (const std::string& path : m.AllPaths())
            if (path.find(text) != std::string::npos) found.push_back(path);
        return found;
    }
    TFakeMachine m;
    std::vector<TFileEntry> entries;
};

// A link in a user-made installation, or one that only its final path
// gives away: the entry fails before anything is written, and nothing
// appears where the link leads. The control rows are written as usual.
TEST(WritePlaces, NothingIsWrittenThroughALinkInsideAnInstallation) {
    const struct {
        const char* Case;
        std::function<void(TFakeMachine&)> Prepare;
        std::string TargetDir;
        std::string Outcome;
    } cases[] = {
        {"a link to the system directory",
         [](TFakeMachine& m) { m.AddLink("D:\\Fake\\data", kSys); }, "<installdir>\\data\\",
         "Failed D:\\Fake\\data\\data.bin: outside the installation"},
        {"a link deeper down",
         [](TFakeMachine& m) { m.AddLink("D:\\Fake\\a\\b", kSys); }, "<installdir>\\a\\b\\c\\",
         "Failed D:\\Fake\\a\\b\\c\\data.bin: outside the installation"},
        {"a link that shows as a folder",
         [](TFakeMachine& m) { m.AddLink("D:\\Fake\\data", kSys, false); },
         "<installdir>\\data\\", "Failed D:\\Fake\\data\\data.bin: outside the installation"},
        {"a part that climbs out", [](TFakeMachine&) {}, "<installdir>\\..\\..\\WINDOWS\\",
         "Failed D:\\Fake\\..\\..\\WINDOWS\\data.bin: climbs out of the folder it names"},
        {"a plain folder", [](TFakeMachine&) {}, "<installdir>\\data\\",
         "Installed D:\\Fake\\data\\data.bin"},
        {"the installation reached through a link",
         [](TFakeMachine& m) {
             m.AddDir("D:\\Real");
             m.AddLink("D:\\Fake", "D:\\Real");
         },
         "<installdir>\\data\\", "Installed D:\\Fake\\data\\data.bin"},
        {"the file's own name a link to a system file",
         [](TFakeMachine& m) {
             m.AddLink("D:\\Fake\\data.bin", std::string(kSys) + "\\kernel.dll", false);
         },
         "<installdir>\\", "Installed D:\\Fake\\data.bin"},
    };
    for (const auto& c : cases) {
        TScene fresh;
        fresh.m.AddFile("D:\\Fake\\ledger.exe", "user-made");
        c.Prepare(fresh.m);
        fresh.Entry("data.bin", c.TargetDir);
        EXPECT_EQ(TNames{c.Outcome}, fresh.Update({"D:\\Fake"})) << c.Case;
        EXPECT_EQ(TNames{std::string(kSys) + "\\kernel.dll"}, fresh.Holding("SYSTEM32\\"))
            << c.Case;
        EXPECT_EQ("system file", fresh.m.Content(std::string(kSys) + "\\kernel.dll")) << c.Case;
        EXPECT_EQ(TNames{}, fresh.Holding("~oup")) << c.Case;
    }
}

// A file held through the retries waits for the restart only in a folder
// that no other user can change before it; elsewhere it fails as in use.
TEST(WritePlaces, RestartReplacementOnlyWhereOnlyAdministratorsMayWrite) {
    const std::string users = "S-1-5-32-545", everyone = "S-1-1-0", other = "S-1-5-21-9-9-9-1001";
    const std::string trustedInstaller =
        "S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464";
    const std::string refused = "Failed D:\\App\\app.exe: in use: its folder admits write to "
                                "other users, so it is not left to be replaced at restart";
    const struct {
        std::optional<TNames> Writers;  // nothing: rights that cannot be read
        std::string Outcome;
    } cases[] = {
        {TNames{"S-1-5-18", "S-1-5-32-544", trustedInstaller}, "Scheduled D:\\App\\app.exe"},
        {TNames{"S-1-5-18", TFakeMachine().Account}, "Scheduled D:\\App\\app.exe"},
        {TNames{"S-1-5-18", "S-1-5-32-544", users}, refused},
        {TNames{everyone}, refused},
        {TNames{"S-1-5-18", other}, refused},
        {std::nullopt, refused},
    };
    for (const auto& c : cases) {
        TScene fresh;
        fresh.m.AddFile("D:\\App\\app.exe", "running");
        fresh.m.Lock("D:\\App\\app.exe");
        if (c.Writers)
            fresh.m.SetWriters("D:\\App", *c.Writers);
        else
            fresh.m.SetWritersUnknown("D:\\App");
        fresh.Entry("app.exe");
        EXPECT_EQ(TNames{c.Outcome}, fresh.Update({"D:\\App"}));
        const bool scheduled = c.Outcome[0] == 'S';
        EXPECT_EQ(scheduled, fresh.m.Exists("D:\\App\\app.exe.oupnew"));
        EXPECT_EQ(scheduled ? 1u : 0u, fresh.m.PendingRenames.size());
        EXPECT_EQ("running", fresh.m.Content("D:\\App\\app.exe"));
        EXPECT_EQ(TNames{}, fresh.Holding("~oup"));
    }
}

// The folder a search reached the installation by is re-pointed while a
// held file keeps the run waiting: the run stays in the folder it resolved,
// and stages and schedules by that folder's own path.
TEST(WritePlaces, ALinkRepointedDuringTheRetriesLeadsNowhere) {
    TScene scene;
    TFakeMachine& m = scene.m;
    m.AddFile("D:\\Real\\app.exe", "running");
    m.Lock("D:\\Real\\app.exe");
    m.AddLink("D:\\Link", "D:\\Real");
    m.OnSleep = [&] { m.AddLink("D:\\Link", kSys); };
    scene.Entry("app.exe");
    scene.Entry("data.bin", "<installdir>\\data\\");
    EXPECT_EQ((TNames{"Scheduled D:\\Link\\app.exe", "Installed D:\\Link\\data\\data.bin"}),
              scene.Update({"D:\\Link"}));
    EXPECT_EQ(TNames{std::string(kSys) + "\\kernel.dll"}, scene.Holding("SYSTEM32\\"));
    EXPECT_TRUE(m.Exists("D:\\Real\\data\\data.bin"));
    using TRenames = std::vector<std::pair<std::string, std::string>>;
    EXPECT_EQ((TRenames{{"D:\\Real\\app.exe.oupnew", "D:\\Real\\app.exe"}}), m.PendingRenames);
}

// Killed at any moment, a run leaves no temporary file: it goes with its
// handle until it is renamed into place. The target is old or new, and the
// next run completes.
TEST(WritePlaces, ARunThatEndsEarlyLeavesNoTemporaryFile) {
    const struct {
        const char* Moment;
        std::function<void(TFakeMachine&)> Arm;
        std::string Content;  // of the target after the kill
    } cases[] = {
        {"as the copy begins",
         [](TFakeMachine& m) { m.BeforeCopy = [](const std::string&) { throw TKilled{}; }; },
         "old"},
        {"in the retries for a held file",
         [](TFakeMachine& m) {
             m.Lock("D:\\App\\app.exe");
             m.OnSleep = [] { throw TKilled{}; };
         },
         "old"},
        {"just before the rename",
         [](TFakeMachine& m) { m.BeforeCommit = [](const std::string&) { throw TKilled{}; }; },
         "old"},
        {"after the first file",
         [](TFakeMachine& m) {
             m.BeforeCommit = [](const std::string& target) {
                 if (target.find("two") != std::string::npos) throw TKilled{};
             };
         },
         "new app.exe"},
    };
    for (const auto& c : cases) {
        TScene fresh;
        fresh.m.AddFile("D:\\App\\app.exe", "old");
        fresh.Entry("app.exe");
        fresh.Entry("two.dll");
        c.Arm(fresh.m);
        EXPECT_THROW(fresh.Update({"D:\\App"}), TKilled) << c.Moment;
        EXPECT_EQ(TNames{}, fresh.Holding("~oup")) << c.Moment;
        EXPECT_EQ(c.Content, fresh.m.Content("D:\\App\\app.exe")) << c.Moment;

        fresh.m.BeforeCopy = nullptr;
        fresh.m.BeforeCommit = nullptr;
        fresh.m.OnSleep = nullptr;
        fresh.m.Lock("D:\\App\\app.exe", false);
        fresh.Update({"D:\\App"});
        EXPECT_EQ("new app.exe", fresh.m.Content("D:\\App\\app.exe")) << c.Moment;
        EXPECT_EQ(TNames{}, fresh.Holding("~oup")) << c.Moment;
        // Every new file reached the disk before its rename.
        EXPECT_GE(fresh.m.Commits, 2) << c.Moment;
        EXPECT_EQ(0, fresh.m.UnflushedCommits) << c.Moment;
    }
}

// One folder reached by two paths is one installation: the log says so, and
// it is updated once, at the path met first.
TEST(WritePlaces, OneInstallationReachedTwiceIsUpdatedOnce) {
    const struct {
        TNames Dirs;
        TNames Outcomes;
    } cases[] = {
        {{"D:\\Ledger", "D:\\Link"},
         {"Installed D:\\Ledger\\ledger.exe", "Same as D:\\Ledger: D:\\Link"}},
        {{"D:\\Link", "D:\\LEDGER"},
         {"Installed D:\\Link\\ledger.exe", "Same as D:\\Link: D:\\LEDGER"}},
        {{"D:\\Ledger", "D:\\Other"},
         {"Installed D:\\Ledger\\ledger.exe", "Installed D:\\Other\\ledger.exe"}},
    };
    int copies = 0;
    for (const auto& c : cases) {
        TScene fresh;
        fresh.m.AddFile("D:\\Ledger\\ledger.exe", "old");
        fresh.m.AddFile("D:\\Other\\ledger.exe", "old");
        fresh.m.AddLink("D:\\Link", "D:\\Ledger");
        fresh.Entry("ledger.exe");
        fresh.m.BeforeCopy = [&](const std::string&) { ++copies; };
        EXPECT_EQ(c.Outcomes, fresh.Update(c.Dirs));
    }
    EXPECT_EQ(4, copies);
}

// The log is never written through a link, a second name or a path that
// resolves elsewhere; unattended, such a log ends the run with status 2 and
// the reason on standard error.
TEST(WritePlaces, ALogThatLeadsElsewhereIsRefused) {
    const std::string script = "C:\\Tasks\\nightly.cmd";
    const struct {
        std::function<void(TFakeMachine&)> Prepare;
        std::string Refusal;  // empty: the log is written
    } cases[] = {
        {[](TFakeMachine&) {}, ""},
        {[](TFakeMachine& m) { m.AddFile("C:\\Logs\\update.log", "earlier\r\n"); }, ""},
        {[&](TFakeMachine& m) { m.AddLink("C:\\Logs\\update.log", script); },
         "it is a link (a reparse point)"},
        {[&](TFakeMachine& m) { m.AddLink("C:\\Logs\\update.log", script, false); },
         "it resolves to \"C:\\Tasks\\nightly.cmd\""},
        {[&](TFakeMachine& m) {
             m.AddDir("C:\\Elsewhere");
             m.RemoveDir("C:\\Logs");
             m.AddLink("C:\\Logs", "C:\\Elsewhere");
         },
         "it resolves to \"C:\\Elsewhere\\update.log\""},
    };
    for (const auto& c : cases) {
        TFakeWizard w;
        w.Machine.AddDir("C:\\Logs");
        w.Machine.AddFile(script, "@echo nightly\r\n");
        c.Prepare(w.Machine);
        const int status =
            RunUnattended(w.Machine, ParseCommandLine({"C:\\oupdate.exe", "/S",
                                                       "/LOG=C:\\Logs\\update.log", "C:\\none.oup"}));
        EXPECT_EQ(ecNoPackage, status);
        EXPECT_EQ("@echo nightly\r\n", w.Machine.Content(script));
        if (c.Refusal.empty()) {
            EXPECT_NE(std::string::npos, w.Machine.Content("C:\\Logs\\update.log").find("Error: "));
        } else {
            EXPECT_EQ("The log file \"C:\\Logs\\update.log\" is refused: " + c.Refusal + ".\r\n",
                      w.Machine.StandardError);
        }
    }
    // A second name of the same file (a hard link) is refused too.
    TFakeMachine m;
    m.AddDrive('C');
    m.AddFile("C:\\Logs\\x", "");
    std::unique_ptr<TDirectory> logs;
    ASSERT_TRUE(m.OpenDirectory("C:\\Logs", logs));
    ASSERT_TRUE(logs->LinkEntry("x", "update.log"));
    EXPECT_THROW(TUpdateLog(m, "C:\\Logs\\update.log"), EFOpenError);
}

}  // namespace
}  // namespace oup::test
