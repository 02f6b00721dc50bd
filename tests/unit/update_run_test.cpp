// The update run on a fake machine: the modes, the macros, the once-only rule
// for the Windows directories, and failures that must lose nothing.
#include <gtest/gtest.h>

#include "support/FakeWizard.h"

namespace oup::test {
namespace {

using TNames = std::vector<std::string>;
const char* kWork = "C:\\TEMP\\W\\";
const int32_t kOld = 0x2A210000;    // 01.01.2001
const int32_t kNewer = 0x325C0000;  // 28.02.2005, the package copies' day

class Run : public ::testing::Test {
protected:
    // A wizard about to enter page 4 with these installations ticked.
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
    // An entry with a package copy of the same name holding "new <name>".
    TFileEntry& Entry(TUpdate& u, const std::string& name, const std::string& mode,
                      const std::string& targetDir = "<installdir>\\") {
        w.Machine.AddFile(kWork + name, "new " + name, kNewer);
        TFileEntry e;
        e.SourceName = e.TargetName = name;
        e.Mode = mode;
        e.TargetDir = targetDir;
        e.FileDate = StrToDateTime("01.03.2005 10:00:00");
        u.Script.FileEntries.push_back(e);
        return u.Script.FileEntries.back();
    }
    bool Updated(const std::string& path) {
        return w.Machine.Exists(path) && w.Machine.Content(path) == "new " + ExtractFileName(path);
    }
    TFakeWizard w;
};

const int32_t kStamped = DateTimeToDos(StrToDateTime("01.03.2005 10:00:00"));

TEST_F(Run, EachModeDecidesByTheInstanceFile) {
    TUpdate& u = Ready({"D:\\Apps\\Ledger"});
    const std::string d = "D:\\Apps\\Ledger\\";
    w.Machine.AddFile(d + "present.dat", "old", kOld);
    Entry(u, "present.dat", "Update if present");
    Entry(u, "absent.dat", "Update if present");
    w.Machine.AddFile(d + "older.dat", "old", kOld);
    Entry(u, "older.dat", "Update if older or missing");
    w.Machine.AddFile(d + "same.dat", "old", kNewer);
    Entry(u, "same.dat", "Update if older or missing");
    Entry(u, "missing.dat", "Update if older or missing");
    Entry(u, "always.dat", "Always update");
    Entry(u, "copy.dat", "Always copy");
    Entry(u, "lower.dat", "always copy");
    Entry(u, "blank.dat", "Always copy ");
    u.ShowPage();

    for (const char* name : {"present.dat", "older.dat", "missing.dat", "always.dat", "copy.dat"}) {
        EXPECT_TRUE(Updated(d + name)) << name;
        EXPECT_EQ(kStamped, w.Machine.Time(d + name)) << name;
    }
    EXPECT_FALSE(w.Machine.Exists(d + "absent.dat"));
    EXPECT_EQ("old", w.Machine.Content(d + "same.dat"));
    EXPECT_FALSE(w.Machine.Exists(d + "lower.dat") || w.Machine.Exists(d + "blank.dat"));

    // Page 5 without failures: the notes are gone, no warning, the notice.
    EXPECT_EQ(5, u.Page);
    EXPECT_EQ("", w.Memo1.Caption());
    EXPECT_FALSE(w.Label12.Visible());
    EXPECT_EQ("The update is finished.", w.Label1.Caption());
    EXPECT_TRUE(w.Label1.Visible());
    EXPECT_EQ(443, w.Button2.Left());
    EXPECT_EQ(TCommonAVI::aviCopyFiles, w.Animate1.Clip());
    EXPECT_FALSE(w.Animate1.Visible() || w.Animate1.Playing());
    EXPECT_EQ(ecSuccess, u.ExitCode());
    EXPECT_EQ(5, w.Progress.Done);
    EXPECT_EQ(5, w.Progress.Total);
}

TEST_F(Run, TargetDirectoriesExpandTrimAndAreCreated) {
    TUpdate& u = Ready({"D:\\Apps\\Ledger", "E:\\Ledger"});
    Entry(u, "a.dat", "Always copy");
    Entry(u, "b.dat", "Always copy", " <installdir>\\data\\ ");
    Entry(u, "c.dat", "Always copy", "<installdir>\\<installdir>");
    Entry(u, "d.dat", "Always copy", "E:\\Fixed\\");
    u.ShowPage();
    for (const char* dir : {"D:\\Apps\\Ledger", "E:\\Ledger"}) {
        EXPECT_TRUE(Updated(dir + std::string("\\a.dat")));
        EXPECT_TRUE(Updated(dir + std::string("\\data\\b.dat")));
        EXPECT_TRUE(Updated(dir + std::string("\\<installdir>\\c.dat")));
    }
    EXPECT_TRUE(Updated("E:\\Fixed\\d.dat"));

    EXPECT_EQ("XD:\\Apps", TUpdate::ReplaceMacro("X<installdir>", "<installdir>", "D:\\Apps"));
    EXPECT_EQ(" plain\\ ", TUpdate::ReplaceMacro(" plain\\ ", "<installdir>", "D:\\Apps"));
    EXPECT_EQ("D:\\A\\<installdir>",
              TUpdate::ReplaceMacro("<installdir>\\<installdir>", "<installdir>", "D:\\A"));
}

TEST_F(Run, MacrosExpandInTheirOrder) {
    // A value inserted for an earlier macro is expanded by a later one.
    TUpdate& u = Ready({"D:\\Ledger"});
    u.WindowsDir = "D:\\W<winsysdir>";
    u.SystemDir = "Sys";
    Entry(u, "a.dat", "Always copy", "<windir>\\");
    u.ShowPage();
    EXPECT_TRUE(Updated("D:\\WSys\\a.dat"));
}

TEST_F(Run, WindowsDirectoryEntriesGoInOnceAndAfterAFailureAgain) {
    TUpdate& u = Ready({"D:\\Ledger", "E:\\Ledger"});
    Entry(u, "rt.dll", "Always copy", "<winsysdir>\\");
    const std::string target = "C:\\WINDOWS\\SYSTEM32\\rt.dll";
    w.Machine.AddFile(target, "old", kOld);
    w.Machine.Lock(target);
    w.Memo1.SetCaption("");
    u.InstallEntry(0, 0);
    EXPECT_EQ("old", w.Machine.Content(target));
    EXPECT_EQ(TNames{"Could not update the file C:\\WINDOWS\\SYSTEM32\\rt.dll"}, w.Memo1.Lines());

    w.Machine.Lock(target, false);
    u.InstallEntry(1, 0);
    EXPECT_TRUE(Updated(target));
    EXPECT_TRUE(u.Script.FileEntries[0].Installed);
    w.Machine.AddFile(target, "changed", kOld);
    u.InstallEntry(0, 0);  // already in: nothing done, nothing reported
    EXPECT_EQ("changed", w.Machine.Content(target));
    EXPECT_EQ(1u, w.Memo1.Lines().size());

    // "Update if present" asks the installation, not the Windows directory.
    Entry(u, "opt.dll", "Update if present", "<windir>\\");
    w.Machine.AddFile("E:\\Ledger\\opt.dll", "old");
    u.Script.FileEntries[0].Installed = false;
    w.Memo1.SetCaption("");
    u.ShowPage();
    EXPECT_TRUE(Updated("C:\\WINDOWS\\opt.dll"));
    EXPECT_EQ(ecSuccess, u.ExitCode());
    EXPECT_EQ(2, w.Progress.Total);  // rt.dll once, opt.dll once
}

TEST_F(Run, AFailedCopyLeavesTheOldFileAndNoTemporaryFile) {
    TUpdate& u = Ready({"D:\\Ledger", "E:\\Ledger"});
    Entry(u, "ledger.exe", "Always copy");
    TFileEntry& gone = Entry(u, "gone.dat", "Always update");
    w.Machine.DeleteFile(kWork + gone.SourceName);  // no package copy
    w.Machine.AddFile("D:\\Ledger\\gone.dat", "old gone");
    w.Machine.AddFile("D:\\Ledger\\ledger.exe", "running", kOld);
    w.Machine.Lock("D:\\Ledger\\ledger.exe");
    w.Machine.AddFile("E:\\Ledger\\~oup0000.tmp", "not ours");
    u.ShowPage();

    EXPECT_EQ((TNames{"Could not update the file D:\\Ledger\\ledger.exe",
                      "Could not update the file D:\\Ledger\\gone.dat",
                      "Could not update the file E:\\Ledger\\gone.dat"}),
              w.Memo1.Lines());
    EXPECT_EQ("running", w.Machine.Content("D:\\Ledger\\ledger.exe"));
    EXPECT_EQ(kOld, w.Machine.Time("D:\\Ledger\\ledger.exe"));
    EXPECT_EQ("old gone", w.Machine.Content("D:\\Ledger\\gone.dat"));
    EXPECT_TRUE(Updated("E:\\Ledger\\ledger.exe"));
    EXPECT_EQ("not ours", w.Machine.Content("E:\\Ledger\\~oup0000.tmp"));
    for (const std::string& path : w.Machine.AllPaths())
        EXPECT_TRUE(path.find("~oup") == std::string::npos || path == "E:\\Ledger\\~oup0000.tmp")
            << path;

    EXPECT_EQ(5, u.Page);
    EXPECT_TRUE(w.Memo1.Visible() && w.Label12.Visible());
    EXPECT_EQ(ecFailures, u.ExitCode());
}

TEST_F(Run, ACopyThatBreaksOffPartWayLeavesTheOldFile) {
    TUpdate& u = Ready({"E:\\Ledger"});
    Entry(u, "ledger.exe", "Always copy");
    w.Machine.AddFile("E:\\Ledger\\ledger.exe", "old", kOld);
    w.Machine.SetDiskSpace('E', 4);
    u.ShowPage();
    EXPECT_EQ(TNames{"Could not update the file E:\\Ledger\\ledger.exe"}, w.Memo1.Lines());
    EXPECT_EQ("old", w.Machine.Content("E:\\Ledger\\ledger.exe"));
    EXPECT_EQ(kOld, w.Machine.Time("E:\\Ledger\\ledger.exe"));
    int inDir = 0;
    for (const std::string& path : w.Machine.AllPaths()) inDir += path.rfind("E:\\Ledger\\", 0) == 0;
    EXPECT_EQ(1, inDir);  // no temporary file left behind
}

TEST_F(Run, DatesBefore1980LeaveThePackageCopysTime) {
    TUpdate& u = Ready({"D:\\Ledger"});
    Entry(u, "a.dat", "Always copy").FileDate = 0;  // 30.12.1899
    u.ShowPage();
    EXPECT_EQ(kNewer, w.Machine.Time("D:\\Ledger\\a.dat"));
}

TEST_F(Run, TheWindowShowsTheRunAndACloseWaitsForItsEnd) {
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
    EXPECT_TRUE(Updated("D:\\Ledger\\b.dat"));
}

}  // namespace
}  // namespace oup::test
