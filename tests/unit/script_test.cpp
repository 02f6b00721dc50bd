#include <gtest/gtest.h>

#include "update/UpdateScript.h"
#include "common/Errors.h"
#include "support/FakeMachine.h"

namespace oup {
namespace {

const char* kScript = "C:\\TEMP\\oupdate.inf";
const char* kNotes = "C:\\TEMP\\oupdate.mem";

std::string Lines(std::initializer_list<const char*> lines, const std::string& eol = "\r\n") {
    std::string out;
    for (const char* line : lines) out += line + eol;
    return out;
}
const std::string kHeader =
    Lines({"Ledger 3", "3.1.0", "Example Company", "ledger.exe", "30.12.1899", "28.02.2005", "true"});
const std::string kEntry = Lines({"file0.dat", "ledger.exe", "Always copy", "28.02.2005 16:55:44", "<installdir>\\"});

class ScriptTest : public ::testing::Test {
protected:
    test::TFakeMachine machine;
    TUpdateScript script;
    void SetUp() override { machine.AddDir("C:\\TEMP"); }
    void Read(const std::string& content) {
        machine.AddFile(kScript, content);
        ReadUpdateScript(machine, kScript, script);
    }
    std::string ReadFailing(const std::string& content) {  // the error's message
        try {
            Read(content);
        } catch (const EConvertError& e) {
            return e.Message();
        }
        return "no error";
    }
};

TEST_F(ScriptTest, ReadsHeaderAndEntriesInScriptOrder) {
    Read(kHeader + kEntry + Lines({"b.hl_", "ledger.hlp", "Update if present ", "31.12.1899", " <windir>\\Help",
                                   "a.dl_", "x.dll", "Always update", "01.01.2006 08:00", "<winsysdir>\\"}));
    EXPECT_EQ("Ledger 3|3.1.0|Example Company|ledger.exe|28.02.2005|true",
              script.ProgramName + "|" + script.ProgramVersion + "|" + script.Company + "|" +
                  script.ProgramFile + "|" + script.ReservedDateText + "|" + script.ReservedFlagText);
    EXPECT_EQ(0.0, script.ReservedDateTime);
    ASSERT_EQ(3u, script.FileEntries.size());
    const TFileEntry& e = script.FileEntries[0];
    EXPECT_EQ("file0.dat|ledger.exe|Always copy|<installdir>\\",
              e.SourceName + "|" + e.TargetName + "|" + e.Mode + "|" + e.TargetDir);
    EXPECT_DOUBLE_EQ(38411.0 + (16 * 3600 + 55 * 60 + 44) / 86400.0, e.FileDate);
    EXPECT_FALSE(e.Installed);
    EXPECT_EQ("b.hl_", script.FileEntries[1].SourceName);  // script order, texts as written
    EXPECT_EQ("Update if present ", script.FileEntries[1].Mode);
    EXPECT_EQ(" <windir>\\Help", script.FileEntries[1].TargetDir);
    EXPECT_EQ(1.0, script.FileEntries[1].FileDate);
    EXPECT_EQ("a.dl_", script.FileEntries[2].SourceName);
    EXPECT_EQ(0, machine.OpenCount());
}

TEST_F(ScriptTest, LineEndsCtrlZAndTheFinalLineEndChangeNothing) {
    const std::string lf = Lines({"Ledger 3", "3.1.0", "Example Company", "ledger.exe", "30.12.1899",
                                  "28.02.2005", "true", "file0.dat", "ledger.exe", "Always copy",
                                  "28.02.2005 16:55:44", "<installdir>\\"}, "\n");
    for (const std::string& content : {kHeader + kEntry, lf, lf.substr(0, lf.size() - 1),
                                       lf + "\x1A" + kEntry, kHeader + kEntry + "\x1A\r\n\r\n"}) {
        Read(content);
        ASSERT_EQ(1u, script.FileEntries.size());
        EXPECT_EQ("true", script.ReservedFlagText);
        EXPECT_EQ("Always copy", script.FileEntries[0].Mode);
        EXPECT_EQ("<installdir>\\", script.FileEntries[0].TargetDir);
    }
    // Blank lines that run up to the end are no entry.
    const std::vector<std::string> tails = {"\r\n", "\r\n \r\n\t\r\n", "\n\n\n\n\n\n\n",
                                            "\r\n\x1A" + kEntry};
    for (const std::string& tail : tails) {
        Read(kHeader + kEntry + tail);
        EXPECT_EQ(1u, script.FileEntries.size());
    }
    Read(kHeader + "\r\n\r\n");
    EXPECT_TRUE(script.FileEntries.empty());
    Read(kHeader);  // seven lines: no entries
    EXPECT_TRUE(script.FileEntries.empty());
    // A short last entry reads its missing target directory as empty.
    Read(kHeader + Lines({"a", "b", "Always copy"}) + "01.01.2006");
    EXPECT_EQ("", script.FileEntries.at(0).TargetDir);
}

TEST_F(ScriptTest, InvalidDatesNameTheTextAndKeepWhatWasRead) {
    script.FileEntries.resize(3);  // left from an earlier read
    // A blank line with an entry behind it starts one more entry.
    EXPECT_EQ("'Always copy' is not a valid date and time",
              ReadFailing(kHeader + kEntry + "\r\n" + kEntry));
    ASSERT_EQ(2u, script.FileEntries.size());
    EXPECT_EQ("<installdir>\\", script.FileEntries[0].TargetDir);
    EXPECT_EQ("", script.FileEntries[1].SourceName);

    EXPECT_EQ("'31.02.2006 10:00' is not a valid date and time",
              ReadFailing(kHeader + kEntry + Lines({"two.dat", "two.txt", "Always copy", "31.02.2006 10:00", "x"}) + kEntry));
    ASSERT_EQ(2u, script.FileEntries.size());
    const TFileEntry& failed = script.FileEntries[1];
    EXPECT_EQ("two.dat|two.txt|Always copy|", failed.SourceName + "|" + failed.TargetName + "|" +
                                                  failed.Mode + "|" + failed.TargetDir);

    EXPECT_EQ("'28.02.05' is not a valid date and time",
              ReadFailing(Lines({"Ledger 3", "3.1.0", "Example Company", "ledger.exe", "28.02.05"})));
    EXPECT_EQ("ledger.exe", script.ProgramFile);
    EXPECT_TRUE(script.FileEntries.empty());
}

TEST_F(ScriptTest, AMissingOrLockedScriptFailsOnItsEmptyFifthLine) {
    script.ProgramName = "left over";
    EXPECT_THROW(ReadUpdateScript(machine, kScript, script), EConvertError);
    EXPECT_EQ("", script.ProgramName);
    machine.AddFile(kScript, kHeader);  // would read fine if it could be opened
    machine.Lock(kScript);
    EXPECT_THROW(ReadUpdateScript(machine, kScript, script), EConvertError);
    EXPECT_EQ(0, machine.OpenCount());
}

TEST_F(ScriptTest, AReadErrorRaisesAndCutsNothingShortSilently) {
    machine.AddFile(kScript, kHeader + kEntry + kEntry);
    machine.FailReadsAfter(kScript, kHeader.size() + kEntry.size());  // at an entry's start
    try {
        ReadUpdateScript(machine, kScript, script);
        ADD_FAILURE() << "read " << script.FileEntries.size() << " entries without an error";
    } catch (const EReadError& e) {
        EXPECT_EQ("Stream read error", e.Message());
    }
    machine.AddFile(kNotes, "notes");
    machine.FailReadsAfter(kNotes, 2);
    std::string notes;
    EXPECT_THROW(LoadNotes(machine, kNotes, notes), EReadError);
    EXPECT_EQ(0, machine.OpenCount());
}

TEST(Notes, LineBreaksBecomeCrLfAZeroByteEndsAndALockedFileRaises) {
    test::TFakeMachine machine;
    std::string text = "untouched";
    EXPECT_FALSE(LoadNotes(machine, kNotes, text));
    EXPECT_EQ("untouched", text);
    const std::pair<std::string, std::string> cases[] = {
        {"a\r\nb\nc\rd", "a\r\nb\r\nc\r\nd"}, {"a\n\rb", "a\r\n\r\nb"}, {"line\n", "line\r\n"},
        {std::string("before\0after", 12), "before"}, {"x\x1Ay", "x\x1Ay"}, {"", ""}};
    for (const auto& [content, expected] : cases) {
        machine.AddFile(kNotes, content);
        EXPECT_TRUE(LoadNotes(machine, kNotes, text));
        EXPECT_EQ(expected, text);
    }
    machine.Lock(kNotes);
    try {
        LoadNotes(machine, kNotes, text);
        ADD_FAILURE() << "a locked notes file was read";
    } catch (const EFOpenError& e) {
        EXPECT_EQ(0u, e.Message().rfind("Cannot open file \"C:\\TEMP\\oupdate.mem\". ", 0)) << e.Message();
    }
}

}  // namespace
}  // namespace oup
