// The report of a run (/REPORT), one update at a time on a machine, and the
// programs named beside a file in use, on a fake machine; and the JSON text
// the report is written in.
#include <gtest/gtest.h>

#include <algorithm>

#include "common/JsonWriter.h"
#include "common/Text.h"
#include "support/FakeWizard.h"

namespace oup::test {
namespace {

using TNames = std::vector<std::string>;

TEST(JsonText, StringsAreEscapedAndComeFromTheCodePageAsUtf8) {
    const struct {
        std::string Ansi;  // Windows-1252
        std::string Json;  // UTF-8
    } cases[] = {
        {"C:\\Apps\\Ledger", "\"C:\\\\Apps\\\\Ledger\""},
        {"say \"hi\"", "\"say \\\"hi\\\"\""},
        {"a\tb\r\n\x01\x1f\x7f", "\"a\\tb\\r\\n\\u0001\\u001f\x7f\""},
        {"\xC5se \x80 \x81 \x9F \xFF", "\"\xC3\x85se \xE2\x82\xAC \xC2\x81 \xC5\xB8 \xC3\xBF\""},
    };
    for (const auto& c : cases) EXPECT_EQ(c.Json, JsonString(Utf8From1252(c.Ansi))) << c.Ansi;

    // What is no UTF-8 never reaches the document as it is.
    const struct {
        std::string Utf8, Json;
    } bytes[] = {
        {"\xF0\x9F\x98\x80", "\"\xF0\x9F\x98\x80\""},              // a whole four-byte character
        {"x\xC3", "\"x\\ufffd\""},                                 // cut short at the end
        {"\xC0\xAF", "\"\\ufffd\\ufffd\""},                        // an overlong '/'
        {"\xED\xA0\x80", "\"\\ufffd\\ufffd\\ufffd\""},             // a surrogate
        {"\xF4\x90\x80\x80", "\"\\ufffd\\ufffd\\ufffd\\ufffd\""},  // above U+10FFFF
    };
    for (const auto& b : bytes) EXPECT_EQ(b.Json, JsonString(b.Utf8));

    TJsonWriter json;
    json.BeginObject();
    json.Key("a");
    json.BeginArray();
    json.EndArray();
    json.Key("b");
    json.BeginObject();
    json.Key("c");
    json.Null();
    json.Key("d");
    json.BeginArray();
    json.Number(-1);
    json.Bool(true);
    json.EndArray();
    json.EndObject();
    json.EndObject();
    EXPECT_EQ(
        "{\n  \"a\": [],\n  \"b\": {\n    \"c\": null,\n    \"d\": [\n      -1,\n      true\n"
        "    ]\n  }\n}\n",
        json.Text());
}

const char* kPackage = "C:\\pkg\\ledger.oup";
const char* kLog = "C:\\update.log";
const char* kReport = "C:\\out\\report.json";
const std::string kHeld = "D:\\Ledger\\ledger.exe";
const TFileHolder kLedger{"Ledger 3", "ledger.exe", 1234};

class Fleet : public ::testing::Test {
protected:
    Fleet() {
        w.Machine.AddDrive('D');
        w.Machine.AddDrive('E');
        w.Machine.AddDir("C:\\out");
        w.Machine.AddFile("C:\\Apps\\Ledger\\ledger.exe", "old ledger");
        w.Machine.AddFile("C:\\Apps\\Ledger\\readme.txt", "old readme");
        w.Machine.AddFile(kHeld, "old ledger");
        TTestPackage p;
        p.Script = StandardScript();
        p.Language = StandardLanguage();
        p.Payload = {{"file0.dat", "new ledger"}, {"readme.txt", "read me"}};
        WritePackage(w.Machine, kPackage, p);
    }
    int Run(TNames options) {
        w.Machine.DeleteFile(kLog);
        options.insert(options.begin(), "C:\\oupdate.exe");
        return RunUnattended(w.Machine, ParseCommandLine(options));
    }
    TNames LogLines() {
        const std::string text = w.Machine.Exists(kLog) ? w.Machine.Content(kLog) : "";
        TNames lines;
        for (size_t from = 0, at; (at = text.find("\r\n", from)) != std::string::npos;
             from = at + 2)
            lines.push_back(text.substr(from, at - from));
        return lines;
    }
    bool Logged(const std::string& line) {
        const TNames lines = LogLines();
        return std::find(lines.begin(), lines.end(), line) != lines.end();
    }
    TFakeWizard w;
};

size_t Count(const std::string& text, const std::string& what) {
    size_t n = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
    return n;
}

// Every way a run ends leaves a report that says so, with one file record
// for each decision the log names.
TEST_F(Fleet, EveryRunEndsWithAReportThatTellsTheLogsStory) {
    const std::string report = std::string("/REPORT=") + kReport;
    const struct {
        const char* Name;
        TNames Args;
        bool OtherRun;  // another update holds the machine's lock
        int Status;
        std::string LogLine;
        TNames Fragments;  // in the report
    } cases[] = {
        {"update",
         {"/S", kPackage, report},
         false,
         ecRestartRequired,
         "Scheduled D:\\Ledger\\ledger.exe for replacement at restart: in use by Ledger 3 "
         "(ledger.exe, process 1234)",
         {"\"format\": 1", "\"name\": \"Ledger 3\"", "\"version\": \"3.1.0\"",
          "\"company\": \"Example Company\"", "\"path\": \"C:\\\\pkg\\\\ledger.oup\"",
          "\"signature\": \"unsigned\"", "\"started\": \"2005-03-01T06:00:00Z\"",
          "\"exitStatus\": 3010", "\"preview\": false", "\"path\": \"D:\\\\Ledger\"",
          "\"ticked\": true", "\"source\": \"file0.dat\"", "\"mode\": \"Always copy\"",
          "\"outcome\": \"scheduled\",\n          \"reason\": \"in use by Ledger 3 (ledger.exe, "
          "process 1234)\"",
          "\"decision\": \"install\",\n          \"outcome\": \"installed\"\n",
          "\"decision\": \"skip\",\n          \"outcome\": \"skipped\",\n          \"reason\": "
          "\"missing (\\\"Update if present\\\")\"",
          "\"errors\": []"}},
        // A preview writes nothing and so runs beside an update.
        {"preview",
         {"/S", kPackage, "/PREVIEW", report},
         true,
         ecSuccess,
         "Would install D:\\Ledger\\ledger.exe",
         {"\"preview\": true", "\"exitStatus\": 0", "\"outcome\": \"would-install\"",
          "\"outcome\": \"would-skip\""}},
        {"another run",
         {"/S", kPackage, report},
         true,
         ecAnotherRun,
         std::string("Error: ") + kAnotherRunText,
         {"\"exitStatus\": 1618", "\"installations\": []",
          std::string("\"errors\": [\n    \"") + kAnotherRunText + "\"\n  ]"}},
        // All or nothing: the installation left as it was says why in its record.
        {"atomic",
         {"/S", kPackage, "/ATOMIC", report},
         false,
         ecFailures,
         "Left unchanged: D:\\Ledger: D:\\Ledger\\ledger.exe: in use by Ledger 3 (ledger.exe, "
         "process 1234): it could only be replaced at a restart",
         {"\"leftUnchanged\": \"D:\\\\Ledger\\\\ledger.exe: in use by Ledger 3", "\"errors\": []"}},
        {"no installation",
         {"/S", kPackage, "/DIR=E:\\", report},
         false,
         ecNoInstallation,
         "No installation found",
         {"\"exitStatus\": 3", "\"installations\": []", "\"errors\": []"}},
        {"no package",
         {"/S", "C:\\pkg\\none.oup", report},
         false,
         ecNoPackage,
         "Error: The update package \"C:\\pkg\\none.oup\" was not found.",
         {"\"program\": null", "\"exitStatus\": 2",
          "\"The update package \\\"C:\\\\pkg\\\\none.oup\\\" was not found.\""}},
        {"usage error",
         {"/S", "/FOO", report},
         false,
         ecNoPackage,
         "Error: Unknown option \"/FOO\".",
         {"\"package\": null", "\"exitStatus\": 2", "\"Unknown option \\\"/FOO\\\".\""}},
    };
    w.Machine.Lock(kHeld);
    w.Machine.SetHolders(kHeld, {kLedger});
    for (const auto& c : cases) {
        TRunLockResult other;
        if (c.OtherRun) other = w.Machine.TakeRunLock();
        TNames args = c.Args;
        args.push_back(std::string("/LOG=") + kLog);
        EXPECT_EQ(c.Status, Run(args)) << c.Name;
        const std::string json = w.Machine.Content(kReport);
        for (const std::string& fragment : c.Fragments)
            EXPECT_NE(std::string::npos, json.find(fragment)) << c.Name << ": " << fragment << "\n"
                                                              << json;
        size_t decisions = 0;
        for (const std::string& line : LogLines())
            for (const char* start :
                 {"Installed ", "Skipped ", "Scheduled ", "Would ", "Could not update the file "})
                decisions += line.rfind(start, 0) == 0;
        EXPECT_EQ(decisions, Count(json, "\"outcome\": ")) << c.Name;
        EXPECT_TRUE(Logged(c.LogLine)) << c.Name << ": " << c.LogLine;
        w.Machine.DeleteFile(kReport);
        EXPECT_EQ(c.OtherRun, w.Machine.RunLocked()) << c.Name << ": the run's lock outlives it";
    }
}

TEST_F(Fleet, AReportThatCannotBeWrittenKeepsTheOldOneAndTheStatus) {
    w.Machine.AddFile(kReport, "the last run's");
    w.Machine.Lock(kReport);
    EXPECT_EQ(ecSuccess, Run({"/S", kPackage, std::string("/REPORT=") + kReport,
                              std::string("/LOG=") + kLog}));
    EXPECT_EQ("the last run's", w.Machine.Content(kReport));
    EXPECT_EQ(0u, LogLines().back().find("Error: Cannot open file \"C:\\out\\report.json\""))
        << LogLines().back();
    TNames inOut;  // no temporary file is left beside it
    for (const std::string& path : w.Machine.AllPaths())
        if (path.rfind("C:\\out\\", 0) == 0) inOut.push_back(path);
    EXPECT_EQ(TNames{kReport}, inOut);
}

// The programs that hold a file, where the system names them, join the line
// of a file waiting for the restart and the failure line; without them the
// lines are as they always were.
TEST_F(Fleet, TheProgramsThatHoldAFileAreNamedWhereTheSystemKnowsThem) {
    const struct {
        std::vector<TFileHolder> Holders;
        std::string Reason;  // after the file's name; empty: the line as it always was
    } cases[] = {
        {{}, ""},
        {{kLedger}, ": in use by Ledger 3 (ledger.exe, process 1234)"},
        {{{"Ledger 3", "", 7}}, ": in use by Ledger 3 (process 7)"},
        {{{"", "ledger.exe", 8}}, ": in use by ledger.exe (process 8)"},
        {{{"A", "a.exe", 1}, {"B", "b.exe", 2}, {"C", "c.exe", 3}, {"D", "d.exe", 4}, {"E", "", 5}},
         ": in use by A (a.exe, process 1), B (b.exe, process 2), C (c.exe, process 3) and 2 "
         "more"},
    };
    for (const auto& c : cases) {
        w.Machine.AddFile(kHeld, "old ledger");
        w.Machine.Lock(kHeld);
        w.Machine.SetHolders(kHeld, c.Holders);
        EXPECT_EQ(ecRestartRequired, Run({"/S", kPackage, "/DIR=D:\\", "/LOG=C:\\update.log"}));
        EXPECT_TRUE(Logged("Scheduled " + kHeld + " for replacement at restart" + c.Reason))
            << LogLines()[LogLines().size() - 3];

        // Where no restart can rename it, it fails as in use.
        w.Machine.MayScheduleRenames = false;
        EXPECT_EQ(ecFailures, Run({"/S", kPackage, "/DIR=D:\\", "/LOG=C:\\update.log"}));
        EXPECT_TRUE(Logged("Could not update the file " + kHeld +
                           (c.Reason.empty() ? ": in use" : c.Reason)))
            << LogLines()[LogLines().size() - 3];
        w.Machine.MayScheduleRenames = true;
        w.Machine.Lock(kHeld, false);
    }
}

// One update at a time: a wizard that finds another update running says so
// and ends with 1618, before it has touched anything; its own lock lasts
// as long as the wizard.
TEST_F(Fleet, TheWizardMakesWayForAnUpdateThatRuns) {
    w.Args.push_back(kPackage);
    TRunLockResult other = w.Machine.TakeRunLock();
    ASSERT_TRUE(other.Lock);
    TUpdate& blocked = w.Create();
    blocked.FormShow();
    ASSERT_EQ(1u, w.Services.Messages.size());
    EXPECT_EQ(kAnotherRunText, w.Services.Messages[0].Text);
    EXPECT_EQ(TMsgKind::Error, w.Services.Messages[0].Kind);
    EXPECT_EQ(ecAnotherRun, blocked.ExitCode());
    EXPECT_EQ(1, w.Services.Closes);

    other.Lock.reset();
    TUpdate& free = w.Create();
    free.FormShow();
    EXPECT_EQ(1, free.Page);
    EXPECT_TRUE(w.Machine.RunLocked());
    w.Create();  // the first wizard is gone, and its lock with it
    EXPECT_FALSE(w.Machine.RunLocked());
}

}  // namespace
}  // namespace oup::test
