#include <gtest/gtest.h>

#include "app/Language.h"
#include "common/Errors.h"
#include "support/FakeControls.h"
#include "support/FakeMachine.h"

namespace oup {
namespace {

using test::TControlLog;
const std::string kWorkDir = "C:\\TEMP\\";

// count lines reading "T0", "T1", ...
std::string Texts(int count, const std::string& eol = "\r\n") {
    std::string out;
    for (int i = 0; i < count; ++i) {
        out += 'T';
        out += std::to_string(i);
        out += eol;
    }
    return out;
}

class LanguageTest : public ::testing::Test {
protected:
    test::TFakeMachine machine;
    TControlLog log;
    test::TFakeControl next{"NesteKnapp", &log}, previous{"ForrigeKnapp", &log}, close{"Button2", &log},
        path{"bane", &log}, start{"StartKnapp", &log}, header{"OXPPanel1", &log}, cancel{"AvbrytKnapp", &log};
    test::TFakeListView instances{"Liste", &log}, drives{"driveliste", &log};
    TLanguageTexts texts;
    TPlaceholderValues values{"Ledger 3", "", "", 0};

    void SetUp() override {
        machine.AddDir("C:\\TEMP");
        drives.SetColumnTitle("Stasjon");  // the form's layout texts
        cancel.SetCaption("&Avbryt");
        log.clear();
    }
    std::string Load(const std::string& content) {
        machine.AddFile(kWorkDir + "l.ln_", content);
        TLanguageControls controls{&next, &previous, &close, &path, &start, &instances, &header, &drives, &cancel};
        return LoadLanguage(machine, kWorkDir, texts, controls, values);
    }
    std::string IndexError(const std::string& content) {
        try {
            Load(content);
        } catch (const EListError& e) {
            return e.Message();
        }
        return "no error";
    }
};

TEST_F(LanguageTest, SetsTheCaptionsInOrderFromWholeLinesAndDeletesTheFile) {
    // Blanks stay, an empty line is a text, lines past 27 are read, Ctrl-Z ends.
    std::string content = "  T0  \n\r\n" + Texts(30, "\n") + "\x1A" + "ignored\n";
    EXPECT_EQ("l.ln_", Load(content));
    EXPECT_EQ(32, texts.Count());
    EXPECT_EQ((TControlLog{"NesteKnapp.Caption=  T0  ", "ForrigeKnapp.Caption=", "Button2.Caption=T0",
                           "bane.Caption=T6", "StartKnapp.Caption=T5", "Liste.Column=T9",
                           "OXPPanel1.Caption=T1", "driveliste.Column=T20", "AvbrytKnapp.Caption=T21"}),
              log);
    log.clear();
    content = Texts(27);
    content.replace(content.find("T3\r\n"), 4, "  <programname> (<count>)  \r\n");
    Load(content);
    EXPECT_EQ("OXPPanel1.Caption=Ledger 3 (0)", log.at(6));  // only text 3 is expanded
    EXPECT_EQ("  <programname> (<count>)  ", texts[3]);      // and kept as read
    EXPECT_EQ(27, texts.Count());
    EXPECT_FALSE(machine.Exists(kWorkDir + "l.ln_"));
    EXPECT_EQ(0, machine.OpenCount());
}

TEST_F(LanguageTest, TooFewTextsFailWithTheIndexAndKeepTheCaptionsSetBefore) {
    EXPECT_EQ("List index out of bounds (11)", IndexError(Texts(11)));
    EXPECT_EQ((TControlLog{"NesteKnapp.Caption=T0", "ForrigeKnapp.Caption=T1", "Button2.Caption=T2",
                           "bane.Caption=T8", "StartKnapp.Caption=T7"}),
              log);
    EXPECT_EQ(11, texts.Count());
    EXPECT_EQ("List index out of bounds (8)", IndexError(Texts(5)));
    EXPECT_EQ(5, texts.Count());  // a new load replaces the texts
    EXPECT_EQ("List index out of bounds (0)", IndexError("\x1A"));
    EXPECT_FALSE(machine.Exists(kWorkDir + "l.ln_"));  // it was read before it failed
    for (int bad : {-1, 27}) EXPECT_THROW(texts.Get(bad), EListError);
}

TEST_F(LanguageTest, TextsTwentyTwoAndTwentyThreeAreOptional) {
    for (int count : {12, 22}) {
        Load(Texts(count));
        EXPECT_EQ("T11|T3|Stasjon|&Avbryt",
                  instances.ColumnTitle() + "|" + header.Caption() + "|" + drives.ColumnTitle() + "|" + cancel.Caption());
        EXPECT_THROW(texts[25], EListError);  // asked for later, it fails then
    }
    Load(Texts(23));
    EXPECT_EQ("T22|&Avbryt", drives.ColumnTitle() + "|" + cancel.Caption());
    // Without controls the texts are still required.
    machine.AddFile(kWorkDir + "l.ln_", Texts(10));
    EXPECT_THROW(LoadLanguage(machine, kWorkDir, texts, {}, values), EListError);
}

TEST_F(LanguageTest, ReadsTheFirstOrdinaryFileTheSearchReturns) {
    using test::TFakeMachine;
    machine.AddFile(kWorkDir + "a.ln_", Texts(27), TFakeMachine::kDefaultTime, faHidden);
    machine.AddFile(kWorkDir + "b.ln_", Texts(27), TFakeMachine::kDefaultTime, faSysFile);
    machine.AddDir(kWorkDir + "c.ln_");
    machine.AddFile(kWorkDir + "D.LN_", "&Next >>\n" + Texts(26));
    machine.AddFile(kWorkDir + "e.ln_", "&Neste >>\n" + Texts(26), TFakeMachine::kDefaultTime, faReadOnly);
    machine.AddFile(kWorkDir + "f.ln_x", Texts(27));
    EXPECT_EQ("D.LN_", LoadLanguage(machine, kWorkDir, texts, {&next}, values));
    EXPECT_EQ("&Next >>", next.Caption());
    EXPECT_FALSE(machine.Exists(kWorkDir + "D.LN_"));
    EXPECT_TRUE(machine.Exists(kWorkDir + "a.ln_"));
    // A read-only file counts; that it cannot be deleted is no error.
    EXPECT_EQ("e.ln_", LoadLanguage(machine, kWorkDir, texts, {&next}, values));
    EXPECT_EQ("&Neste >>", next.Caption());
    EXPECT_TRUE(machine.Exists(kWorkDir + "e.ln_"));
    machine.SetAttr(kWorkDir + "e.ln_", faHidden);
    texts.Add("stale");
    EXPECT_THROW(LoadLanguage(machine, kWorkDir, texts, {&next}, values), EInOutError);  // none left
    EXPECT_EQ(0, texts.Count());
}

TEST(ExpandPlaceholders, FillsInOrderRepeatsAndTrims) {
    TPlaceholderValues v{"Ledger 3", "Example Company", "3.1.0", 12345};
    EXPECT_EQ("Ledger 3 3.1.0 by Example Company, 12345 found",
              ExpandPlaceholders("\t <programname> <version> by <company>, <count> found\r\n", v));
    EXPECT_EQ("Ledger 3 Ledger 3", ExpandPlaceholders("<programname> <programname>", v));
    EXPECT_EQ("<ProgramName>  x", ExpandPlaceholders("<ProgramName>  x", v));
    EXPECT_EQ("", ExpandPlaceholders(" <company>\x01", TPlaceholderValues{"", " ", "", 0}));
    EXPECT_EQ("0", ExpandPlaceholders("<count>", TPlaceholderValues{}));
}

TEST(ExpandPlaceholders, InsertedValuesAreFilledByLaterPlaceholdersOnlyAndNeverLoop) {
    TPlaceholderValues v{"Ledger <version>", "<programname> & <count>", "3.1.0", 2};
    EXPECT_EQ("Ledger 3.1.0", ExpandPlaceholders("<programname>", v));
    EXPECT_EQ("<programname> & 2", ExpandPlaceholders("<company>", v));
    v = {"<programname>!", "<company><company>", "v<version>", 1};
    EXPECT_EQ("<programname>! <programname>!", ExpandPlaceholders("<programname> <programname>", v));
    EXPECT_EQ("<company><company>", ExpandPlaceholders("<company>", v));
    EXPECT_EQ("v<version>v<version>", ExpandPlaceholders("<version><version>", v));
    v.ProgramName = "programname>";  // completes a placeholder with the text before it
    EXPECT_EQ("<programname>", ExpandPlaceholders("<<programname>", v));
}

TEST(ExpandPlaceholders, ValuesThatMultiplyStopGrowingTheText) {
    auto repeat = [](const std::string& s, int n) {
        std::string out;
        while (n-- > 0) out += s;
        return out;
    };
    // 150 x 200 x 200 versions of 2000 bytes each would be 12 GB.
    const TPlaceholderValues v{repeat("<company>", 200), repeat("<version>", 200),
                               std::string(2000, 'x'), 0};
    const std::string out = ExpandPlaceholders(repeat("<programname>", 150), v);
    EXPECT_LE(out.size(), 4u * 65536 + 150 * 13);
    EXPECT_EQ(0u, out.find(std::string(2000, 'x') + std::string(2000, 'x')));
}

}  // namespace
}  // namespace oup
