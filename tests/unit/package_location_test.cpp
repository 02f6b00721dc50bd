// Finding the package behind an executable's image, and restoring it.
#include <gtest/gtest.h>

#include "common/DateTime.h"
#include "package/PackageLocation.h"
#include "package/PackageReader.h"
#include "package/backup.h"
#include "support/FakeMachine.h"
#include "support/PackageKit.h"

namespace oup {
namespace {

using test::PeHeaders;
using test::TFakeMachine;
using test::TPackageBytes;
using test::TRecordingUserInterface;

std::string Str(const std::vector<uint8_t>& v) { return {v.begin(), v.end()}; }

// What start-up does with the running executable: find the package, restore
// it from a stream of the executable's file, and swallow every failure but
// the one to open the file.
bool RestoreAppended(TFakeMachine& m, TBackupFile& b) {
    const auto start = FindAppendedPackage(m, m.ModuleFile);
    if (!start) return false;
    auto file = m.OpenFile(m.ModuleFile, TOpenMode::ReadShared);
    file->SetPosition(*start);
    return b.RestoreFromStream(file.get(), m.TempDir);
}

TEST(ImageEnd, LargestSectionEndWhateverTheOrderAndEmptySections) {
    const auto h = PeHeaders({{0x1000, 0x400}, {0xEF800, 0}, {0x400, 0xEF400}, {0x200, 0x100}});
    TMemoryStream s(h);
    EXPECT_EQ(0xEF800u, ReadImageEnd(s));
    TMemoryStream none(PeHeaders({}));
    EXPECT_EQ(0u, ReadImageEnd(none));
    TMemoryStream far(PeHeaders({{0x400, 0x200}}, 0x1000));  // PE header further in
    EXPECT_EQ(0x600u, ReadImageEnd(far));
}

TEST(ImageEnd, CutOrLyingHeadersGiveNothing) {
    auto h = PeHeaders({{0x400, 0x200}, {0x600, 0x200}});
    for (size_t cut : {size_t(0), size_t(0x3E), size_t(0x80 + 7), h.size() - 40 + 23}) {
        TMemoryStream s(std::vector<uint8_t>(h.begin(), h.begin() + cut));
        EXPECT_FALSE(ReadImageEnd(s)) << cut;
    }
    h[0x3C] = 0xFF, h[0x3D] = 0xFF, h[0x3E] = 0xFF, h[0x3F] = 0xFF;  // PE header at 4 GiB
    TMemoryStream s(h);
    EXPECT_FALSE(ReadImageEnd(s));
    EXPECT_FALSE(IsPortableExecutable(s));
    TMemoryStream text(std::vector<uint8_t>{'h', 'e', 'l', 'l', 'o'});
    EXPECT_FALSE(IsPortableExecutable(text));
    TMemoryStream pe(PeHeaders({}));
    EXPECT_TRUE(IsPortableExecutable(pe));
}

TEST(ImageEnd, FromMappedHeadersElseFromTheModuleFile) {
    TFakeMachine m;
    m.AddDrive('C');
    auto onDisk = PeHeaders({{0x400, 0xEF400}});
    m.AddFile(m.ModuleFile, Str(onDisk) + std::string(0xEF800 - onDisk.size(), '\0') + "package");
    EXPECT_EQ(0xEF800u, GetImageEnd(m));  // no mapped headers: the file
    m.ModuleHeaders = PeHeaders({{0x400, 0x1000}});
    m.ModuleHeaders.resize(4096);
    EXPECT_EQ(0x1400u, GetImageEnd(m));  // the mapped ones win
    m.DeleteFile(m.ModuleFile);
    m.ModuleHeaders.clear();
    EXPECT_EQ(0u, GetImageEnd(m));
}

TEST(ImageEnd, AFileLongerThanItsImageCarriesAPackageThere) {
    TFakeMachine m;
    m.AddDrive('C');
    m.AddDir("C:\\TEMP");
    const auto headers = PeHeaders({{0x400, 0xEF000}, {0xEF400, 0x400}});
    std::string package = TPackageBytes().Header(1, 1).File("d:\\p\\a.txt", 0x325C86FA, "a").EndMarker().Str();
    package.resize(1513390, 'z');  // whatever follows the end marker is never read
    m.AddFile(m.ModuleFile, Str(headers) + std::string(980992 - headers.size(), '\0') + package);
    EXPECT_EQ(2494382, m.QueryFileSize(m.ModuleFile));
    EXPECT_EQ(980992u, GetImageEnd(m));
    EXPECT_EQ(980992u, FindAppendedPackage(m, m.ModuleFile));
    TRecordingUserInterface ui;
    TBackupFile b(m, ui);
    RestoreAppended(m, b);
    EXPECT_EQ("a", m.Content("C:\\TEMP\\a.txt"));
    EXPECT_TRUE(ui.Boxes.empty());

    // An executable that ends with its image carries none.
    m.AddFile("C:\\plain.exe", Str(headers) + std::string(980992 - headers.size(), '\0'));
    EXPECT_EQ(static_cast<int64_t>(*ImageEndOfFile(m, "C:\\plain.exe")), m.QueryFileSize("C:\\plain.exe"));
    EXPECT_FALSE(ImageEndOfFile(m, "C:\\none.exe"));
}

class AppendedTest : public ::testing::Test {
protected:
    AppendedTest() {
        m.AddDrive('C');
        m.AddDir("C:\\TEMP");
        const auto headers = PeHeaders({{0x200, 0x600}});
        image = Str(headers) + std::string(0x800 - headers.size(), 'i');
        m.ModuleHeaders = headers;
        m.ModuleHeaders.resize(4096);
    }
    TFakeMachine m;
    TRecordingUserInterface ui;
    TBackupFile b{m, ui};
    std::string image;
};

TEST_F(AppendedTest, AFileSizeOtherThanTheImageEndMeansAPackage) {
    const struct {
        size_t FileSize;
        std::optional<uint32_t> Start;
    } cases[] = {{0x800, std::nullopt}, {0x801, 0x800u}, {0x7FF, 0x800u}};
    for (const auto& c : cases) {
        std::string file = image + "p";
        file.resize(c.FileSize);
        m.AddFile(m.ModuleFile, file);
        EXPECT_EQ(c.Start, FindAppendedPackage(m, m.ModuleFile)) << c.FileSize;
    }
    // The sizes compare as 32-bit numbers.
    EXPECT_EQ(std::nullopt, AppendedPackageStart(0x800, 0x800 + (int64_t(1) << 32)));
}

TEST_F(AppendedTest, RestoresThePackageBehindTheImage) {
    const int32_t date = DateTimeToDos(StrToDateTime("01.02.2003 04:05:06"));
    m.AddFile(m.ModuleFile, image + TPackageBytes()
                                        .Header(10, 2)
                                        .File("d:\\pack\\oupdate.inf", date, "script")
                                        .File("d:\\pack\\english.ln_", date, "text")
                                        .EndMarker()
                                        .Str());
    RestoreAppended(m, b);
    EXPECT_EQ("script", m.Content("C:\\TEMP\\oupdate.inf"));
    EXPECT_EQ("text", m.Content("C:\\TEMP\\english.ln_"));
    EXPECT_EQ(date, m.Time("C:\\TEMP\\english.ln_"));
    EXPECT_EQ(0, m.OpenCount());
}

TEST_F(AppendedTest, FailuresAreSwallowedButAMissingFileIsNot) {
    m.AddFile(m.ModuleFile, image + "\x05\0\0\0ab");
    EXPECT_NO_THROW(RestoreAppended(m, b));
    // A damaged block shows its box but still raises nothing.
    m.AddFile(m.ModuleFile, image + TPackageBytes()
                                        .Header(3, 1)
                                        .Entry("d:\\a", 0)
                                        .Signature()
                                        .Int(3)
                                        .Raw("zzz")
                                        .EndData()
                                        .EndMarker()
                                        .Str());
    EXPECT_NO_THROW(RestoreAppended(m, b));
    ASSERT_EQ(1u, ui.Boxes.size());
    EXPECT_EQ("Feil i pakke", ui.Boxes[0].Text);
    EXPECT_EQ(0, m.OpenCount());
    m.DeleteFile(m.ModuleFile);
    EXPECT_THROW(RestoreAppended(m, b), EFOpenError);
}

TEST(VolumeNames, ExtensionIsReplacedOrAdded) {
    EXPECT_EQ("D:\\upd\\update.002", VolumePath("D:\\upd\\update.oup", 2));
    EXPECT_EQ("D:\\upd\\update.010", VolumePath("D:\\upd\\update.oup", 10));
    EXPECT_EQ("D:\\u.pd\\update.003", VolumePath("D:\\u.pd\\update", 3));
    EXPECT_EQ("./dir/update.002", VolumePath("./dir/update", 2));
    EXPECT_EQ("a.b.002", ChangeFileExt("a.b.c", ".002"));
}

}  // namespace
}  // namespace oup
