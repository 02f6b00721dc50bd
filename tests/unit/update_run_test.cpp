// The update run on a fake machine: the modes, the macros, the once-only rule
// for the Windows directories, and failures that must lose nothing; and the
// wizard's page 4 around it: the window during the run and page 5.
#include <gtest/gtest.h>

#include "support/FakeWizard.h"
#include "update/EntryRules.h"
#include "update/UpdateRun.h"

namespace oup::test {
namespace {

using TNames = std::vector<std::string>;
const char* kWork = "C:\\TEMP\\W\\";
const int32_t kOld = 0x2A210000;    // 01.01.2001
const int32_t kNewer = 0x325C0000;  // 28.02.2005, the package copies' day
const int32_t kStamped = DateTimeToDos(StrToDateTime("01.03.2005 10:00:00"));

// An entry with a package copy of the same name holding "new <name>".
TFileEntry& AddEntry(TFakeMachine& m, std::vector<TFileEntry>& entries, const std::string& name,
                     const std::string& mode, const std::string& targetDir = "<installdir>\\") {
    m.AddFile(kWork + name, "new " + name, kNewer);
    TFileEntry e;
    e.SourceName = e.TargetName = name;
    e.Mode = mode;
    e.TargetDir = targetDir;
    e.FileDate = StrToDateTime("01.03.2005 10:00:00");
    entries.push_back(e);
    return entries.back();
}

class Run : public ::testing::Test {
protected:
    Run() {
        m.AddDrive('C');
        m.AddDrive('D');
        m.AddDrive('E');
        m.AddDir("C:\\WINDOWS\\SYSTEM32");
        m.AddDir(kWork);
    }
    TFileEntry& Entry(const std::string& name, const std::string& mode,
                      const std::string& targetDir = "<installdir>\\") {
        return AddEntry(m, entries, name, mode, targetDir);
    }
    // Runs every entry into these installations; returns the outcomes as
    // the log would word them.
    TNames Update(const TNames& dirs) {
        std::vector<TInstallation> installations;
        for (const std::string& dir : dirs) {
            m.AddDir(dir);
            installations.push_back({dir, true});
        }
        run = std::make_unique<TUpdateRun>(m, entries, dirs_);
        run->RestartReplace = restartReplace;
        TNames outcomes;
        run->OnReport = [&](const TUpdateReport& r) {
            if (r.Kind == TReportKind::Installed) outcomes.push_back("Installed " + r.Target);
            if (r.Kind == TReportKind::Scheduled) outcomes.push_back("Scheduled " + r.Target);
            if (r.Kind == TReportKind::Failed)
                outcomes.push_back("Failed " + r.Target +
                                   (r.Reason.empty() ? "" : ": " + r.Reason));
            if (r.Kind == TReportKind::Refused) outcomes.push_back(r.Target + ": " + r.Reason);
        };
        run->Run(installations);
        run->OnReport = nullptr;
        return outcomes;
    }
    // The files and directories below dir.
    TNames Under(const std::string& dir) {
        TNames below;
        for (const std::string& path : m.AllPaths())
            if (path.rfind(dir + "\\", 0) == 0) below.push_back(path);
        return below;
    }
    // Every path with its attributes, and a file's date and content.
    TNames State() {
        TNames state;
        for (const std::string& path : m.AllPaths()) {
            const uint32_t attr = m.GetAttributes(path);
            state.push_back(path + " " + std::to_string(attr));
            if (!(attr & faDirectory))
                state.back() += " " + std::to_string(m.Time(path)) + " " + m.Content(path);
        }
        return state;
    }
    bool Updated(const std::string& path) {
        return m.Exists(path) && m.Content(path) == "new " + ExtractFileName(path);
    }
    TFakeMachine m;
    std::vector<TFileEntry> entries;
    TUpdateDirs dirs_{kWork, "C:\\WINDOWS", "C:\\WINDOWS\\SYSTEM32"};
    bool restartReplace = true;
    std::unique_ptr<TUpdateRun> run;
};

TEST_F(Run, EachModeDecidesByTheInstanceFile) {
    const std::string d = "D:\\Apps\\Ledger\\";
    m.AddFile(d + "present.dat", "old", kOld);
    Entry("present.dat", "Update if present");
    Entry("absent.dat", "Update if present");
    m.AddFile(d + "older.dat", "old", kOld);
    Entry("older.dat", "Update if older or missing");
    m.AddFile(d + "same.dat", "old", kNewer);
    Entry("same.dat", "Update if older or missing");
    Entry("missing.dat", "Update if older or missing");
    Entry("always.dat", "Always update");
    Entry("copy.dat", "Always copy");
    Entry("lower.dat", "always copy");
    Entry("blank.dat", "Always copy ");
    Update({"D:\\Apps\\Ledger"});

    for (const char* name : {"present.dat", "older.dat", "missing.dat", "always.dat", "copy.dat"}) {
        EXPECT_TRUE(Updated(d + name)) << name;
        EXPECT_EQ(kStamped, m.Time(d + name)) << name;
    }
    EXPECT_FALSE(m.Exists(d + "absent.dat"));
    EXPECT_EQ("old", m.Content(d + "same.dat"));
    EXPECT_FALSE(m.Exists(d + "lower.dat") || m.Exists(d + "blank.dat"));
    EXPECT_EQ(5, run->Due());
    EXPECT_EQ(5, run->InstalledCount());
}

TEST_F(Run, TargetDirectoriesExpandTrimAndAreCreated) {
    Entry("a.dat", "Always copy");
    Entry("b.dat", "Always copy", " <installdir>\\data\\ ");
    Entry("c.dat", "Always copy", "<installdir>\\<installdir>");
    Entry("d.dat", "Always copy", "E:\\Fixed\\");
    Update({"D:\\Apps\\Ledger", "E:\\Ledger"});
    for (const char* dir : {"D:\\Apps\\Ledger", "E:\\Ledger"}) {
        EXPECT_TRUE(Updated(dir + std::string("\\a.dat")));
        EXPECT_TRUE(Updated(dir + std::string("\\data\\b.dat")));
        EXPECT_TRUE(Updated(dir + std::string("\\<installdir>\\c.dat")));
    }
    EXPECT_TRUE(Updated("E:\\Fixed\\d.dat"));

    EXPECT_EQ("XD:\\Apps", ReplaceMacro("X<installdir>", "<installdir>", "D:\\Apps"));
    EXPECT_EQ(" plain\\ ", ReplaceMacro(" plain\\ ", "<installdir>", "D:\\Apps"));
    EXPECT_EQ("D:\\A\\<installdir>", ReplaceMacro("<installdir>\\<installdir>", "<installdir>", "D:\\A"));
}

TEST_F(Run, MacrosExpandInTheirOrder) {
    // A value inserted for an earlier macro is expanded by a later one.
    dirs_.WindowsDir = "D:\\W<winsysdir>";
    dirs_.SystemDir = "Sys";
    Entry("a.dat", "Always copy", "<windir>\\");
    Update({"D:\\Ledger"});
    EXPECT_TRUE(Updated("D:\\WSys\\a.dat"));
}

TEST_F(Run, WindowsDirectoryEntriesGoInOnceAndAfterAFailureAgain) {
    Entry("rt.dll", "Always copy", "<winsysdir>\\");
    const std::string target = "C:\\WINDOWS\\SYSTEM32\\rt.dll";
    m.AddFile(target, "old", kOld);
    m.Lock(target);
    restartReplace = false;
    Update({});  // a run over no installation; then the entry by hand
    TNames outcomes;
    run->OnReport = [&](const TUpdateReport& r) {
        outcomes.push_back(r.Kind == TReportKind::Installed ? "Installed " + r.Target
                           : r.Kind == TReportKind::Skipped ? "Skipped " + r.Target + ": " + r.Reason
                                                            : "Failed " + r.Target);
    };
    run->InstallEntry("D:\\Ledger", 0);
    EXPECT_EQ("old", m.Content(target));
    m.Lock(target, false);
    run->InstallEntry("E:\\Ledger", 0);
    EXPECT_TRUE(Updated(target));
    EXPECT_TRUE(run->Entries()[0].Installed);
    m.AddFile(target, "changed", kOld);
    run->InstallEntry("D:\\Ledger", 0);  // already in: nothing done
    EXPECT_EQ("changed", m.Content(target));
    run->OnReport = nullptr;
    EXPECT_EQ((TNames{"Failed " + target, "Installed " + target,
                      "Skipped " + target + ": already installed into the Windows or system directory"}),
              outcomes);

    // "Update if present" asks the installation, not the Windows directory;
    // each such entry counts once among the files due.
    restartReplace = true;
    entries.clear();
    Entry("rt.dll", "Always copy", "<winsysdir>\\");
    Entry("opt.dll", "Update if present", "<windir>\\");
    m.AddFile("E:\\Ledger\\opt.dll", "old");
    EXPECT_EQ((TNames{"Installed " + target, "Installed C:\\WINDOWS\\opt.dll"}),
              Update({"D:\\Ledger", "E:\\Ledger"}));
    EXPECT_EQ(2, run->Due());
}

TEST_F(Run, AFailedCopyLeavesTheOldFileAndNoTemporaryFile) {
    Entry("ledger.exe", "Always copy");
    TFileEntry& gone = Entry("gone.dat", "Always update");
    m.DeleteFile(kWork + gone.SourceName);  // no package copy
    m.AddFile("D:\\Ledger\\gone.dat", "old gone");
    m.AddFile("D:\\Ledger\\ledger.exe", "running", kOld);
    m.Lock("D:\\Ledger\\ledger.exe");
    restartReplace = false;  // a held file fails like any other
    m.AddFile("E:\\Ledger\\~oup0000.tmp", "not ours");
    EXPECT_EQ((TNames{"Failed D:\\Ledger\\ledger.exe", "Failed D:\\Ledger\\gone.dat",
                      "Installed E:\\Ledger\\ledger.exe", "Failed E:\\Ledger\\gone.dat"}),
              Update({"D:\\Ledger", "E:\\Ledger"}));

    EXPECT_EQ("running", m.Content("D:\\Ledger\\ledger.exe"));
    EXPECT_EQ(kOld, m.Time("D:\\Ledger\\ledger.exe"));
    EXPECT_EQ("old gone", m.Content("D:\\Ledger\\gone.dat"));
    EXPECT_TRUE(Updated("E:\\Ledger\\ledger.exe"));
    EXPECT_EQ("not ours", m.Content("E:\\Ledger\\~oup0000.tmp"));
    for (const std::string& path : m.AllPaths())
        EXPECT_TRUE(path.find("~oup") == std::string::npos || path == "E:\\Ledger\\~oup0000.tmp")
            << path;
    EXPECT_EQ(3, run->FailedCount());
    EXPECT_TRUE(m.PendingRenames.empty());
    EXPECT_EQ(0u, m.SleptMs);
}

TEST_F(Run, ATemporaryNameAnotherUpdaterTakesMidwayStaysItsOwn) {
    Entry("ledger.exe", "Always copy");
    m.AddFile("D:\\Ledger\\ledger.exe", "old", kOld);
    const std::string theirs = "D:\\Ledger\\~oup0000.tmp";
    m.BeforeCopy = [&](const std::string& target) {
        if (target == theirs && !m.Exists(theirs)) m.AddFile(theirs, "the other updater's");
    };
    EXPECT_EQ(TNames{"Installed D:\\Ledger\\ledger.exe"}, Update({"D:\\Ledger"}));
    EXPECT_TRUE(Updated("D:\\Ledger\\ledger.exe"));
    EXPECT_EQ("the other updater's", m.Content(theirs));
}

TEST_F(Run, ACopyThatBreaksOffPartWayLeavesTheOldFile) {
    Entry("ledger.exe", "Always copy");
    m.AddFile("E:\\Ledger\\ledger.exe", "old", kOld);
    m.SetDiskSpace('E', 4);
    EXPECT_EQ(TNames{"Failed E:\\Ledger\\ledger.exe"}, Update({"E:\\Ledger"}));
    EXPECT_EQ("old", m.Content("E:\\Ledger\\ledger.exe"));
    EXPECT_EQ(kOld, m.Time("E:\\Ledger\\ledger.exe"));
    int inDir = 0;
    for (const std::string& path : m.AllPaths()) inDir += path.rfind("E:\\Ledger\\", 0) == 0;
    EXPECT_EQ(1, inDir);  // no temporary file left behind
}

TEST_F(Run, EntriesThatReachElsewhereAreRefusedBeforeAnythingIsTouched) {
    m.AddFile("C:\\secret.txt", "the user's own");
    Entry("a.dat", "Always copy").SourceName = "..\\..\\secret.txt";
    Entry("b.dat", "Always copy").TargetName = "..\\..\\b.dat";
    Entry("nul.txt", "Update if present");  // a device: copying "succeeds", installs nothing
    m.AddFile("D:\\Ledger\\nul.txt", "old");
    Entry("c.dat", "Always copy", "");
    Entry("d.dat", "Always copy", "C:data\\");
    Entry("e.dat", "Always copy", "\\data\\");
    Entry("f.dat", "Always copy", "<windir>\\");
    dirs_.WindowsDir.clear();
    Entry("g.dat", "Always copy", "<installdir>\\");  // sound, also at a drive root
    Entry("h.dat", "Always copy", "<installdir>");
    const TNames outcomes = Update({"D:\\Ledger", "E:"});
    EXPECT_EQ(
        (TNames{"D:\\Ledger\\..\\..\\secret.txt: \"..\\..\\secret.txt\" is not a plain file name",
                "D:\\Ledger\\..\\..\\b.dat: \"..\\..\\b.dat\" is not a plain file name",
                "D:\\Ledger\\nul.txt: \"nul.txt\" is not a plain file name",
                "D:\\Ledger\\c.dat: target directory \"\" is not an absolute path",
                "D:\\Ledger\\d.dat: target directory \"C:data\\\" is not an absolute path",
                "D:\\Ledger\\e.dat: target directory \"\\data\\\" is not an absolute path",
                "D:\\Ledger\\f.dat: target directory \"\\\" is not an absolute path",
                "Installed D:\\Ledger\\g.dat", "Installed D:\\Ledger\\h.dat"}),
        TNames(outcomes.begin(), outcomes.begin() + 9));
    EXPECT_EQ("Installed E:\\h.dat", outcomes.back());  // the same at the root of E:
    EXPECT_EQ(18u, outcomes.size());
    EXPECT_EQ(14, run->FailedCount());
    EXPECT_EQ(4, run->Due());
    for (const std::string& path : m.AllPaths())
        EXPECT_TRUE(path.find("secret") == std::string::npos || path == "C:\\secret.txt") << path;
    EXPECT_FALSE(m.Exists("C:\\b.dat") || m.Exists("D:\\b.dat") || m.Exists("D:\\c.dat"));
    EXPECT_EQ("old", m.Content("D:\\Ledger\\nul.txt"));
}

// The edges the run above does not meet: devices by any extension or case,
// names that only look like one, and the forms of a share.
TEST(EntryRules, PlainNamesAndAbsoluteTargets) {
    for (const char* name : {".hidden", "CONSOLE", "COM0", "LPT10", "n\xE6r.txt"})
        EXPECT_TRUE(IsPlainFileName(name)) << name;
    for (const char* name : {"...", "CON", "lpt9.log", "AUX .x", "a?b", "a|b", "tab\tname"})
        EXPECT_FALSE(IsPlainFileName(name)) << name;
    for (const char* dir : {"\\\\srv\\share", "\\\\srv\\share\\x\\"})
        EXPECT_TRUE(IsAbsoluteTargetDir(dir)) << dir;
    for (const char* dir : {"1:\\x", "\\\\srv\\", "\\\\\\share", "\\\\.\\C:\\x", "\\\\?\\C:\\x"})
        EXPECT_FALSE(IsAbsoluteTargetDir(dir)) << dir;
}

TEST_F(Run, DatesBefore1980LeaveThePackageCopysTime) {
    Entry("a.dat", "Always copy").FileDate = 0;  // 30.12.1899
    Update({"D:\\Ledger"});
    EXPECT_EQ(kNewer, m.Time("D:\\Ledger\\a.dat"));
}

// The preview decides by the run's own plan: pair by pair it says what the
// run then does on the same machine, which it leaves as it found it.
TEST_F(Run, APreviewAgreesWithTheRunPairByPairAndChangesNothing) {
    Entry("ledger.exe", "Always copy");
    Entry("help.hlp", "Update if present");
    m.AddFile("D:\\Ledger\\help.hlp", "old", kOld);
    Entry("rt.dll", "Always update", "<winsysdir>\\");
    Entry("tables.dat", "Always copy", "<installdir>\\data\\");
    Entry("bad.dat", "Always copy").TargetName = "..\\bad.dat";
    m.DeleteFile(kWork + Entry("gone.dat", "Always copy").SourceName);
    const std::vector<TInstallation> installations = {
        {"D:\\Ledger", true}, {"E:\\Ledger", true}, {"C:\\Ledger", false}};
    for (const TInstallation& i : installations) m.AddDir(i.Dir);
    const TNames before = State();

    // Per pair: which way it goes, the target, and why not.
    TNames previewed, done, lines;
    TUpdateRun run(m, entries, dirs_);
    run.OnReport = [&](const TUpdateReport& r) {
        const char* way = r.Kind == TReportKind::WouldInstall ? "install"
                          : r.Kind == TReportKind::WouldSkip  ? "skip"
                                                              : "fail";
        lines.push_back(std::string("Would ") + way + " " + r.Target +
                        (r.Reason.empty() ? "" : ": " + r.Reason));
        previewed.push_back(r.Installation + " " + std::to_string(r.Entry) + " " + way + " " +
                            r.Target + (*way == 's' ? " " + r.Reason : ""));
    };
    run.Plan(installations);
    run.Preview();
    EXPECT_EQ(before, State());
    const std::string sys = "C:\\WINDOWS\\SYSTEM32\\rt.dll";
    EXPECT_EQ(
        (TNames{"Would install D:\\Ledger\\ledger.exe", "Would install D:\\Ledger\\help.hlp",
                "Would install " + sys, "Would install D:\\Ledger\\data\\tables.dat",
                "Would fail D:\\Ledger\\..\\bad.dat: \"..\\bad.dat\" is not a plain file name",
                "Would fail D:\\Ledger\\gone.dat: the package has no file \"gone.dat\"",
                "Would install E:\\Ledger\\ledger.exe",
                "Would skip E:\\Ledger\\help.hlp: missing (\"Update if present\")",
                "Would skip " + sys + ": already installed into the Windows or system directory",
                "Would install E:\\Ledger\\data\\tables.dat"}),
        TNames(lines.begin(), lines.begin() + 10));
    EXPECT_EQ("Would skip C:\\Ledger\\gone.dat: installation not chosen", lines.back());
    EXPECT_EQ(18u, lines.size());
    EXPECT_EQ(6, run.InstalledCount());
    EXPECT_EQ(4, run.FailedCount());
    EXPECT_FALSE(run.Entries()[2].Installed);

    run.OnReport = [&](const TUpdateReport& r) {
        if (r.Kind == TReportKind::Visiting) return;
        const bool in = r.Kind == TReportKind::Installed || r.Kind == TReportKind::Scheduled;
        const bool skip = r.Kind == TReportKind::Skipped || r.Kind == TReportKind::NotChosen;
        const std::string way = in ? "install" : skip ? "skip" : "fail";
        done.push_back(r.Installation + " " + std::to_string(r.Entry) + " " + way + " " + r.Target +
                       (skip ? " " + r.Reason : ""));
    };
    run.Execute();
    EXPECT_EQ(previewed, done);
    EXPECT_EQ(6, run.InstalledCount());
    EXPECT_TRUE(Updated(sys) && Updated("E:\\Ledger\\data\\tables.dat"));
}

// Files a running program holds: tried again for a while, then the new copy
// waits beside the target, named in the pending-rename list.
using TRenames = std::vector<std::pair<std::string, std::string>>;
const std::string kHeld = "D:\\Ledger\\ledger.exe";
const std::string kStaged = kHeld + ".oupnew";

TEST_F(Run, AHeldFileThatIsLetGoWithinTheRetriesIsReplacedAtOnce) {
    Entry("ledger.exe", "Always copy");
    m.AddFile(kHeld, "closing", kOld);
    m.UnlockAfter(kHeld, 3);
    EXPECT_EQ(TNames{"Installed " + kHeld}, Update({"D:\\Ledger"}));
    EXPECT_TRUE(Updated(kHeld));
    EXPECT_EQ(kStamped, m.Time(kHeld));
    EXPECT_EQ(500u, m.SleptMs);  // three attempts, a quarter second apart
    EXPECT_TRUE(m.PendingRenames.empty());
}

TEST_F(Run, AFileHeldThroughTheRetriesWaitsBesideItForTheRestart) {
    Entry("ledger.exe", "Always copy");
    m.AddFile(kHeld, "running", kOld);
    m.Lock(kHeld);
    EXPECT_EQ(TNames{"Scheduled " + kHeld}, Update({"D:\\Ledger"}));
    EXPECT_GE(m.SleptMs, 1500u);  // about two seconds
    EXPECT_LE(m.SleptMs, 2500u);
    EXPECT_EQ("running", m.Content(kHeld));
    EXPECT_EQ("new ledger.exe", m.Content(kStaged));
    EXPECT_EQ(kStamped, m.Time(kStaged));
    EXPECT_EQ((TRenames{{kStaged, kHeld}}), m.PendingRenames);
    EXPECT_TRUE(run->Entries()[0].Installed);
    EXPECT_EQ(1, run->ScheduledCount());
    EXPECT_EQ(0, run->FailedCount() + run->InstalledCount());
    EXPECT_EQ((TNames{kHeld, kStaged}), Under("D:\\Ledger"));  // no temporary file

    m.Restart();
    EXPECT_TRUE(Updated(kHeld));
    EXPECT_EQ(kStamped, m.Time(kHeld));
    EXPECT_FALSE(m.Exists(kStaged));
}

TEST_F(Run, ARefusedSwapOfAFileNobodyHoldsFailsAtOnce) {
    Entry("ledger.exe", "Always copy");
    m.AddFile(kHeld, "read-only", kOld, faReadOnly);  // access denied, but not in use
    EXPECT_EQ(TNames{"Failed " + kHeld}, Update({"D:\\Ledger"}));
    EXPECT_EQ("read-only", m.Content(kHeld));
    EXPECT_EQ(0u, m.SleptMs);
    EXPECT_FALSE(m.Exists(kStaged));
    EXPECT_TRUE(m.PendingRenames.empty());
}

TEST_F(Run, AHeldFileWhereNoRestartRenamesItFailsAsInUse) {
    m.AddDrive('N', dtRemote);
    m.AddShare("\\\\server\\apps");
    m.Subst('S', "C:\\Apps");
    const struct {
        std::string Dir;
        bool MaySchedule;
    } cases[] = {{"N:\\Ledger", true},                // a network drive
                 {"\\\\server\\apps\\Ledger", true},  // a UNC path
                 {"S:\\Ledger", true},                // a SUBST drive
                 {"D:\\Ledger", false}};              // no right to write the list
    Entry("ledger.exe", "Always copy");
    for (const auto& c : cases) {
        const std::string target = c.Dir + "\\ledger.exe";
        m.AddFile(target, "running", kOld);
        m.Lock(target);
        m.MayScheduleRenames = c.MaySchedule;
        EXPECT_EQ(TNames{"Failed " + target + ": in use"}, Update({c.Dir}));
        EXPECT_EQ("running", m.Content(target));
        EXPECT_EQ(TNames{target}, Under(c.Dir));  // nothing staged, no temporary file
    }
    EXPECT_TRUE(m.PendingRenames.empty());
}

TEST_F(Run, ASecondRunReplacesItsStagedCopyAndADirectReplaceRemovesIt) {
    Entry("ledger.exe", "Always copy");
    m.AddFile(kHeld, "running", kOld);
    m.Lock(kHeld);
    Update({"D:\\Ledger"});
    m.AddFile(kWork + std::string("ledger.exe"), "second package", kNewer);
    EXPECT_EQ(TNames{"Scheduled " + kHeld}, Update({"D:\\Ledger"}));
    EXPECT_EQ("second package", m.Content(kStaged));
    EXPECT_EQ((TNames{kHeld, kStaged}), Under("D:\\Ledger"));

    // The program has ended before any restart: the file goes in now, and
    // the staged copy must not bring the older version back at the restart.
    m.Lock(kHeld, false);
    m.AddFile(kWork + std::string("ledger.exe"), "third package", kNewer);
    EXPECT_EQ(TNames{"Installed " + kHeld}, Update({"D:\\Ledger"}));
    EXPECT_FALSE(m.Exists(kStaged));
    m.Restart();
    EXPECT_EQ("third package", m.Content(kHeld));
}

TEST_F(Run, AHeldFileInTheSystemDirectoryIsScheduledByItsRealPath) {
    const struct {
        std::string Wow64, TargetDir, AtRestart;
    } cases[] = {
        {"C:\\WINDOWS\\SysWOW64", "<winsysdir>\\", "C:\\WINDOWS\\SysWOW64"},
        {"C:\\WINDOWS\\SysWOW64", "c:\\windows\\system32\\sub\\", "C:\\WINDOWS\\SysWOW64\\sub"},
        // left alone by the redirection
        {"C:\\WINDOWS\\SysWOW64", "<winsysdir>\\drivers\\etc\\",
         "C:\\WINDOWS\\SYSTEM32\\drivers\\etc"},
        {"C:\\WINDOWS\\SysWOW64", "<windir>\\System32x\\", "C:\\WINDOWS\\System32x"},
        {"", "<winsysdir>\\", "C:\\WINDOWS\\SYSTEM32"},  // 32-bit Windows
    };
    for (const auto& c : cases) {
        entries.clear();
        m.PendingRenames.clear();
        m.SystemWow64Dir = c.Wow64;
        Entry("rt.dll", "Always copy", c.TargetDir);
        const std::string target =
            ExcludeTrailingBackslash(ExpandTargetDir(c.TargetDir, "D:\\Ledger", dirs_)) +
            "\\rt.dll";
        m.AddFile(target, "old", kOld);
        m.Lock(target);
        EXPECT_EQ(TNames{"Scheduled " + target}, Update({"D:\\Ledger"}));
        const std::string atRestart = c.AtRestart + "\\rt.dll";
        EXPECT_EQ((TRenames{{atRestart + ".oupnew", atRestart}}), m.PendingRenames) << c.TargetDir;
    }
}

// The wizard's page 4: the update run on the ticked installations of Liste.
class UpdatePage : public ::testing::Test {
protected:
    TUpdate& Ready(const TNames& instances) {
        w.Machine.AddDrive('D');
        w.Machine.AddDrive('E');
        TUpdate& u = w.Create();
        for (const std::string& t : StandardLanguage()) u.LanguageTexts.Add(t);
        u.WorkDir = kWork;
        u.WindowsDir = "C:\\WINDOWS";
        u.SystemDir = "C:\\WINDOWS\\SYSTEM32";
        for (const std::string& dir : instances) {
            w.Machine.AddDir(dir);
            w.Liste.AddItem(dir, true);
        }
        w.Memo1.SetCaption("Release notes");
        u.Page = 4;
        return u;
    }
    TFileEntry& Entry(TUpdate& u, const std::string& name, const std::string& mode) {
        return AddEntry(w.Machine, u.Script.FileEntries, name, mode);
    }
    TFakeWizard w;
};

TEST_F(UpdatePage, PageFiveShowsTheNoticeAndTheFailureLines) {
    TUpdate& u = Ready({"D:\\Ledger"});
    Entry(u, "a.dat", "Always copy");
    Entry(u, "b.dat", "Update if present");
    u.ShowPage();
    // Without failures: the notes are gone, no warning, the notice.
    EXPECT_EQ(5, u.Page);
    EXPECT_EQ("", w.Memo1.Caption());
    EXPECT_FALSE(w.Label12.Visible());
    EXPECT_EQ("The update is finished.", w.Label1.Caption());
    EXPECT_TRUE(w.Label1.Visible());
    EXPECT_EQ(443, w.Button2.Left());
    EXPECT_EQ(TCommonAVI::aviCopyFiles, w.Animate1.Clip());
    EXPECT_FALSE(w.Animate1.Visible() || w.Animate1.Playing());
    EXPECT_EQ(ecSuccess, u.ExitCode());
    EXPECT_EQ(1, w.Progress.Done);
    EXPECT_EQ(1, w.Progress.Total);
    EXPECT_TRUE(u.Script.FileEntries[0].Installed);

    TUpdate& again = w.Create();
    for (const std::string& t : StandardLanguage()) again.LanguageTexts.Add(t);
    again.WorkDir = kWork;
    Entry(again, "ledger.exe", "Always copy");
    w.Machine.AddFile("D:\\Ledger\\ledger.exe", "read-only", kOld, faReadOnly);
    again.Page = 4;
    again.ShowPage();
    EXPECT_EQ(TNames{"Could not update the file D:\\Ledger\\ledger.exe"}, w.Memo1.Lines());
    EXPECT_TRUE(w.Memo1.Visible() && w.Label12.Visible());
    EXPECT_EQ(ecFailures, again.ExitCode());
}

TEST_F(UpdatePage, PageFiveSaysWindowsMustRestartWhenAFileWaitsForIt) {
    TUpdate& u = Ready({"D:\\Ledger"});
    Entry(u, "ledger.exe", "Always copy");
    w.Machine.AddFile("D:\\Ledger\\ledger.exe", "running", kOld);
    w.Machine.Lock("D:\\Ledger\\ledger.exe");
    u.ShowPage();
    EXPECT_EQ(ecRestartRequired, u.ExitCode());
    EXPECT_EQ("The update is finished.\r\n\r\nWindows must be restarted to finish the update.",
              w.Label1.Caption());  // the English default: the file has no text 27
    EXPECT_FALSE(w.Memo1.Visible());

    // With the file's own text, and a failure beside it: the memo says it.
    TUpdate& again = w.Create();
    for (const std::string& t : StandardLanguage()) again.LanguageTexts.Add(t);
    again.LanguageTexts.Add("T27 restart");
    again.WorkDir = kWork;
    again.Page = 4;
    Entry(again, "ledger.exe", "Always copy");
    Entry(again, "help.hlp", "Always copy");
    w.Machine.AddFile("D:\\Ledger\\help.hlp", "read-only", kOld, faReadOnly);
    again.ShowPage();
    EXPECT_EQ(ecFailures, again.ExitCode());
    EXPECT_EQ((TNames{"Could not update the file D:\\Ledger\\help.hlp", "", "T27 restart"}),
              w.Memo1.Lines());
    EXPECT_EQ("The update is finished.\r\n\r\nT27 restart", w.Label1.Caption());
}

TEST_F(UpdatePage, AMissingCompletionTextAfterTheRunIsNoSuccess) {
    TUpdate& u = Ready({"D:\\Ledger"});
    const TNames texts = StandardLanguage();
    u.LanguageTexts.Clear();
    for (size_t i = 0; i < 26; ++i) u.LanguageTexts.Add(texts[i]);  // no text 26
    Entry(u, "a.dat", "Always copy");
    EXPECT_THROW(u.ShowPage(), EListError);
    EXPECT_TRUE(w.Machine.Exists("D:\\Ledger\\a.dat"));
    EXPECT_EQ(ecFailures, u.ExitCode());
}

TEST_F(UpdatePage, RefusalsGiveTheirReasonsInTheMemoAlsoWithoutAProgressControl) {
    TUpdate& u = Ready({"D:\\Ledger"});
    u.Controls.Progress = nullptr;
    Entry(u, "a.dat", "Always copy").TargetName = "..\\a.dat";
    Entry(u, "b.dat", "Always copy").TargetDir = "data\\";
    Entry(u, "c.dat", "Always copy");
    u.ShowPage();
    EXPECT_EQ(
        (TNames{"Skipped D:\\Ledger\\..\\a.dat: \"..\\a.dat\" is not a plain file name",
                "Skipped D:\\Ledger\\b.dat: target directory \"data\\\" is not an absolute path"}),
        w.Memo1.Lines());
    EXPECT_TRUE(w.Memo1.Visible() && w.Label12.Visible());
    EXPECT_EQ(ecFailures, u.ExitCode());
    EXPECT_TRUE(w.Machine.Exists("D:\\Ledger\\c.dat"));
    EXPECT_FALSE(w.Progress.Visible());
}

TEST_F(UpdatePage, APreviewListsTheDecisionsAndWarnsOnlyOfAFailure) {
    TUpdate& u = Ready({"D:\\Ledger"});
    u.CommandLine.Preview = true;
    u.Script.ProgramName = "Ledger";
    Entry(u, "a.dat", "Always copy");
    Entry(u, "b.dat", "Update if present");
    u.ShowPage();
    const TNames lines = {"Would install D:\\Ledger\\a.dat",
                          "Would skip D:\\Ledger\\b.dat: missing (\"Update if present\")"};
    EXPECT_EQ(lines, w.Memo1.Lines());
    EXPECT_EQ(lines[0] + "\r\n" + lines[1] + "\r\n", w.Machine.StandardOutput);
    EXPECT_TRUE(w.Memo1.Visible());
    EXPECT_FALSE(w.Label12.Visible());
    EXPECT_EQ("Ledger - preview, nothing was changed", w.OXPPanel1.Caption());
    EXPECT_EQ(kPreviewInstructionsText, w.advpanel2.Caption());  // not "Done updating"
    EXPECT_EQ(5, u.Page);
    EXPECT_EQ(ecSuccess, u.ExitCode());
    EXPECT_FALSE(w.Machine.Exists("D:\\Ledger\\a.dat"));

    TUpdate& again = w.Create();
    for (const std::string& t : StandardLanguage()) again.LanguageTexts.Add(t);
    again.CommandLine.Preview = true;
    again.WorkDir = kWork;
    Entry(again, "c.dat", "Always copy").TargetName = "..\\c.dat";
    again.Page = 4;
    again.ShowPage();
    EXPECT_EQ(TNames{"Would fail D:\\Ledger\\..\\c.dat: \"..\\c.dat\" is not a plain file name"},
              w.Memo1.Lines());
    EXPECT_TRUE(w.Memo1.Visible() && w.Label12.Visible());
    EXPECT_EQ(ecFailures, again.ExitCode());
}

TEST_F(UpdatePage, TheWindowShowsTheRunAndACloseWaitsForItsEnd) {
    TUpdate& u = Ready({"D:\\Ledger", "E:\\Ledger"});
    Entry(u, "a.dat", "Always copy");
    Entry(u, "b.dat", "Always copy");
    w.Liste.SetItemChecked(1, false);  // not chosen: left alone
    std::vector<std::string> seen;
    w.Services.OnPaintPump = [&] {
        seen.push_back(w.FileLabel2.Label().FileName() + " " + std::to_string(w.Progress.Done) +
                       "/" + std::to_string(w.Progress.Total));
        EXPECT_TRUE(w.FileLabel2.Visible() && w.Progress.Visible());
        if (seen.size() == 2) {
            EXPECT_FALSE(u.CloseQuery());
        }
    };
    u.ShowPage();
    EXPECT_EQ((TNames{" 0/2", "D:\\Ledger\\a.dat 1/2", "D:\\Ledger\\b.dat 2/2"}), seen);
    EXPECT_FALSE(w.Machine.Exists("E:\\Ledger\\a.dat"));
    EXPECT_FALSE(u.Updating());
    EXPECT_EQ(1, w.Services.Closes);  // once the run was over
    EXPECT_TRUE(w.Machine.Exists("D:\\Ledger\\b.dat"));
}

}  // namespace
}  // namespace oup::test
