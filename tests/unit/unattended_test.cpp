// Unattended mode (/S) end to end on a fake machine: the exit status, the
// log an administrator reads, and volumes found without anyone to ask.
#include <gtest/gtest.h>

#include <algorithm>

#include "package/PackageWriter.h"
#include "support/FakeWizard.h"
#include "support/PackageKit.h"

namespace oup::test {
namespace {

using TNames = std::vector<std::string>;
const char* kPackage = "C:\\pkg\\ledger.oup";
const char* kLog = "C:\\update.log";

TTestPackage Ledger(const std::string& exeContent = "new ledger") {
    TTestPackage p;
    p.Script = StandardScript();
    p.Language = StandardLanguage();
    p.Payload = {{"file0.dat", exeContent}, {"readme.txt", "read me"}};
    return p;
}

// The package in volumes of at most volumeSize bytes; returns their paths.
TNames WriteVolumes(TFakeMachine& m, const TTestPackage& p, int64_t volumeSize) {
    TPackageWriterOptions options;
    options.VolumeSize = volumeSize;
    m.AddDir(ExtractFilePath(kPackage));
    TPackageWriter writer(m, kPackage, options);
    auto add = [&](const std::string& name, std::string text) {
        TMemoryStream content(std::vector<uint8_t>(text.begin(), text.end()));
        writer.AddEntry("d:\\pack\\" + name, TFakeMachine::kDefaultTime, content);
    };
    auto join = [](const TNames& lines) {
        std::string out;
        for (const std::string& l : lines) out += l + "\r\n";
        return out;
    };
    add("oupdate.inf", join(p.Script));
    add("english.ln_", join(p.Language));
    for (const auto& [name, content] : p.Payload) add(name, content);
    return writer.Finish();
}

class Unattended : public ::testing::Test {
protected:
    Unattended() {
        w.Machine.AddDrive('D');
        w.Machine.AddFile("C:\\Apps\\Ledger\\ledger.exe", "old ledger");
        w.Machine.AddFile("C:\\Apps\\Ledger\\readme.txt", "old readme");
        w.Machine.AddFile("D:\\Ledger\\ledger.exe", "old ledger");
    }
    int Run(TNames options) {
        options.insert(options.begin(), "C:\\oupdate.exe");
        return RunUnattended(w.Machine, ParseCommandLine(options));
    }
    TNames LogLines() {
        const std::string text = w.Machine.Exists(kLog) ? w.Machine.Content(kLog) : "";
        TNames lines;
        for (size_t from = 0, at; (at = text.find("\r\n", from)) != std::string::npos; from = at + 2)
            lines.push_back(text.substr(from, at - from));
        return lines;
    }
    bool Logged(const std::string& line) {
        const TNames lines = LogLines();
        return std::find(lines.begin(), lines.end(), line) != lines.end();
    }
    TFakeWizard w;
};

TEST_F(Unattended, InstallsIntoEveryInstallationAndLogsEachDecision) {
    WritePackage(w.Machine, kPackage, Ledger());
    w.Machine.AddFile(kLog, "earlier run\r\n");
    EXPECT_EQ(ecSuccess, Run({"/s", "/Log=C:\\update.log", kPackage}));

    const int32_t exeDate = DateTimeToDos(StrToDateTime("28.02.2005 16:55:44"));
    for (const char* exe : {"C:\\Apps\\Ledger\\ledger.exe", "D:\\Ledger\\ledger.exe"}) {
        EXPECT_EQ("new ledger", w.Machine.Content(exe));
        EXPECT_EQ(exeDate, w.Machine.Time(exe));
    }
    EXPECT_EQ("read me", w.Machine.Content("C:\\Apps\\Ledger\\readme.txt"));
    EXPECT_FALSE(w.Machine.Exists("D:\\Ledger\\readme.txt"));

    EXPECT_EQ("earlier run", LogLines().at(0));
    for (const char* line :
         {"Package C:\\pkg\\ledger.oup", "Searching C:", "Searching D:", "Found C:\\Apps\\Ledger",
          "Found D:\\Ledger", "Installed C:\\Apps\\Ledger\\ledger.exe",
          "Installed C:\\Apps\\Ledger\\readme.txt", "Installed D:\\Ledger\\ledger.exe",
          "Skipped D:\\Ledger\\readme.txt: missing (\"Update if present\")"})
        EXPECT_TRUE(Logged(line)) << line;
    // The work directory goes when the run ends.
    for (const std::string& path : w.Machine.AllPaths())
        EXPECT_EQ(std::string::npos, path.find("oupdate-")) << path;
}

TEST_F(Unattended, AFolderNameOutsideTheCodePageIsLoggedNotDropped) {
    WritePackage(w.Machine, kPackage, Ledger());
    w.Machine.AddFile("D:\\Programs\\Ledger\\ledger.exe", "old ledger");
    w.Machine.SetNoAnsiName("D:\\Programs");  // and no short name: 8.3 names are off
    EXPECT_EQ(ecSuccess, Run({"/S", kPackage, "/LOG=C:\\update.log"}));
    EXPECT_TRUE(Logged("Skipped D:\\????????: name not representable"));
    EXPECT_EQ("old ledger", w.Machine.Content("D:\\Programs\\Ledger\\ledger.exe"));
}

TEST_F(Unattended, ExitStatusTellsWhatHappened) {
    // No package at all, one that is not there, one that is no package.
    EXPECT_EQ(ecNoPackage, Run({"/S", "/LOG=C:\\update.log"}));
    EXPECT_TRUE(Logged("Error: No update package was given."));
    EXPECT_EQ(ecNoPackage, Run({"/S", "C:\\pkg\\none.oup"}));
    w.Machine.AddFile("C:\\pkg\\junk.oup", "this is no package");
    EXPECT_EQ(ecNoPackage, Run({"/S", "C:\\pkg\\junk.oup"}));
    WritePackage(w.Machine, kPackage, Ledger());
    EXPECT_EQ(ecNoPackage, Run({"/S", kPackage, "/LOG=C:\\missing\\dir\\update.log"}));

    // Roots given: only those are searched, here with nothing to find.
    w.Machine.AddDrive('E');
    EXPECT_EQ(ecNoInstallation, Run({"/S", kPackage, "/DIR=E:\\", "/LOG=C:\\update.log"}));
    EXPECT_TRUE(Logged("Searching E:"));
    EXPECT_TRUE(Logged("No installation found"));
    EXPECT_EQ("old ledger", w.Machine.Content("D:\\Ledger\\ledger.exe"));

    // A program that runs holds its file: it waits for the restart, the
    // rest goes in now.
    w.Machine.AddFile("D:\\Ledger\\readme.txt", "old readme");
    w.Machine.Lock("D:\\Ledger\\ledger.exe");
    EXPECT_EQ(ecRestartRequired,
              Run({"/S", kPackage, "/DIR=E:;D:\\Ledger", "/LOG=C:\\update.log"}));
    EXPECT_TRUE(Logged("Scheduled D:\\Ledger\\ledger.exe for replacement at restart"));
    EXPECT_EQ("old ledger", w.Machine.Content("D:\\Ledger\\ledger.exe"));
    EXPECT_EQ("new ledger", w.Machine.Content("D:\\Ledger\\ledger.exe.oupnew"));
    EXPECT_EQ("read me", w.Machine.Content("D:\\Ledger\\readme.txt"));
    EXPECT_EQ("old ledger", w.Machine.Content("C:\\Apps\\Ledger\\ledger.exe"));  // not a root

    // Told not to, the updater leaves a held file as it is, and says so.
    const size_t pending = w.Machine.PendingRenames.size();
    EXPECT_EQ(ecFailures,
              Run({"/S", kPackage, "/DIR=D:\\Ledger", "/norestartreplace", "/LOG=C:\\update.log"}));
    EXPECT_TRUE(Logged("Could not update the file D:\\Ledger\\ledger.exe"));
    EXPECT_EQ(pending, w.Machine.PendingRenames.size());

    // A log whose end cannot be reached is not written over from its start.
    w.Machine.AddFile("C:\\stuck.log", "earlier runs\r\n");
    w.Machine.FailSeeks("C:\\stuck.log");
    EXPECT_EQ(ecNoPackage, Run({"/S", kPackage, "/LOG=C:\\stuck.log"}));
    EXPECT_EQ("earlier runs\r\n", w.Machine.Content("C:\\stuck.log"));
}

TEST_F(Unattended, AnErrorAfterTheSearchOrTheUpdateIsNeverASuccess) {
    // Language files that end before the text a step asks for: text 21
    // after the search, before anything is installed; text 26 once every
    // file is in (or waits for a restart), where the run had ended well.
    struct {
        size_t texts;
        bool held;
        int status;
        const char* exe;  // what D:\Ledger\ledger.exe holds afterwards
    } cases[] = {
        {21, false, ecNoPackage, "old ledger"},
        {26, false, ecFailures, "new ledger"},
        {26, true, ecFailures, "old ledger"},  // else 3010
    };
    for (const auto& c : cases) {
        w.Machine.AddFile("D:\\Ledger\\ledger.exe", "old ledger");
        if (c.held) w.Machine.Lock("D:\\Ledger\\ledger.exe");
        TTestPackage p = Ledger();
        p.Language.resize(c.texts);
        WritePackage(w.Machine, kPackage, p);
        EXPECT_EQ(c.status, Run({"/S", kPackage, "/LOG=C:\\update.log"})) << c.texts;
        EXPECT_EQ("Error: List index out of bounds (" + std::to_string(c.texts) + ")",
                  LogLines().at(LogLines().size() - 2))
            << c.texts;  // before "Closed on page ..."
        EXPECT_EQ(c.exe, w.Machine.Content("D:\\Ledger\\ledger.exe")) << c.texts;
    }
}

TEST_F(Unattended, AnErrorReachesStandardErrorWhenThereIsNoLogToTakeIt) {
    const struct {
        TNames args;
        const char* error;
    } cases[] = {
        {{"/S", kPackage}, "The update package \"C:\\pkg\\ledger.oup\" could not be read: "},
        {{"/S", kPackage, "/LOG=C:\\missing\\dir\\update.log"},
         "Cannot open file \"C:\\missing\\dir\\update.log\"."},
    };
    w.Machine.AddFile("C:\\pkg\\ledger.oup", "this is no package");
    for (const auto& c : cases) {
        w.Machine.StandardError.clear();
        EXPECT_EQ(ecNoPackage, Run(c.args));
        EXPECT_EQ(0u, w.Machine.StandardError.find(c.error)) << w.Machine.StandardError;
    }
}

TEST_F(Unattended, ADirRootThatIsNoDirectoryIsNamedInTheLog) {
    WritePackage(w.Machine, kPackage, Ledger());
    // The \" of /DIR="D:\Apps\" took the rest of the command line into it.
    EXPECT_EQ(ecNoInstallation,
              Run({"/S", kPackage, "/LOG=C:\\update.log", "/DIR=D:\\Apps\" /LOG=x.log;E:"}));
    EXPECT_TRUE(Logged("/DIR root is not an existing directory: D:\\Apps\" /LOG=x.log"));
    EXPECT_TRUE(Logged("/DIR root is not an existing directory: E:"));
    EXPECT_TRUE(Logged("No installation found"));
    // Roots that are there are searched without a word.
    const size_t lines = LogLines().size();
    EXPECT_EQ(ecSuccess, Run({"/S", kPackage, "/LOG=C:\\update.log", "/DIR=D:\\;C:\\Apps"}));
    const TNames all = LogLines();
    EXPECT_TRUE(std::none_of(all.begin() + lines, all.end(), [](const std::string& l) {
        return l.find("not an existing directory") != std::string::npos;
    }));
}

TEST_F(Unattended, AUsageErrorIsOneLogLineAndStatusTwo) {
    WritePackage(w.Machine, kPackage, Ledger());
    EXPECT_EQ(ecNoPackage, Run({kPackage, "/S", "/FOO", "/LOG=C:\\update.log"}));
    EXPECT_EQ(TNames{"Error: Unknown option \"/FOO\"."}, LogLines());
    EXPECT_EQ(0u, w.Machine.StandardError.find("Unknown option \"/FOO\".\r\nUsage: oupdate.exe "))
        << w.Machine.StandardError;
    EXPECT_EQ("old ledger", w.Machine.Content("D:\\Ledger\\ledger.exe"));
    // The usage asked for: nobody to show it to, and nothing done.
    EXPECT_EQ(ecSuccess, Run({kPackage, "/S", "/?"}));
    EXPECT_EQ("old ledger", w.Machine.Content("D:\\Ledger\\ledger.exe"));
}

TEST_F(Unattended, FurtherVolumesAreTakenWhenTheyLieBesideTheFirst) {
    const TNames volumes = WriteVolumes(w.Machine, Ledger(NoiseBytes(40000)), 20000);
    ASSERT_GE(volumes.size(), 2u);
    EXPECT_EQ(ecSuccess, Run({"/S", kPackage, "/LOG=C:\\update.log"}));
    EXPECT_EQ(NoiseBytes(40000), w.Machine.Content("D:\\Ledger\\ledger.exe"));

    w.Machine.DeleteFile(volumes.back());
    EXPECT_EQ(ecNoPackage, Run({"/S", kPackage, "/LOG=C:\\update.log"}));
    EXPECT_TRUE(Logged("Missing volume " + volumes.back()));

    // Switches that lead back to a volume already read end the run.
    w.Machine.AddFile(kPackage, TPackageBytes().Header(0, 0).Switch("002").Str());
    w.Machine.AddFile("C:\\pkg\\ledger.002", TPackageBytes().Signature().EndData().Switch("002").Str());
    EXPECT_EQ(ecNoPackage, Run({"/S", kPackage, "/LOG=C:\\update.log"}));
    EXPECT_TRUE(Logged("Volume C:\\pkg\\ledger.002 comes round again"));
}

TEST_F(Unattended, NamesOutsideTheCodePageAreTakenByTheirShortNamesOrNamedInTheError) {
    // The first volume reached by its short name, the second by another.
    const TNames volumes = WriteVolumes(w.Machine, Ledger(NoiseBytes(40000)), 30000);
    ASSERT_EQ(2u, volumes.size());
    w.Machine.AddFile("C:\\pkg\\PAKET~1.OUP", w.Machine.Content(volumes[0]));
    w.Machine.AddFile("C:\\pkg\\8F3A~1.002", w.Machine.Content(volumes[1]));
    w.Machine.AddShortName("C:\\pkg\\Пакет.oup", "C:\\pkg\\PAKET~1.OUP");
    w.Machine.AddShortName("C:\\pkg\\Пакет.002", "C:\\pkg\\8F3A~1.002");
    // Дмитрий's temporary directory.
    w.Machine.TempDir = "C:\\Users\\Дмитрий\\Temp\\";
    w.Machine.AddDir("C:\\Users\\DMITRI~1\\Temp");
    w.Machine.AddShortName("C:\\Users\\Дмитрий\\Temp", "C:\\Users\\DMITRI~1\\Temp");
    EXPECT_EQ(ecSuccess, Run({"/S", "C:\\pkg\\PAKET~1.OUP", "/LOG=C:\\update.log"}));
    EXPECT_EQ(NoiseBytes(40000), w.Machine.Content("D:\\Ledger\\ledger.exe"));
    EXPECT_TRUE(Logged("Volume C:\\pkg\\8F3A~1.002"));
    const TNames lines = LogLines();
    EXPECT_TRUE(std::any_of(lines.begin(), lines.end(), [](const std::string& l) {
        return l.rfind("Work directory C:\\Users\\DMITRI~1\\Temp\\oupdate-", 0) == 0;
    }));

    // A second volume without a short name is not to be had, and is named.
    w.Machine.AddFile("D:\\Ledger\\ledger.exe", "old ledger");
    w.Machine.AddShortName("C:\\pkg\\Счёт.oup", "C:\\pkg\\PKT~2.OUP");
    w.Machine.AddFile("C:\\pkg\\PKT~2.OUP", w.Machine.Content(volumes[0]));
    EXPECT_EQ(ecNoPackage, Run({"/S", "C:\\pkg\\PKT~2.OUP", "/LOG=C:\\update.log"}));
    EXPECT_TRUE(Logged("Missing volume 2 of C:\\pkg\\PKT~2.OUP"));

    // Where 8.3 names are off there is no usable form: the path is named.
    const std::string after =
        " cannot be used: its name has characters outside the ANSI code page and no "
        "short (8.3) name without them.";
    w.Machine.TempDir = "D:\\Users\\Дмитрий\\Temp\\";
    EXPECT_EQ(ecNoPackage, Run({"/S", "C:\\pkg\\PAKET~1.OUP", "/LOG=C:\\update.log"}));
    EXPECT_TRUE(Logged("Error: The path \"D:\\Users\\Дмитрий\\Temp\\\"" + after));
    // The same for a path on the command line, as the program's entry marks it.
    w.Machine.TempDir = "C:\\TEMP\\";
    TCommandLine commandLine =
        ParseCommandLine({"C:\\oupdate.exe", "/S", "C:\\?????\\ledger.oup", "/LOG=C:\\update.log"});
    commandLine.UnusablePaths = {"C:\\?????\\ledger.oup"};
    EXPECT_EQ(ecNoPackage, RunUnattended(w.Machine, commandLine));
    EXPECT_TRUE(Logged("Error: The path \"C:\\?????\\ledger.oup\"" + after));
    EXPECT_EQ("old ledger", w.Machine.Content("D:\\Ledger\\ledger.exe"));
}

}  // namespace
}  // namespace oup::test
