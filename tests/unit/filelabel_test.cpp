#include <gtest/gtest.h>

#include "controls/FileLbl.h"
#include "support/FakeControls.h"

namespace oup {
namespace {

using Parts = std::vector<std::string>;
const std::string kPath = "C:\\Apps\\Ledger\\ledger.exe";  // 25 characters

Parts Split(const std::string& text, const std::string& separator) {
    Parts parts{"kept"};
    Parts& same = SplitPath(text, separator, parts);
    EXPECT_EQ(&parts, &same);
    return Parts(parts.begin() + 1, parts.end());
}

TEST(SplitPath, PartsBetweenSeparatorsEmptyOnesIncluded) {
    EXPECT_EQ((Parts{"C:", "Apps", "Ledger", "ledger.exe"}), Split(kPath, "\\"));
    EXPECT_EQ((Parts{""}), Split("", "\\"));
    EXPECT_EQ((Parts{"", "", "server", "share", ""}), Split("\\\\server\\share\\", "\\"));
    EXPECT_EQ((Parts{"a", "b:c", ""}), Split("a::b:c::", "::"));  // matched as a whole
    EXPECT_EQ((Parts{kPath}), Split(kPath, ""));                   // never found
}

class FileLabelTest : public ::testing::Test {
protected:
    test::TFixedMeasure measure;  // one pixel per character
    TFileLabel label{measure};
    std::string At(int width, TDirection direction = drFromLeft) {
        label.SetDirection(direction);
        label.SetBounds(0, 0, width, 17);
        return label.Caption();
    }
};

TEST_F(FileLabelTest, ShrinksStepByStepInBothDirections) {
    label.SetFileName(kPath);
    for (int w = 30; w >= 0; --w) {
        SCOPED_TRACE(w);
        const char* shorter = w >= 18 ? "C:\\...\\ledger.exe" : w >= 15 ? "...\\ledger.exe" : "ledger.exe";
        EXPECT_EQ(w >= 25 ? kPath : w == 24 ? "C:\\...\\Ledger\\ledger.exe" : shorter, At(w, drFromLeft));
        EXPECT_EQ(w >= 25 ? kPath : w >= 22 ? "C:\\Apps\\...\\ledger.exe" : shorter, At(w, drFromRight));
    }
}

TEST_F(FileLabelTest, PiecesAreSummedDropsAreStrictAndKeepingIsInclusive) {
    // 2 per character plus 1 per measured text: pieces measured one by one
    // add up to more than the same text measured whole.
    measure.PerChar = 2;
    measure.PerText = 1;
    label.SetFileName("C:\\Apps\\Ledger\\bin\\ledger.exe");  // 59
    EXPECT_EQ("C:\\Apps\\Ledger\\bin\\ledger.exe", At(59));
    EXPECT_EQ("ledger.exe", At(30));         // name 21 + ellipsis 9 = 30
    EXPECT_EQ("...\\ledger.exe", At(31));
    EXPECT_EQ("...\\ledger.exe", At(37));    // + drive 7 = 37
    EXPECT_EQ("C:\\...\\ledger.exe", At(38));
    EXPECT_EQ("C:\\...\\bin\\ledger.exe", At(46));  // + "bin\" 9 = 46
    EXPECT_EQ("C:\\...\\ledger.exe", At(45));       // though the joined caption (43) fits
    EXPECT_EQ("C:\\Apps\\...\\ledger.exe", At(48, drFromRight));  // + "Apps\" 11 = 48
    EXPECT_EQ("C:\\...\\ledger.exe", At(47, drFromRight));
}

TEST_F(FileLabelTest, OddPathsAndSeparators) {
    struct TCase {
        std::string path, separator;
        int width;
        TDirection direction;
        std::string caption;
    } cases[] = {
        // The first directory that does not fit ends the search for more.
        {"C:\\a\\VeryLongDirectoryName\\b\\file.txt", "\\", 35, drFromLeft, "C:\\...\\b\\file.txt"},
        {"C:\\a\\VeryLongDirectoryName\\b\\file.txt", "\\", 35, drFromRight, "C:\\a\\...\\file.txt"},
        // A leading separator: no drive, and the empty first part is a directory.
        {"\\Apps\\Ledger\\ledger.exe", "\\", 21, drFromLeft, "...\\Ledger\\ledger.exe"},
        {"\\Apps\\Ledger\\ledger.exe", "\\", 20, drFromRight, "\\Apps\\...\\ledger.exe"},
        {"\\Apps\\Ledger\\ledger.exe", "\\", 15, drFromRight, "\\...\\ledger.exe"},
        {"\\\\server\\share\\dir\\file.txt", "\\", 25, drFromLeft, "...\\share\\dir\\file.txt"},
        {"\\\\server\\share\\dir\\file.txt", "\\", 12, drFromLeft, "file.txt"},
        // A trailing separator leaves an empty name.
        {"C:\\Apps\\Ledger\\", "\\", 14, drFromLeft, "C:\\...\\Ledger\\"},
        {"C:\\Apps\\Ledger\\", "\\", 5, drFromLeft, "...\\"},
        {"C:\\Apps\\Ledger\\", "\\", 4, drFromLeft, ""},
        {"C:/Apps/Ledger/ledger.exe", "/", 24, drFromLeft, "C:/.../Ledger/ledger.exe"},
        {kPath, "/", 10, drFromLeft, kPath},  // one part, shown whole
        {kPath, "", 10, drFromLeft, kPath},
        {"", "\\", 0, drFromLeft, ""},
    };
    for (const TCase& c : cases) {
        label.SetSeparator(c.separator);
        label.SetFileName(c.path);
        EXPECT_EQ(c.caption, At(c.width, c.direction)) << c.path << " at " << c.width;
    }
    label.SetFileName("\\\\server\\share\\dir\\file.txt");
    EXPECT_FALSE(label.HasDrive());
    for (const auto& [path, drive] : std::vector<std::pair<std::string, bool>>{
             {"C:\\x", true}, {"C:", true}, {"AB:\\x", true}, {":\\x", false}, {"x\\C:", false}}) {
        label.SetFileName(path);
        EXPECT_EQ(drive, label.HasDrive()) << path;
    }
}

TEST_F(FileLabelTest, RefitsOnNameSeparatorDirectionAndBoundsOnly) {
    int changes = 0;
    label.OnCaptionChanged = [&] { ++changes; };
    label.SetBounds(0, 0, 22, 17);
    label.SetFileName(kPath);
    EXPECT_EQ("C:\\...\\ledger.exe", label.Caption());
    label.SetDirection(drFromRight);
    EXPECT_EQ("C:\\Apps\\...\\ledger.exe", label.Caption());
    EXPECT_EQ(2, changes);
    // A wider font: nothing refits until the bounds are set again.
    measure.PerChar = 2;
    label.SetFileName(kPath);
    label.SetDirection(drFromRight);
    EXPECT_EQ(2, changes);
    label.SetBounds(5, 0, 22, 17);
    EXPECT_EQ("ledger.exe", label.Caption());
    label.SetBounds(5, 0, 22, 17);
    EXPECT_EQ(3, changes);  // the same caption again is no change
    label.SetFileName("c:\\apps\\ledger\\ledger.exe");  // letter case counts
    EXPECT_EQ("c:", label.PathParts().front());
    label.SetSeparator("/");  // splits again
    EXPECT_EQ(1u, label.PathParts().size());
    measure.Calls = 0;
    label.SetFileName("");
    label.SetBounds(0, 0, 1, 1);
    EXPECT_EQ("", label.Caption());
    EXPECT_EQ(0, measure.Calls);  // an empty name measures nothing
}

}  // namespace
}  // namespace oup
