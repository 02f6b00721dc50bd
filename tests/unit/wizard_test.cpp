// The wizard's pages, buttons, start-up and closing, on fakes.
#include <gtest/gtest.h>

#include "common/Errors.h"
#include "support/FakeWizard.h"
#include "support/PackageKit.h"

namespace oup::test {
namespace {

const char* kPackage = "C:\\pkg\\ledger.oup";

class Wizard : public ::testing::Test {
protected:
    TTestPackage Pkg() {
        TTestPackage p;
        p.Script = StandardScript();
        p.Language = StandardLanguage();
        p.Payload = {{"file0.dat", "new ledger"}, {"readme.txt", "read me"}};
        return p;
    }
    // Writes the package and starts the wizard with it as the argument.
    TUpdate& Start(const TTestPackage& p) {
        WritePackage(w.Machine, kPackage, p);
        w.Args.push_back(kPackage);
        TUpdate& u = w.Create();
        u.FormShow();
        return u;
    }
    std::vector<std::string> Boxes() const {
        std::vector<std::string> out;
        for (const auto& m : w.Services.Messages) out.push_back(m.Text);
        return out;
    }
    TFakeWizard w;
};

TEST_F(Wizard, StartUpExtractsIntoAPrivateWorkDirAndShowsPageOne) {
    w.Machine.AddFile("C:\\TEMP\\stray.ln_", "Stray\r\n");  // left by someone else
    w.Machine.AddFile("C:\\TEMP\\oupdate.mem", "old notes");
    TUpdate& u = Start(Pkg());

    EXPECT_TRUE(Boxes().empty()) << Boxes()[0];
    ASSERT_EQ(0u, u.WorkDir.rfind("C:\\TEMP\\", 0));
    EXPECT_NE("C:\\TEMP\\", u.WorkDir);
    EXPECT_EQ('\\', u.WorkDir.back());
    EXPECT_TRUE(w.Machine.Exists(u.WorkDir + "file0.dat"));
    EXPECT_FALSE(w.Machine.Exists(u.WorkDir + "english.ln_"));  // read and deleted
    EXPECT_EQ("english.ln_", u.LanguageFileName);
    EXPECT_TRUE(w.Machine.Exists("C:\\TEMP\\stray.ln_"));

    EXPECT_EQ(1, u.Page);
    EXPECT_EQ("Update Ledger 3 to 3.1.0.", w.advpanel2.Caption());
    EXPECT_EQ("Ledger 3 3.1.0", w.OXPPanel1.Caption());  // filled again after the script
    EXPECT_EQ("Release notes", w.Memo1.Caption());
    EXPECT_TRUE(w.Memo1.Visible());
    EXPECT_FALSE(w.Label1.Visible());
    EXPECT_FALSE(w.StartKnapp.Visible());
    EXPECT_FALSE(w.ForrigeKnapp.Enabled());
    EXPECT_TRUE(w.NesteKnapp.Enabled());
    EXPECT_EQ("&Next >", w.NesteKnapp.Caption());
    EXPECT_EQ("C:\\WINDOWS", u.WindowsDir);
    EXPECT_EQ("C:\\WINDOWS\\SYSTEM32", u.SystemDir);
    ASSERT_EQ(2u, u.Script.FileEntries.size());
    EXPECT_EQ("readme.txt", u.Script.FileEntries[1].SourceName);
}

TEST_F(Wizard, MessagesAreLetThroughBeforeTheDriveListIsBuilt) {
    w.Machine.AddDrive('D');
    int itemsAtFirstPump = -1;
    w.Services.OnPump = [&] {
        if (itemsAtFirstPump < 0) itemsAtFirstPump = w.driveliste.Count();
    };
    Start(Pkg());
    EXPECT_EQ(0, itemsAtFirstPump);
    EXPECT_EQ((std::vector<std::string>{"C:", "D:"}), w.driveliste.Captions());
}

TEST_F(Wizard, BlankOrMissingNotesPointAtTheInstructions) {
    for (int variant = 0; variant < 2; ++variant) {
        TFakeWizard fresh;
        TTestPackage p = Pkg();
        if (variant == 0) p.Notes = " \r\n\t\r\n";
        else p.NoNotes = true;
        WritePackage(fresh.Machine, kPackage, p);
        fresh.Args.push_back(kPackage);
        fresh.Create().FormShow();
        EXPECT_EQ("<-- Follow the instructions.", fresh.Label1.Caption()) << variant;
        EXPECT_TRUE(fresh.Label1.Visible());
        EXPECT_FALSE(fresh.Memo1.Visible());
    }
}

TEST_F(Wizard, NoArgumentOpensTheDialogInTheExecutablesDirectory) {
    TUpdate& u = w.Create();
    u.FormShow();
    EXPECT_EQ((std::vector<std::string>{"C:\\"}), w.Services.DialogDirs);
    // Cancelled: the wizard closes, nothing is set up, the work dir is gone.
    EXPECT_EQ(1, w.Services.Closes);
    EXPECT_EQ(ecClosedEarly, u.ExitCode());
    EXPECT_EQ("Instruksjoner", w.advpanel2.Caption());
    EXPECT_FALSE(w.Machine.Exists(u.WorkDir));
    EXPECT_TRUE(w.Services.Messages.empty());
}

TEST_F(Wizard, TheChosenPackageIsRestored) {
    WritePackage(w.Machine, "C:\\dl\\upd.oup", Pkg());
    w.Services.DialogAnswer = "C:\\dl\\upd.oup";
    TUpdate& u = w.Create();
    u.FormShow();
    EXPECT_EQ(1, u.Page);
    EXPECT_EQ(0, w.Services.Closes);
    EXPECT_EQ("Ledger 3", u.Script.ProgramName);
}

TEST_F(Wizard, AnAppendedPackageWinsOverTheArgument) {
    WritePackage(w.Machine, "C:\\tmp.oup", Pkg());
    const std::string bytes = w.Machine.Content("C:\\tmp.oup");
    w.InstallExecutable(std::vector<uint8_t>(bytes.begin(), bytes.end()));
    w.Args.push_back("D:\\nothing\\here.oup");
    TUpdate& u = w.Create();
    u.FormShow();
    EXPECT_TRUE(w.Services.Messages.empty());
    EXPECT_TRUE(w.Services.DialogDirs.empty());
    EXPECT_EQ(1, u.Page);
    EXPECT_TRUE(w.Machine.Exists(u.WorkDir + "readme.txt"));
}

TEST_F(Wizard, ACutSelfContainedUpdateShowsTheRestoresOwnMessage) {
    WritePackage(w.Machine, "C:\\tmp.oup", Pkg());
    const std::string bytes = w.Machine.Content("C:\\tmp.oup");
    w.InstallExecutable(std::vector<uint8_t>(bytes.begin(), bytes.end() - 4));  // no end marker
    TUpdate& u = w.Create();
    u.FormShow();
    ASSERT_EQ(1u, w.Services.Messages.size());
    EXPECT_EQ("The update package \"C:\\oupdate.exe\" could not be read: Stream read error",
              w.Services.Messages[0].Text);
    EXPECT_EQ(ecNoPackage, u.ExitCode());
    EXPECT_EQ(1, w.Services.Closes);
}

TEST_F(Wizard, ABrokenPackageGivesOneMessageAndNoWizard) {
    WritePackage(w.Machine, kPackage, Pkg());
    std::string bytes = w.Machine.Content(kPackage);
    bytes[bytes.size() / 2] ^= 0x55;  // inside a block
    bytes[bytes.size() / 2 + 7] ^= 0x55;
    w.Machine.AddFile(kPackage, bytes);
    w.Args.push_back(kPackage);
    TUpdate& u = w.Create();
    u.FormShow();
    ASSERT_EQ(1u, w.Services.Messages.size());
    const std::string text = w.Services.Messages[0].Text;
    EXPECT_NE(std::string::npos, text.find(kPackage)) << text;
    EXPECT_NE(std::string::npos, text.find("(error ")) << text;  // the engine's code
    EXPECT_EQ(TMsgKind::Error, w.Services.Messages[0].Kind);
    EXPECT_EQ(1, w.Services.Closes);
    EXPECT_EQ(ecNoPackage, u.ExitCode());
    EXPECT_EQ("Instruksjoner", w.advpanel2.Caption());
    EXPECT_FALSE(w.Machine.Exists(u.WorkDir));
}

TEST_F(Wizard, AMissingOrCutPackageIsRefusedToo) {
    {
        TFakeWizard a({"C:\\oupdate.exe", "C:\\nowhere.oup"});
        TUpdate& u = a.Create();
        u.FormShow();
        ASSERT_EQ(1u, a.Services.Messages.size());
        EXPECT_NE(std::string::npos, a.Services.Messages[0].Text.find("C:\\nowhere.oup"));
        EXPECT_EQ(ecNoPackage, u.ExitCode());
    }
    WritePackage(w.Machine, kPackage, Pkg());
    const std::string bytes = w.Machine.Content(kPackage);
    w.Machine.AddFile(kPackage, bytes.substr(0, bytes.size() - 40));
    w.Args.push_back(kPackage);
    TUpdate& u = w.Create();
    u.FormShow();
    ASSERT_EQ(1u, w.Services.Messages.size());
    EXPECT_EQ(1, w.Services.Closes);
    EXPECT_EQ("Instruksjoner", w.advpanel2.Caption());
    EXPECT_EQ(ecNoPackage, u.ExitCode());
}

TEST_F(Wizard, StartUpErrorsEndTheWizardAfterTheirMessage) {
    TTestPackage badDate = Pkg();
    badDate.Script[7 + 5 + 3] = "31.02.2005";  // the second entry's date
    TUpdate& u = Start(badDate);
    ASSERT_EQ(1u, w.Services.Messages.size());
    EXPECT_EQ("'31.02.2005' is not a valid date and time", w.Services.Messages[0].Text);
    EXPECT_EQ("Ostrel Update", w.Services.Messages[0].Caption);
    EXPECT_EQ("Instruksjoner", w.advpanel2.Caption());  // page 1 never set up
    EXPECT_TRUE(u.StartupFailed());
    EXPECT_EQ(ecNoPackage, u.ExitCode());
    // Closed: nothing of the half-read script can be installed.
    EXPECT_EQ(1, w.Services.Closes);
    EXPECT_FALSE(w.Machine.Exists(u.WorkDir));

    TFakeWizard shortLanguage;
    TTestPackage p = Pkg();
    p.Language.resize(22);
    p.Notes = "";
    WritePackage(shortLanguage.Machine, kPackage, p);
    shortLanguage.Args.push_back(kPackage);
    shortLanguage.Create().FormShow();
    ASSERT_EQ(1u, shortLanguage.Services.Messages.size());
    EXPECT_EQ("List index out of bounds (25)", shortLanguage.Services.Messages[0].Text);
    // The layout texts of the optional captions stay.
    EXPECT_EQ("Stasjon", shortLanguage.driveliste.ColumnTitle());
    EXPECT_EQ("&Avbryt", shortLanguage.AvbrytKnapp.Caption());
}

TEST_F(Wizard, ACloseDuringTheRestoreWaitsForItAndLeavesNoWorkDir) {
    // Asked as the window asks on Alt+F4, while the restore pumps messages.
    bool closedAtOnce = false;
    w.Services.OnPump = [&] {
        if (w.Services.Pumps == 2 && w.Update().CloseQuery()) {
            closedAtOnce = true;
            w.Update().FormClose();
        }
    };
    TUpdate& u = Start(Pkg());
    EXPECT_FALSE(closedAtOnce);
    EXPECT_EQ(1, w.Services.Closes);
    EXPECT_FALSE(w.Machine.Exists(u.WorkDir));
    EXPECT_EQ("Instruksjoner", w.advpanel2.Caption());
    EXPECT_EQ(ecClosedEarly, u.ExitCode());
}

TEST_F(Wizard, NextAndPreviousWalkThePages) {
    TUpdate& u = Start(Pkg());
    u.NesteKnappClick();
    EXPECT_EQ(2, u.Page);
    EXPECT_EQ("Tick the drives to search.", w.advpanel2.Caption());
    EXPECT_TRUE(w.driveliste.Visible());
    EXPECT_TRUE(w.StartKnapp.Visible());
    EXPECT_FALSE(w.NesteKnapp.Enabled());
    EXPECT_TRUE(w.ForrigeKnapp.Enabled());
    EXPECT_FALSE(w.Memo1.Visible());
    EXPECT_FALSE(w.Liste.Visible());
    EXPECT_FALSE(w.Label1.Visible());

    u.ForrigeKnappClick();
    EXPECT_EQ(1, u.Page);
    EXPECT_TRUE(w.Memo1.Visible());  // the notes come back
    EXPECT_FALSE(w.driveliste.Visible());
    EXPECT_FALSE(w.ForrigeKnapp.Enabled());

    // Page 3 as the search leaves it, with two instances found.
    w.Liste.AddItem("C:\\Apps\\Ledger", true);
    w.Liste.AddItem("D:\\Ledger", true);
    u.Page = 3;
    u.ShowPage();
    EXPECT_EQ("Found 2 copies of Ledger 3.", w.advpanel2.Caption());
    EXPECT_EQ("&Update", w.NesteKnapp.Caption());
    EXPECT_TRUE(w.Liste.Visible());
    EXPECT_TRUE(w.NesteKnapp.Enabled());
    u.ForrigeKnappClick();
    EXPECT_EQ("&Next >", w.NesteKnapp.Caption());
    EXPECT_FALSE(w.Liste.Visible());
}

TEST_F(Wizard, EmptyNotesLeaveTheContentAreaEmptyOnReturn) {
    TTestPackage p = Pkg();
    p.Notes = "";
    TUpdate& u = Start(p);
    EXPECT_TRUE(w.Label1.Visible());
    u.NesteKnappClick();
    u.ForrigeKnappClick();
    EXPECT_FALSE(w.Label1.Visible());
    EXPECT_FALSE(w.Memo1.Visible());
}

TEST_F(Wizard, PageFiveShowsTheWarningOnlyWithFailureLines) {
    TUpdate& u = Start(Pkg());
    w.Memo1.SetCaption("");
    u.Page = 5;
    u.ShowPage();
    EXPECT_EQ("Done updating Ledger 3.", w.advpanel2.Caption());
    EXPECT_FALSE(w.Label12.Visible());
    EXPECT_FALSE(w.NesteKnapp.Visible());
    EXPECT_FALSE(w.ForrigeKnapp.Visible());
    w.Memo1.AppendLine("Could not update the file C:\\x");
    u.ShowPage();
    EXPECT_TRUE(w.Label12.Visible());
    EXPECT_TRUE(w.Memo1.Visible());
}

TEST_F(Wizard, OtherPageNumbersChangeNothingAndZeroMeansOne) {
    TUpdate& u = Start(Pkg());
    w.Log.clear();
    u.Page = 7;
    u.ShowPage();
    EXPECT_TRUE(w.Log.empty());
    u.Page = 0;
    u.ShowPage();
    EXPECT_EQ(1, u.Page);
    EXPECT_EQ("Update Ledger 3 to 3.1.0.", w.advpanel2.Caption());
}

TEST_F(Wizard, AMissingTextStopsThePageWhereItIsAsked) {
    TTestPackage p = Pkg();
    p.Language.resize(12);
    p.Language[3] = "Title";
    TUpdate& u = Start(p);  // page 1 needs text 4 only... and 25 is not asked: notes exist
    EXPECT_EQ(1, u.Page);
    u.Page = 5;
    try {
        u.ShowPage();
        ADD_FAILURE() << "no error";
    } catch (const EListError& e) {
        EXPECT_EQ("List index out of bounds (15)", e.Message());
    }
}

TEST_F(Wizard, CancelGoesBackToPageTwoWithTheNormalCursor) {
    TUpdate& u = Start(Pkg());
    u.NesteKnappClick();
    w.Services.Cursor = TCursorKind::crHourGlass;
    w.AvbrytKnapp.SetVisible(true);
    u.AvbrytKnappClick();
    EXPECT_TRUE(u.CancelRequested);
    EXPECT_EQ(2, u.Page);
    EXPECT_FALSE(w.AvbrytKnapp.Visible());
    EXPECT_TRUE(w.StartKnapp.Visible());
    EXPECT_EQ(TCursorKind::crDefault, w.Services.Cursor);
}

TEST_F(Wizard, ClosingRemovesTheWorkDirAndNothingElse) {
    TTestPackage p = Pkg();
    p.Script.insert(p.Script.end(), {"..\\victim.txt", "x", "Always copy", "01.01.2005", "<installdir>"});
    p.Payload.push_back({"extra.bin", "not named by the script"});
    w.Machine.AddFile("C:\\TEMP\\victim.txt", "keep me");
    w.Machine.AddFile("C:\\TEMP\\oupdate.inf", "someone else's");
    TUpdate& u = Start(p);
    const std::string work = u.WorkDir;
    ASSERT_TRUE(w.Machine.Exists(work + "extra.bin"));
    EXPECT_TRUE(u.CloseQuery());
    u.Button2Click();
    EXPECT_EQ(1, w.Services.Closes);
    EXPECT_FALSE(w.Machine.Exists(work));
    EXPECT_EQ("keep me", w.Machine.Content("C:\\TEMP\\victim.txt"));
    EXPECT_EQ("someone else's", w.Machine.Content("C:\\TEMP\\oupdate.inf"));
    EXPECT_TRUE(w.Machine.Exists(kPackage));
}

TEST(CommandLine, OptionsInAnyOrderAndCase) {
    const TCommandLine cl = ParseCommandLine(
        {"C:\\u\\oupdate.exe", "/dir=D:\\Apps\\;E:\\", "/s", "C:\\a b\\pkg.oup", "/Log=C:\\l.txt"});
    EXPECT_EQ("C:\\u\\oupdate.exe", cl.ExePath);
    EXPECT_EQ("C:\\a b\\pkg.oup", cl.PackagePath);
    EXPECT_TRUE(cl.Silent);
    EXPECT_EQ("C:\\l.txt", cl.LogFile);
    EXPECT_EQ((std::vector<std::string>{"D:\\Apps", "E:"}), cl.Dirs);
    EXPECT_EQ("", cl.UsageError);
    const TCommandLine none = ParseCommandLine({"oupdate.exe"});
    EXPECT_FALSE(none.Silent || none.ShowUsage);
    EXPECT_TRUE(none.PackagePath.empty());
    EXPECT_TRUE(ParseCommandLine({"oupdate.exe", "/?"}).ShowUsage);
}

TEST(CommandLine, EachUsageErrorNamesTheArgument) {
    const std::pair<std::vector<std::string>, std::string> cases[] = {
        {{"p.oup", "/FOO"}, "Unknown option \"/FOO\"."},
        {{"/"}, "Unknown option \"/\"."},
        {{"/DIR", "C:\\x"}, "The option \"/DIR\" needs a value: /DIR=DIR[;DIR...]."},
        {{"p.oup", "/DIR="}, "The option \"/DIR=\" needs a value: /DIR=DIR[;DIR...]."},
        {{"/dir=;;"}, "The option \"/dir=;;\" needs a value: /DIR=DIR[;DIR...]."},
        {{"/LOG="}, "The option \"/LOG=\" needs a value: /LOG=FILE."},
        {{"/S=yes"}, "The option \"/S=yes\" takes no value."},
        {{"a.oup", "b.oup"}, "A second package \"b.oup\" was given after \"a.oup\"."},
    };
    for (const auto& [args, error] : cases) {
        std::vector<std::string> all{"oupdate.exe"};
        all.insert(all.end(), args.begin(), args.end());
        EXPECT_EQ(error, ParseCommandLine(all).UsageError) << args.back();
    }
    // The first error is kept; what follows is still read, so that /S and
    // /LOG know where to report it.
    const TCommandLine cl = ParseCommandLine({"oupdate.exe", "/X", "/Y", "/S", "/LOG=C:\\l.txt"});
    EXPECT_EQ("Unknown option \"/X\".", cl.UsageError);
    EXPECT_TRUE(cl.Silent);
    EXPECT_EQ("C:\\l.txt", cl.LogFile);
}

class DriveList : public ::testing::Test {
protected:
    std::vector<std::string> Fill() {
        w.Create().FillDriveList();
        for (int i = 0; i < w.driveliste.Count(); ++i) EXPECT_TRUE(w.driveliste.ItemChecked(i));
        return w.driveliste.Captions();
    }
    TFakeWizard w;
    using V = std::vector<std::string>;
};

TEST_F(DriveList, FixedDrivesInLetterOrder) {
    w.Machine.AddDrive('D');
    w.Machine.AddDrive('E', dtCdRom);
    w.Machine.AddDrive('A', dtRemovable);
    w.Machine.AddDrive('R', dtRamDisk);
    EXPECT_EQ((V{"C:", "D:"}), Fill());
}

TEST_F(DriveList, OneLetterSharesAreProbedOnTheirServer) {
    w.Machine.AddDrive('F', dtRemote);  // mapped to \\server\c: not listed as F:
    w.Machine.AddShare("\\\\server\\c");
    w.Machine.AddShare("\\\\server\\D");
    w.Machine.AddShare("\\\\other\\x");
    w.Machine.AddConnectedResource("\\\\server\\c");
    w.Machine.AddConnectedResource("\\\\other\\x");
    w.Machine.AddConnectedResource("\\\\server\\d");
    // The server's shares come once, whatever the order of the connections.
    EXPECT_EQ((V{"C:", "\\\\server\\C", "\\\\server\\D", "\\\\other\\X"}), Fill());
}

TEST_F(DriveList, LongShareNamesAreOfferedThemselves) {
    w.Machine.AddShare("\\\\server\\data");
    w.Machine.AddShare("\\\\server\\vol2");
    w.Machine.AddConnectedResource("\\\\server\\data");
    w.Machine.AddConnectedResource("\\\\server\\vol2");
    w.Machine.AddConnectedResource("\\\\gone\\share");  // not reachable: nothing
    EXPECT_EQ((V{"C:", "\\\\server\\datA", "\\\\server\\vol2"}), Fill());
}

TEST_F(DriveList, CommandLineRootsReplaceTheDrives) {
    w.Args = {"C:\\oupdate.exe", "/DIR=D:\\Apps\\;\\\\srv\\share;d:\\apps"};
    EXPECT_EQ((V{"D:\\Apps", "\\\\srv\\share"}), Fill());
}

}  // namespace
}  // namespace oup::test
