// Guards the bundled example package source: it must read through the
// updater's own readers exactly as a package built from it would.
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <set>

#include "app/Language.h"
#include "update/UpdateScript.h"
#include "support/FakeMachine.h"

namespace oup {
namespace {

const std::string kExample = std::string(OUP_SOURCE_DIR) + "/examples/ledger/";
const std::string kWorkDir = "C:\\TEMP\\";

class ExampleTest : public ::testing::Test {
protected:
    test::TFakeMachine machine;
    std::string Bytes(const std::string& relative) {
        std::ifstream in(kExample + relative, std::ios::binary);
        EXPECT_TRUE(in) << "cannot read " << relative;
        return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    // Puts an example file into the work directory under its own name.
    std::string Extract(const std::string& relative) {
        const std::string path = kWorkDir + relative.substr(relative.rfind('/') + 1);
        machine.AddFile(path, Bytes(relative));
        return path;
    }
    TLanguageTexts Language(const std::string& relative) {
        Extract(relative);
        TLanguageTexts texts;
        LoadLanguage(machine, kWorkDir, texts, {}, TPlaceholderValues{});
        EXPECT_EQ(28, texts.Count());  // 27 texts the wizard needs, and the restart notice
        return texts;
    }
};

TEST_F(ExampleTest, ScriptUsesEveryModeAndMacroWithValidDatesAndPresentPayloads) {
    TUpdateScript script;
    ASSERT_NO_THROW(ReadUpdateScript(machine, Extract("package/oupdate.inf"), script));
    EXPECT_EQ("Ledger 3|ledger.exe", script.ProgramName + "|" + script.ProgramFile);
    std::set<std::string> modes, macros;
    for (const TFileEntry& e : script.FileEntries) {
        EXPECT_GT(e.FileDate, 29221.0) << e.SourceName;  // after 1980, so it can be stamped
        EXPECT_FALSE(Bytes("package/" + e.SourceName).empty());
        modes.insert(e.Mode);
        for (const char* macro : {kMacroInstallDir, kMacroWinDir, kMacroWinSysDir})
            if (e.TargetDir.find(macro) != std::string::npos) macros.insert(macro);
    }
    EXPECT_EQ((std::set<std::string>{kModeUpdateIfPresent, kModeUpdateIfOlder, kModeAlwaysUpdate, kModeAlwaysCopy}), modes);
    EXPECT_EQ(3u, macros.size());
    std::string notes;
    ASSERT_TRUE(LoadNotes(machine, Extract("package/oupdate.mem"), notes));
    EXPECT_FALSE(Trim(notes).empty());
}

TEST_F(ExampleTest, LanguageFilesHoldTheTwentyEightTexts) {
    const TLanguageTexts no = Language("languages/norsk.ln_");
    // Spot checks of Windows-1252 bytes: a UTF-8 conversion would break them.
    EXPECT_EQ("S\xF8ker etter instanser", no[5]);
    EXPECT_EQ("Programmet er ferdig med \xE5 oppdatere <programname> til versjon <version>. "
              "Klikk p\xE5 Lukk-knappen for \xE5 lukke programmet.", no[15]);
    EXPECT_EQ("<-- F\xF8lg instruksjonene til venstre for \xE5 starte oppdateringen.", no[25]);
    EXPECT_EQ("Windows m\xE5 startes p\xE5 nytt for \xE5 fullf\xF8re oppdateringen.",
              no[ltRestart]);
    EXPECT_EQ("&Neste >>|<< &Forrige|<programname>|Stasjon|Avbryt",
              no[0] + "|" + no[1] + "|" + no[3] + "|" + no[22] + "|" + no[23]);
    const TLanguageTexts en = Language("languages/english.ln_");
    for (const TLanguageTexts* texts : {&no, &en}) {
        const std::string& last = (*texts)[24];
        EXPECT_EQ("<company>", last.substr(last.size() - 9));
        EXPECT_NE(std::string::npos, (*texts)[ltPage3].find("<count>"));
        for (const std::string& text : texts->Texts()) EXPECT_FALSE(text.empty());
    }
}

}  // namespace
}  // namespace oup
