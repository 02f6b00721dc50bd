// Where an elevated update run writes, on a fake machine that users have
// prepared: links inside an installation, a link re-pointed while the run
// waits, folders open to users, one installation reached twice, a run that
// ends early, a log file that leads elsewhere; and all or nothing per
// installation (/ATOMIC).
#include <gtest/gtest.h>

#include "support/FakeWizard.h"
#include "update/UpdateRun.h"

namespace oup::test {
namespace {

using TNames = std::vector<std::string>;
using TPrepare = std::function<void(TFakeMachine&)>;
const char* kWork = "C:\\TEMP\\W\\";
const std::string kSys = "C:\\WINDOWS\\SYSTEM32";
struct TKilled {};  // the run ends here, as when its process is killed
const std::vector<std::string> kSystemOnly = {kSys, kSys + "\\kernel.dll=system file"};

// A machine with a system directory, the package copies in the work
// directory and the entries of one run.
struct TScene {
    TScene() {
        m.AddDrive('C');
        m.AddDrive('D');
        m.AddDir(kWork);
        m.AddFile(kSys + "\\kernel.dll", "system file");
    }
    void Entry(const std::string& source, std::string target = {},
               const std::string& targetDir = "<installdir>\\") {
        m.AddFile(kWork + source, "new " + source);
        TFileEntry e;
        e.SourceName = source;
        e.TargetName = target.empty() ? source : target;
        e.Mode = "Always copy";
        e.TargetDir = targetDir;
        entries.push_back(e);
    }
    // The outcomes as the log words them.
    TNames Update(const TNames& dirs, bool atomic = false) {
        std::vector<TInstallation> installations;
        for (const std::string& dir : dirs) installations.push_back({dir, true});
        TUpdateRun run(m, entries, {kWork, "C:\\WINDOWS", kSys});
        run.Atomic = atomic;
        TNames lines;
        run.OnReport = [&](const TUpdateReport& r) {
            const std::string why = r.Reason == kThroughALinkText ? "outside" : r.Reason;
            switch (r.Kind) {
                case TReportKind::Installed:
                    lines.push_back("Installed " + r.Target);
                    break;
                case TReportKind::Scheduled:
                    lines.push_back("Scheduled " + r.Target);
                    break;
                case TReportKind::PutBack:
                    lines.push_back("Put back " + r.Target);
                    break;
                case TReportKind::KeptRemoved:
                    lines.push_back("Removed " + r.Target);
                    break;
                case TReportKind::Failed:
                    lines.push_back("Failed " + r.Target + ": " + why);
                    break;
                case TReportKind::SameAs:
                case TReportKind::LeftUnchanged:
                    lines.push_back(r.Installation + ": " + r.Target + r.Reason);
                    break;
                default:
                    break;
            }
        };
        run.Run(installations);
        return lines;
    }
    // Paths holding text, with a file's content.
    TNames Holding(const std::string& text) {
        TNames found;
        for (const std::string& path : m.AllPaths())
            if (path.find(text) != std::string::npos)
                found.push_back(m.GetAttributes(path) & faDirectory ? path
                                                                    : path + "=" + m.Content(path));
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
        TPrepare Prepare;
        std::string TargetDir, Outcome;
    } cases[] = {
        {[](TFakeMachine& m) { m.AddLink("D:\\Fake\\a\\data", kSys); }, "<installdir>\\a\\data\\",
         "Failed D:\\Fake\\a\\data\\data.bin: outside"},
        {[](TFakeMachine& m) { m.AddLink("D:\\Fake\\data", kSys, false); },  // shows as a folder
         "<installdir>\\data\\", "Failed D:\\Fake\\data\\data.bin: outside"},
        {[](TFakeMachine&) {}, "<installdir>\\..\\..\\WINDOWS\\",
         "Failed D:\\Fake\\..\\..\\WINDOWS\\data.bin: climbs out of the folder it names"},
        {[](TFakeMachine&) {}, "<installdir>\\data\\", "Installed D:\\Fake\\data\\data.bin"},
        {[](TFakeMachine& m) { m.AddLink("D:\\Fake", "D:\\Real"); },  // the installation itself
         "<installdir>\\data\\", "Installed D:\\Fake\\data\\data.bin"},
        {[](TFakeMachine& m) { m.AddLink("D:\\Fake\\data.bin", kSys + "\\kernel.dll", false); },
         "<installdir>\\", "Installed D:\\Fake\\data.bin"},  // replaced, not written through
    };
    for (const auto& c : cases) {
        TScene s;
        s.m.AddFile("D:\\Real\\ledger.exe", "user-made");
        s.m.AddFile("D:\\Fake\\ledger.exe", "user-made");
        c.Prepare(s.m);
        s.Entry("data.bin", {}, c.TargetDir);
        EXPECT_EQ(TNames{c.Outcome}, s.Update({"D:\\Fake"})) << c.TargetDir;
        EXPECT_EQ(kSystemOnly, s.Holding("SYSTEM32"));
        EXPECT_EQ(TNames{}, s.Holding("~oup"));
    }
}

// A file held through the retries waits for the restart only in a folder
// that no other user can change before it; elsewhere it fails as in use.
TEST(WritePlaces, RestartReplacementOnlyWhereOnlyAdministratorsMayWrite) {
    const std::string refused =
        "Failed D:\\App\\app.exe: in use: its folder admits write to "
        "other users, so it is not left to be replaced at restart";
    const struct {
        std::optional<TNames> Writers;  // nothing: rights that cannot be read
        std::string Outcome;
    } cases[] = {
        {TNames{"S-1-5-18", "S-1-5-32-544",
                "S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464"},
         "Scheduled D:\\App\\app.exe"},
        {TNames{"S-1-5-18", TFakeMachine().AccountSid}, "Scheduled D:\\App\\app.exe"},
        {TNames{"S-1-5-18", "S-1-5-32-544", "S-1-5-32-545"}, refused},  // Users
        {TNames{"S-1-1-0"}, refused},                                   // Everyone
        {TNames{"S-1-5-18", "S-1-5-21-9-9-9-1001"}, refused},           // another account
        {std::nullopt, refused},
    };
    for (const auto& c : cases) {
        TScene s;
        s.m.AddFile("D:\\App\\app.exe", "running");
        s.m.Lock("D:\\App\\app.exe");
        s.m.SetWriters("D:\\App", c.Writers);
        s.Entry("app.exe");
        EXPECT_EQ(TNames{c.Outcome}, s.Update({"D:\\App"}));
        const bool scheduled = c.Outcome[0] == 'S';
        EXPECT_EQ(scheduled ? 1u : 0u, s.m.PendingRenames.size());
        EXPECT_EQ((scheduled ? TNames{"D:\\App\\app.exe.oupnew=new app.exe"} : TNames{}),
                  s.Holding(".oupnew"));
        EXPECT_EQ(TNames{}, s.Holding("~oup"));
    }

    // The folder the search reached the installation by is re-pointed while
    // the run waits: it stays in the folder it resolved, and stages and
    // schedules by that folder's own path.
    TScene s;
    s.m.AddFile("D:\\Real\\app.exe", "running");
    s.m.Lock("D:\\Real\\app.exe");
    s.m.AddLink("D:\\Link", "D:\\Real");
    s.m.OnSleep = [&] { s.m.AddLink("D:\\Link", kSys); };
    s.Entry("app.exe");
    s.Entry("data.bin", {}, "<installdir>\\data\\");
    EXPECT_EQ((TNames{"Scheduled D:\\Link\\app.exe", "Installed D:\\Link\\data\\data.bin"}),
              s.Update({"D:\\Link"}));
    EXPECT_EQ(kSystemOnly, s.Holding("SYSTEM32"));
    using TRenames = std::vector<std::pair<std::string, std::string>>;
    EXPECT_EQ((TRenames{{"D:\\Real\\app.exe.oupnew", "D:\\Real\\app.exe"}}), s.m.PendingRenames);
}

// Killed at any moment, a run leaves no temporary file: it goes with its
// handle until it is put in place. The target is old or new, and the next
// run completes, each file flushed before its rename.
TEST(WritePlaces, ARunThatEndsEarlyLeavesNoTemporaryFile) {
    const auto kill = [](const std::string&) { throw TKilled{}; };
    const struct {
        TPrepare Arm;
        std::string Content;  // of the target after the kill
    } cases[] = {
        {[&](TFakeMachine& m) { m.BeforeCopy = kill; }, "old"},
        {[&](TFakeMachine& m) { m.BeforeCommit = kill; }, "old"},
        {[](TFakeMachine& m) {  // in the retries for a held file
             m.Lock("D:\\App\\app.exe");
             m.OnSleep = [] { throw TKilled{}; };
         },
         "old"},
        {[](TFakeMachine& m) {  // after the first file
             m.BeforeCommit = [](const std::string& t) {
                 if (t.find("two") != std::string::npos) throw TKilled{};
             };
         },
         "new app.exe"},
    };
    for (const auto& c : cases) {
        TScene s;
        s.m.AddFile("D:\\App\\app.exe", "old");
        s.Entry("app.exe");
        s.Entry("two.dll");
        c.Arm(s.m);
        EXPECT_THROW(s.Update({"D:\\App"}), TKilled) << c.Content;
        EXPECT_EQ(TNames{}, s.Holding("~oup"));
        EXPECT_EQ(c.Content, s.m.Content("D:\\App\\app.exe"));
        s.m.BeforeCopy = s.m.BeforeCommit = nullptr;
        s.m.OnSleep = nullptr;
        s.m.Lock("D:\\App\\app.exe", false);
        s.Update({"D:\\App"});
        EXPECT_EQ((TNames{"D:\\App\\app.exe=new app.exe", "D:\\App\\two.dll=new two.dll"}),
                  s.Holding("D:\\App\\"));
        EXPECT_EQ(0, s.m.UnflushedCommits);
        EXPECT_GE(s.m.Commits, 2);
    }
}

// One folder reached by two paths is one installation, updated once at the
// path met first; the log says so.
TEST(WritePlaces, OneInstallationReachedTwiceIsUpdatedOnce) {
    const struct {
        TNames Dirs, Outcomes;
    } cases[] = {
        {{"D:\\Ledger", "D:\\Link"}, {"Installed D:\\Ledger\\ledger.exe", "D:\\Link: D:\\Ledger"}},
        {{"D:\\Link", "D:\\LEDGER"}, {"Installed D:\\Link\\ledger.exe", "D:\\LEDGER: D:\\Link"}},
        {{"D:\\Ledger", "D:\\Other"},
         {"Installed D:\\Ledger\\ledger.exe", "Installed D:\\Other\\ledger.exe"}},
    };
    for (const auto& c : cases) {
        TScene s;
        s.m.AddFile("D:\\Ledger\\ledger.exe", "old");
        s.m.AddFile("D:\\Other\\ledger.exe", "old");
        s.m.AddLink("D:\\Link", "D:\\Ledger");
        s.Entry("ledger.exe");
        int copies = 0;
        s.m.BeforeCopy = [&](const std::string&) { ++copies; };
        EXPECT_EQ(c.Outcomes, s.Update(c.Dirs));
        EXPECT_EQ(static_cast<int>(c.Outcomes.size()) - (c.Outcomes[1][0] != 'I'), copies);
    }
}

// The log is never written through a link, a second name or a path that
// resolves elsewhere; unattended, such a log ends the run with status 2 and
// the reason on standard error. The report file keeps the same rules.
TEST(WritePlaces, ALogOrReportThatLeadsElsewhereIsRefused) {
    const std::string script = "C:\\Tasks\\nightly.cmd";
    const struct {
        TPrepare Prepare;
        std::string Refusal;  // empty: the log is written
    } cases[] = {
        {[](TFakeMachine&) {}, ""},
        {[](TFakeMachine& m) { m.AddFile("C:\\Logs\\update.log", "earlier\r\n"); }, ""},
        {[&](TFakeMachine& m) { m.AddLink("C:\\Logs\\update.log", script); },
         "it is a link (a reparse point)"},
        {[&](TFakeMachine& m) { m.AddLink("C:\\Logs\\update.log", script, false); },
         "it resolves to \"C:\\Tasks\\nightly.cmd\""},
        {[](TFakeMachine& m) {
             m.RemoveDir("C:\\Logs");
             m.AddLink("C:\\Logs", "C:\\Tasks");
         },
         "it resolves to \"C:\\Tasks\\update.log\""},
        {[](TFakeMachine& m) {
             m.AddFile("C:\\Logs\\update.log", "");
             std::unique_ptr<TDirectory> logs;
             m.OpenDirectory("C:\\Logs", logs);
             logs->LinkEntry("update.log", "second.log");
         },
         "it has 2 names (hard links)"},
    };
    for (const bool report : {false, true}) {
        for (const auto& c : cases) {
            TFakeWizard w;
            w.Machine.AddDir("C:\\Logs");
            w.Machine.AddFile(script, "@echo nightly\r\n");
            c.Prepare(w.Machine);
            const std::string option = report ? "/REPORT=" : "/LOG=";
            EXPECT_EQ(ecNoPackage,
                      RunUnattended(w.Machine, ParseCommandLine({"C:\\oupdate.exe", "/S",
                                                                 option + "C:\\Logs\\update.log",
                                                                 "C:\\x.oup"})));
            EXPECT_EQ("@echo nightly\r\n", w.Machine.Content(script)) << option << c.Refusal;
            const std::string what = report ? "report file" : "log file";
            if (c.Refusal.empty())
                EXPECT_NE(std::string::npos, w.Machine.Content("C:\\Logs\\update.log")
                                                 .find(report ? "\"exitStatus\": 2" : "Error: "));
            else
                EXPECT_NE(std::string::npos,
                          w.Machine.StandardError.find(
                              "The " + what + " \"C:\\Logs\\update.log\" is refused: " + c.Refusal +
                              ".\r\n"))
                    << w.Machine.StandardError;
        }
    }
}

// All or nothing: an installation that one file cannot go into is left as
// it was, the swaps done undone latest first; what a killed run left half
// swapped is put back before anything is decided, and what one killed after
// its last swap kept only goes.
TEST(Atomic, AnInstallationGetsEveryFileOrNone) {
    const auto all = [](const std::string& dir, TNames before = {}) {
        for (const char* f : {"\\b.dll", "\\b.dll", "\\a.exe", "\\data\\c.dat"})
            before.push_back("Installed " + dir + f);
        return before;
    };
    const TNames old = {"D:\\One\\a.exe=old a", "D:\\One\\b.dll=old b"};
    const TNames updated = {"D:\\One\\a.exe=new a.exe", "D:\\One\\b.dll=new b.dll", "D:\\One\\data",
                            "D:\\One\\data\\c.dat=new c.dat"};
    const std::string one = "D:\\One: D:\\One\\";
    const struct {
        TPrepare Prepare;
        bool Atomic;
        TNames Lines, One;
    } cases[] = {
        {[](TFakeMachine&) {}, true, all("D:\\Two", all("D:\\One")), updated},
        {[](TFakeMachine& m) { m.SetAttr("D:\\One\\b.dll", faReadOnly); }, true,
         all("D:\\Two", {one + "b.dll: read-only: it cannot be replaced"}), old},
        {[](TFakeMachine& m) { m.Lock("D:\\One\\a.exe"); }, true,
         all("D:\\Two", {one + "a.exe: in use: it could only be replaced at a restart"}), old},
        {[](TFakeMachine& m) { m.SetDiskSpace('D', 6); },
         true,  // a copy breaks off
         {one + "b.dll: Stream write error", "D:\\Two: D:\\Two\\b.dll: Stream write error"},
         old},
        {[](TFakeMachine& m) {  // the third swap fails: two are undone
             m.BeforeCommit = [&m](const std::string& target) {
                 if (target == "D:\\One\\a.exe") m.Lock(target);
             };
         },
         true, all("D:\\Two", {one + "a.exe: in use"}), old},
        {[](TFakeMachine& m) {  // a killed run kept these; then a.exe is older
             m.AddFile("D:\\One\\a.exe", "new a from the killed run");
             m.AddFile("D:\\One\\a.exe.oupold", "old a", 0x2A210000);
             m.AddFile("D:\\One\\b.dll.oupold", "a kept b");
         },
         false,
         all("D:\\Two", all("D:\\One", {"Put back D:\\One\\b.dll", "Put back D:\\One\\a.exe"})),
         updated},
        {[](TFakeMachine& m) {  // a killed run had every file in: its kept ones only go
             m.AddFile("D:\\One\\a.exe", "new a.exe");
             m.AddFile("D:\\One\\a.exe.oupold", "old a", 0x2A210000);
             m.AddFile("D:\\One\\b.dll.oupold", "a kept b");
             m.AddFile("D:\\One\\~oupdone", "");
         },
         false,
         all("D:\\Two", {"Removed D:\\One\\b.dll.oupold", "Removed D:\\One\\a.exe.oupold",
                         "Installed D:\\One\\b.dll", "Installed D:\\One\\b.dll",
                         "Installed D:\\One\\data\\c.dat"}),
         updated},
    };
    for (const auto& c : cases) {
        TScene s;
        for (const char* dir : {"D:\\One", "D:\\Two"}) {
            s.m.AddFile(std::string(dir) + "\\a.exe", "old a", 0x2A210000);
            s.m.AddFile(std::string(dir) + "\\b.dll", "old b");
        }
        // Two entries for one target: undone in the wrong order, the first
        // new version would come back, or nothing, instead of the old one.
        s.Entry("b0.dll", "b.dll");
        s.Entry("b.dll");
        s.Entry("a.exe");
        s.entries.back().Mode = "Update if older or missing";
        s.Entry("c.dat", {}, "<installdir>\\data\\");
        c.Prepare(s.m);
        EXPECT_EQ(c.Lines, s.Update({"D:\\One", "D:\\Two"}, c.Atomic));
        EXPECT_EQ(c.One, s.Holding("D:\\One\\"));
        EXPECT_EQ(TNames{}, s.Holding("~oup"));
        EXPECT_EQ(TNames{}, s.Holding(".oupold"));
    }
}

}  // namespace
}  // namespace oup::test
