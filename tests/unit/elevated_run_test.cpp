// Start-up as administrator or SYSTEM on the fake machine: who may reach the work directory,
// no window where nobody sees one, room for the package, volumes that lead round in a circle.
#include <gtest/gtest.h>

#include "app/Headless.h"
#include "support/FakeWizard.h"
#include "support/PackageKit.h"

namespace oup::test {
namespace {

const char* kPackage = "C:\\pkg\\ledger.oup";
const char* kExe = "C:\\Apps\\Ledger\\ledger.exe";

class ElevatedRun : public ::testing::Test {
protected:
    ElevatedRun() {
        TTestPackage p{StandardScript(),   "notes",       false,
                       StandardLanguage(), "english.ln_", {{"file0.dat", "new ledger"}}};
        WritePackage(w.Machine, kPackage, p);
    }
    // A run as the program's entry makes it; -1 when it would show the wizard.
    int Run(std::vector<std::string> args) {
        w.Machine.AddFile(kExe, "old ledger");
        w.Machine.StandardError.clear();
        args.insert(args.begin(), "C:\\oupdate.exe");
        TCommandLine commandLine = ParseCommandLine(args);
        RunWithoutWindowsWhereNobodySees(w.Machine, commandLine);
        return commandLine.Silent ? RunUnattended(w.Machine, commandLine) : -1;
    }
    TFakeWizard w;
};

TEST_F(ElevatedRun, AnElevatedWorkDirectoryAdmitsNoUserAndCarriesAHighLabel) {
    for (const bool elevated : {false, true}) {
        w.Machine.Elevated = elevated;
        TUpdate& u = w.Create();
        u.FormShow();
        const std::string sddl = w.Machine.DirSecurity.at(ExcludeTrailingBackslash(u.WorkDir));
        // Nothing inherited; SYSTEM and the Administrators in full.
        EXPECT_EQ(0u, sddl.find("D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)")) << sddl;
        // The same user's unelevated programs run under the same account.
        EXPECT_EQ(!elevated, sddl.find(w.Machine.AccountSid) != std::string::npos) << sddl;
        EXPECT_EQ(elevated, sddl.find("S:(ML;OICI;NWNRNX;;;HI)") != std::string::npos) << sddl;
    }
}

TEST_F(ElevatedRun, WhereNobodySeesAWindowTheRunGoesAsWithSlashS) {
    const struct {
        bool withoutUser;
        std::vector<std::string> args;
        int status;  // -1: the wizard
        const char* standardError;
    } cases[] = {
        {true, {kPackage, "/LOG=C:\\update.log"}, ecSuccess, ""},
        {true, {}, ecNoPackage, "No update package was given.\r\nUsage: oupdate.exe [PACKAGE]"},
        {false, {kPackage}, -1, ""},
    };
    for (const auto& c : cases) {
        w.Machine.WithoutUser = c.withoutUser;
        EXPECT_EQ(c.status, Run(c.args));
        EXPECT_EQ(0u, w.Machine.StandardError.find(c.standardError)) << w.Machine.StandardError;
        EXPECT_EQ(c.status == ecSuccess ? "new ledger" : "old ledger", w.Machine.Content(kExe));
    }
    EXPECT_NE(std::string::npos,
              w.Machine.Content("C:\\update.log").find("(SYSTEM, or session 0)"));
}

TEST_F(ElevatedRun, APackageWithoutRoomLeavesNothingBehind) {
    const std::string sound = w.Machine.Content(kPackage);
    std::string understated = sound;
    understated.replace(4, 4, std::string("\1\0\0\0", 4));  // TotalSize 1
    const size_t total = static_cast<unsigned char>(sound[4]) | sound[5] << 8, mib = 1 << 20;
    const struct {
        std::string package;
        size_t freeBytes;
        std::string error;  // empty: installed
    } cases[] = {
        {sound, 65 * mib, ""},
        {sound, 64 * mib,
         "it holds " + std::to_string(total) + " bytes, which with room to spare need " +
             std::to_string(total + 64 * mib) + ", and 67108864 bytes are free on the drive of"},
        {understated, 65 * mib,
         "could not be read: The package holds more data than its header announces (error 8)"},
    };
    for (const auto& c : cases) {
        w.Machine.AddFile(kPackage, c.package);
        w.Machine.SetDiskSpace('C', c.freeBytes);
        EXPECT_EQ(c.error.empty() ? ecSuccess : ecNoPackage, Run({kPackage, "/S"}));
        EXPECT_NE(std::string::npos, w.Machine.StandardError.find(c.error))
            << w.Machine.StandardError;
        EXPECT_EQ(c.error.empty() ? "new ledger" : "old ledger", w.Machine.Content(kExe));
        for (const std::string& path : w.Machine.AllPaths())
            EXPECT_EQ(std::string::npos, path.find("oupdate-")) << path;
    }
}

TEST_F(ElevatedRun, VolumesThatComeRoundAgainStopTheWizardAsTheyStopSlashS) {
    w.Machine.AddFile(kPackage, TPackageBytes().Header(0, 0).Switch("002").Str());
    w.Machine.AddFile("C:\\pkg\\ledger.002",
                      TPackageBytes().Signature().EndData().Switch("002").Str());
    const std::string error =
        "The update package \"C:\\pkg\\ledger.oup\" could not be read: volume C:\\pkg\\ledger.002 "
        "comes round again";
    // Unattended: the volume beside the first is taken, once.
    EXPECT_EQ(ecNoPackage, Run({kPackage, "/S"}));
    EXPECT_EQ(error + "\r\n", w.Machine.StandardError);
    // The wizard asks for it, once, and stops with the same words.
    w.Args.push_back(kPackage);
    w.Create().FormShow();
    ASSERT_EQ(2u, w.Services.Messages.size());
    EXPECT_EQ("Please insert disk 2 and click OK to continue.", w.Services.Messages[0].Text);
    EXPECT_EQ(error, w.Services.Messages[1].Text);
}

}  // namespace
}  // namespace oup::test
