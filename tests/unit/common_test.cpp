#include <gtest/gtest.h>

#include "common/DateTime.h"
#include "common/Errors.h"
#include "common/Stream.h"
#include "common/TextReader.h"

namespace oup {
namespace {

TEST(DateTime, ReadsTheFixedFormatWhateverTheLocale) {
    const double v = StrToDateTime("28.02.2005 16:55:44");
    EXPECT_EQ(38411, static_cast<int>(v));
    EXPECT_NEAR(0.70537, v - 38411, 1e-5);
    EXPECT_DOUBLE_EQ(38411.0 + (16 * 3600 + 55 * 60 + 44) / 86400.0, v);
    EXPECT_DOUBLE_EQ(0.0, StrToDateTime("30.12.1899"));
    EXPECT_DOUBLE_EQ(1.0, StrToDateTime("31.12.1899"));
    EXPECT_DOUBLE_EQ(38411.0 + (16 * 60 + 55) / 1440.0, StrToDateTime("28.02.2005 16:55"));
    EXPECT_DOUBLE_EQ(38411.0, StrToDateTime(" 28 . 02 . 2005"));
}

TEST(DateTime, RejectsWhatIsNoDateWithTheText) {
    for (const char* bad : {"31.02.2005", "28.02.2005 25:00", "", "28.02.05", "28/02/2005",
                            "28.02.2005 16:55:44.5", "28.02.2005 4 PM", "29.02.2005"}) {
        try {
            StrToDateTime(bad);
            ADD_FAILURE() << "accepted " << bad;
        } catch (const EConvertError& e) {
            EXPECT_EQ(std::string("'") + bad + "' is not a valid date and time", e.Message());
        }
    }
    EXPECT_TRUE(TryStrToDateTime("29.02.2004"));
}

TEST(DateTime, DosPackingRoundTripsInTwoSecondSteps) {
    EXPECT_EQ(0x325C86FA, DateTimeToDos(StrToDateTime("28.02.2005 16:55:52")));
    EXPECT_EQ(0x325C86F6, DateTimeToDos(StrToDateTime("28.02.2005 16:55:45")));  // odd second dropped
    EXPECT_EQ("28.02.2005 16:55:52", DateTimeToStr(*DosToDateTime(0x325C86FA)));
    EXPECT_EQ(0, DateTimeToDos(StrToDateTime("31.12.1979 23:59:59")));
    EXPECT_EQ(0, DateTimeToDos(StrToDateTime("01.01.2108")));
    EXPECT_NE(0, DateTimeToDos(StrToDateTime("01.01.1980")));
    EXPECT_NE(0, DateTimeToDos(StrToDateTime("31.12.2107 23:59:58")));
    EXPECT_FALSE(DosToDateTime(0));  // month 0 names no date
    EXPECT_EQ("31.12.2107 23:59:58", DateTimeToStr(*DosToDateTime(DateTimeToDos(StrToDateTime("31.12.2107 23:59:59")))));
}

std::vector<std::string> Lines(const std::string& text) {
    TMemoryStream s(std::vector<uint8_t>(text.begin(), text.end()));
    TTextReader r(s);
    std::vector<std::string> out;
    while (!r.Eof()) out.push_back(r.ReadLine());
    return out;
}

TEST(TextReader, LineEndsCtrlZAndLongLines) {
    using V = std::vector<std::string>;
    EXPECT_EQ((V{"a", "b", "c"}), Lines("a\nb\r\nc"));
    EXPECT_EQ((V{"a", ""}), Lines("a\n\n"));  // the last line needs no end; an empty one is a line
    EXPECT_EQ((V{"ab"}), Lines("a\rb"));      // a lone CR is dropped
    EXPECT_EQ((V{"x"}), Lines("x\n\x1Ay\n"));  // Ctrl-Z ends the file
    EXPECT_EQ((V{"ab"}), Lines("ab\x1A"));
    EXPECT_EQ(V{}, Lines(""));
    const std::string longLine(100000, 'q');
    EXPECT_EQ((V{longLine, "z"}), Lines(longLine + "\r\nz"));
}

TEST(TextReader, ReadingPastTheEndGivesEmptyLines) {
    TMemoryStream s(std::vector<uint8_t>{'a'});
    TTextReader r(s);
    EXPECT_EQ("a", r.ReadLine());
    EXPECT_TRUE(r.Eof());
    EXPECT_EQ("", r.ReadLine());
}

TEST(Stream, ShortReadsRaiseTheReadError) {
    TMemoryStream s(std::vector<uint8_t>{1, 0, 0, 0, 2});
    EXPECT_EQ(1, s.ReadInt32());
    EXPECT_THROW(s.ReadInt32(), EReadError);
    EXPECT_EQ(5, s.Size());
}

TEST(Errors, FormatFillsSlotsInOrderAndNeverInterpretsValues) {
    EXPECT_EQ("Cannot open file \"%d%s\". gone", FormatMessage(kCannotOpenFileText, {"%d%s", "gone"}));
    EXPECT_EQ("List index out of bounds (25)", FormatMessage(kListIndexText, {"25"}));
}

}  // namespace
}  // namespace oup
