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
using test::SetCertificateTable;
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

// An executable whose image ends at 0x800, then `between`, then (when
// tableSize is not 0) a certificate table of tableSize bytes, then `behind`.
// The security directory names tableOffset (the table's place by default).
struct TSignedFile {
    explicit TSignedFile(std::string between = "", std::string behind = "",
                         uint32_t tableSize = 0x100,
                         std::optional<uint32_t> tableOffset = std::nullopt)
        : Between(std::move(between)),
          Behind(std::move(behind)),
          TableSize(tableSize),
          TableOffset(tableOffset) {}
    std::string Between, Behind;
    uint32_t TableSize;
    std::optional<uint32_t> TableOffset;
    std::vector<uint8_t> Headers() const {
        auto h = PeHeaders({{0x200, 0x600}});
        if (TableSize)
            SetCertificateTable(h, TableOffset.value_or(0x800 + Between.size()), TableSize);
        return h;
    }
    std::string Bytes() const {
        const auto h = Headers();
        return Str(h) + std::string(0x800 - h.size(), 'i') + Between + std::string(TableSize, 'c') +
               Behind;
    }
};

TImageTrail Trail(const TSignedFile& f, int64_t size = -2) {
    const std::string bytes = f.Bytes();
    TMemoryStream file(std::vector<uint8_t>(bytes.begin(), bytes.end()));
    const auto headers = ReadImageHeaders(file);
    EXPECT_TRUE(headers);
    return ReadImageTrail(headers.value_or(TImageHeaders()), size == -2 ? file.Size() : size, file,
                          "C:\\u.exe");
}

TEST(ImageTrail, ACertificateTableEndingTheFileIsNoPackage) {
    const std::string package =
        TPackageBytes().Header(1, 1).File("d:\\a", 0x325C86FA, "a").EndMarker().Str();
    const struct {
        const char* What;
        TSignedFile File;
        std::optional<uint32_t> PackageStart;
        bool Signed;
    } cases[] = {
        {"no security directory", TSignedFile("", "", 0), std::nullopt, false},
        {"table at the image end", TSignedFile(), std::nullopt, true},
        {"7 zero bytes of alignment", TSignedFile(std::string(7, '\0')), std::nullopt, true},
        {"7 other bytes", TSignedFile("1234567"), 0x800u, true},
        {"package, alignment, table", TSignedFile(package + std::string(4, '\0')), 0x800u, true},
        {"table past the end of the file",
         TSignedFile(package, "", 0x100, static_cast<uint32_t>(0x800 + package.size() + 1)), 0x800u,
         false},
        {"table inside the sections", TSignedFile("", "", 0x100, 0x400), 0x800u, false},
        {"table at offset 0", TSignedFile("", "", 0x100, 0), 0x800u, false},
    };
    for (const auto& c : cases) {
        const TImageTrail t = Trail(c.File);
        EXPECT_EQ(c.PackageStart, t.PackageStart) << c.What;
        EXPECT_EQ(c.Signed, t.Signed) << c.What;
    }
    // Whatever the headers say, a size that could not be had means no package.
    EXPECT_FALSE(Trail(TSignedFile("", "", 0), -1).PackageStart);
    EXPECT_FALSE(Trail(TSignedFile(package), -1).PackageStart);
}

TEST(ImageTrail, BytesBehindTheTableMeanTheFileChangedAfterSigning) {
    try {
        Trail(TSignedFile("", "appended"));
        ADD_FAILURE() << "no error";
    } catch (const EChangedAfterSigning& e) {
        EXPECT_EQ(
            "\"C:\\u.exe\" was changed after it was signed: it has 8 bytes behind its "
            "signature. Append the package first and sign the result.",
            e.Message());
    }
}

TEST(ImageTrail, OnlyAPe32HeaderWithEnoughDirectoriesHasASecurityDirectory) {
    const TSignedFile f;
    auto h = f.Headers();
    TMemoryStream pe32(h);
    EXPECT_EQ(0x800u, ReadImageHeaders(pe32)->CertificateOffset);
    EXPECT_EQ(0x80u + 24 + 128, ReadImageHeaders(pe32)->SecurityEntryAt);
    EXPECT_EQ(0x80u + 24 + 64, ReadImageHeaders(pe32)->CheckSumAt);
    h[0x80 + 24] = 0x0B, h[0x80 + 25] = 0x02;  // PE32+
    TMemoryStream pe64(h);
    EXPECT_EQ(0u, ReadImageHeaders(pe64)->CertificateOffset);
    h = f.Headers();
    h[0x80 + 24 + 92] = 4;  // NumberOfRvaAndSizes: directories 0 to 3 only
    TMemoryStream four(h);
    EXPECT_EQ(0u, ReadImageHeaders(four)->CertificateSize);
    // Headers without sections, cut inside the directories: the end is
    // known, the signature is not read past the cut.
    auto bare = PeHeaders({});
    SetCertificateTable(bare, 0x100, 0x10);
    for (size_t cut : {size_t(0x80 + 8), size_t(0x80 + 24 + 1), size_t(0x80 + 24 + 95),
                       size_t(0x80 + 24 + 135)}) {
        TMemoryStream s(std::vector<uint8_t>(bare.begin(), bare.begin() + cut));
        const auto read = ReadImageHeaders(s);
        ASSERT_TRUE(read) << cut;
        EXPECT_EQ(0u, read->ImageEnd);
        EXPECT_EQ(0u, read->CertificateOffset) << cut;
    }
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

TEST_F(AppendedTest, ASignedUpdaterCarriesAPackageOnlyInFrontOfItsSignature) {
    const std::string package =
        TPackageBytes().Header(1, 1).File("d:\\pack\\a.txt", 0x325C86FA, "a").EndMarker().Str();
    const TSignedFile bare, appended(package + std::string(3, '\0'));
    m.ModuleHeaders = bare.Headers();
    m.ModuleHeaders.resize(4096);
    m.AddFile(m.ModuleFile, bare.Bytes());
    EXPECT_EQ(std::nullopt, FindAppendedPackage(m, m.ModuleFile));

    m.ModuleHeaders = appended.Headers();
    m.ModuleHeaders.resize(4096);
    m.AddFile(m.ModuleFile, appended.Bytes());
    EXPECT_EQ(0x800u, FindAppendedPackage(m, m.ModuleFile));
    EXPECT_TRUE(RestoreAppended(m, b));
    EXPECT_EQ("a", m.Content("C:\\TEMP\\a.txt"));

    m.AddFile(m.ModuleFile, appended.Bytes() + "more");
    EXPECT_THROW(FindAppendedPackage(m, m.ModuleFile), EChangedAfterSigning);
    // The program's own file is opened whatever its size: one that cannot
    // be is an error, not an updater without a package.
    m.DeleteFile(m.ModuleFile);
    EXPECT_THROW(FindAppendedPackage(m, m.ModuleFile), EFOpenError);
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
    m.Lock(m.ModuleFile);
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
