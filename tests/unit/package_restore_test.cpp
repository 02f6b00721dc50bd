// The restore engine on the fake machine: what lands on disk, in which
// order the events and boxes come, and how every kind of failure ends.
#include <gtest/gtest.h>

#include "common/DateTime.h"
#include "package/PackageWriter.h"
#include "package/backup.h"
#include "support/FakeMachine.h"
#include "support/PackageKit.h"

namespace oup {
namespace {

using test::NoiseBytes;
using test::TextBytes;
using test::TFakeMachine;
using test::TPackageBytes;
using test::TRecordingUserInterface;

int32_t Dos(const char* text) { return DateTimeToDos(StrToDateTime(text)); }

// The fake stamps new files with 28.02.2005 16:55:52, so entries carry another date.
const int32_t kEntryDate = Dos("17.11.2002 04:49:56");
const char* kPackage = "C:\\pkg\\update.oup";

class RestoreTest : public ::testing::Test {
protected:
    RestoreTest() {
        m.AddDrive('C');
        m.AddDir("C:\\T");
        m.AddDir("C:\\pkg");
    }
    void Put(const TPackageBytes& p, const std::string& path = kPackage) { m.AddFile(path, p.Str()); }
    bool Run(const std::string& dest = "C:\\T") { return b.Restore(kPackage, dest); }
    std::vector<std::string> ErrorBoxes() const {
        std::vector<std::string> out;
        for (const auto& box : ui.Boxes)
            if (box.Caption == "Error") out.push_back(box.Text);
        return out;
    }
    // Every file outside the package folder.
    std::vector<std::string> Written() {
        std::vector<std::string> out;
        for (const std::string& p : m.AllPaths())
            if (m.FileExists(p) && p.rfind("C:\\pkg", 0) != 0) out.push_back(p);
        return out;
    }
    template <class F>
    std::string ThrownMessage(F&& f) {
        try {
            f();
        } catch (const Exception& e) {
            return e.Message();
        }
        return "(nothing thrown)";
    }

    TFakeMachine m;
    TRecordingUserInterface ui;
    TBackupFile b{m, ui};
};

using V = std::vector<std::string>;

// --- properties ---

TEST(BackupFileProperties, NewComponentIsZeroAndTheFormSetsItsValues) {
    TFakeMachine m;
    TRecordingUserInterface ui;
    TBackupFile b(m, ui);
    EXPECT_EQ("5.10", b.Version());
    b.SetVersion("9.99");
    EXPECT_EQ("5.10", b.Version());
    EXPECT_EQ("", b.BackupTitle);
    EXPECT_EQ(bmAll, b.BackupMode());
    EXPECT_EQ(clFastest, b.CompressionLevel);
    EXPECT_EQ(0, static_cast<int>(clFastest));
    EXPECT_EQ(1, static_cast<int>(clNone));
    EXPECT_EQ(4, static_cast<int>(rmExistingNewer));
    EXPECT_EQ(rmAll, b.RestoreMode);
    EXPECT_EQ(0, b.MaxSize);
    EXPECT_FALSE(b.SetArchiveFlag || b.RestoreFullPath || b.SaveFileID);
    EXPECT_FALSE(b.OnProgress || b.OnNeedDisk || b.OnRestoreFile || b.OnFileRestored || b.OnError);
    ApplyFormSettings(b);
    EXPECT_EQ(clMax, b.CompressionLevel);
    EXPECT_EQ(rmAll, b.RestoreMode);
    EXPECT_FALSE(b.RestoreFullPath);
}

TEST(BackupFileProperties, IncrementalModeTurnsOnTheArchiveFlagOnlyOnAChange) {
    TFakeMachine m;
    TRecordingUserInterface ui;
    TBackupFile b(m, ui);
    b.SetBackupMode(bmIncremental);
    EXPECT_TRUE(b.SetArchiveFlag);
    b.SetArchiveFlag = false;
    b.SetBackupMode(bmIncremental);  // no change: nothing happens
    EXPECT_FALSE(b.SetArchiveFlag);
    b.SetArchiveFlag = true;
    b.SetBackupMode(bmAll);  // leaves the flag alone
    EXPECT_TRUE(b.SetArchiveFlag);
    EXPECT_EQ(bmAll, b.BackupMode());
}

TEST(BackupFileProperties, ErrorTexts) {
    EXPECT_EQ("Kan ikke lese fil", BackupErrorText(1));
    EXPECT_EQ("Overwriting file failed", BackupErrorText(2));
    EXPECT_EQ("Kan ikke lese arkiv", BackupErrorText(3));
    EXPECT_EQ("Kan ikke skrive til arkiv", BackupErrorText(4));
    EXPECT_EQ("Feil arkivtype", BackupErrorText(5));
    EXPECT_EQ("Feil i pakke", BackupErrorText(6));
    EXPECT_EQ("Kan ikke lage temper\xE6r katalog", BackupErrorText(7));
    EXPECT_EQ("The package holds more data than its header announces", BackupErrorText(8));
    EXPECT_EQ("", BackupErrorText(0));
    EXPECT_EQ("", BackupErrorText(9));
    EXPECT_EQ("", BackupErrorText(-1));
}

// --- restoring sound packages ---

TEST_F(RestoreTest, RestoresTheFourEntryExampleWithDatesAndAPumpPerBlock) {
    const std::string inf = TextBytes(166, 1), lang = TextBytes(1045, 2);
    const std::string exe = TextBytes(94 * 16384, 3) + NoiseBytes(1024, 4);
    const int32_t d1 = Dos("28.02.2005 16:55:52"), d3 = Dos("17.11.2002 04:49:56"),
                  d4 = Dos("28.02.2005 16:55:44");
    EXPECT_EQ(0x325C86FA, d1);
    Put(TPackageBytes()
            .Header(1542331, 4)
            .File("d:\\pack\\oupdate.inf", d1, inf)
            .File("d:\\pack\\oupdate.mem", d1, "")
            .File("d:\\pack\\english.ln_", d3, lang)
            .File("d:\\pack\\ledger.exe", d4, exe)
            .EndMarker());
    ASSERT_TRUE(Run("C:\\T"));
    EXPECT_EQ((V{"C:\\T\\english.ln_", "C:\\T\\ledger.exe", "C:\\T\\oupdate.inf", "C:\\T\\oupdate.mem"}),
              Written());
    EXPECT_EQ(inf, m.Content("C:\\T\\oupdate.inf"));
    EXPECT_EQ("", m.Content("C:\\T\\oupdate.mem"));
    EXPECT_EQ(lang, m.Content("C:\\T\\english.ln_"));
    EXPECT_EQ(exe, m.Content("C:\\T\\ledger.exe"));
    EXPECT_EQ(d3, m.Time("C:\\T\\english.ln_"));
    EXPECT_EQ(d4, m.Time("C:\\T\\ledger.exe"));
    // 97 data blocks and 4 closing BlockSizes of 0.
    EXPECT_EQ(101, ui.Pumps);
    EXPECT_TRUE(ui.Boxes.empty());
    EXPECT_EQ(0, m.OpenCount());
}

TEST_F(RestoreTest, TitleEmptyRecordsStoredBlocksAndTrailingBytes) {
    const std::string raw = NoiseBytes(300, 9);
    Put(TPackageBytes()
            .Header(310, 1, "A title of some length")
            .Int(-1)
            .Int(-123456)
            .Entry("c:\\x\\mixed.bin", kEntryDate)
            .Signature()
            .Stored(raw)
            .Compressed("0123456789")
            .EndData()
            .Int(-7)
            .EndMarker()
            .Raw("whatever follows is never read"));
    ASSERT_TRUE(Run("C:\\T\\"));
    EXPECT_EQ(raw + "0123456789", m.Content("C:\\T\\mixed.bin"));
    EXPECT_EQ(kEntryDate, m.Time("C:\\T\\mixed.bin"));
}

TEST_F(RestoreTest, EndMarkerFirstWritesNothingAndReportsOneHundredOnce) {
    Put(TPackageBytes().Header(0, 0).EndMarker());
    std::vector<std::pair<std::string, int>> calls;
    b.OnProgress = [&](TBackupFile& s, const std::string& f, TPercentage p, bool&) {
        EXPECT_EQ(&s, &b);
        calls.push_back({f, p});
    };
    EXPECT_TRUE(Run());
    EXPECT_TRUE(Written().empty());
    EXPECT_EQ((std::vector<std::pair<std::string, int>>{{"", 100}}), calls);
}

TEST_F(RestoreTest, FileListEntryIsNeverWrittenAndRaisesNoEvent) {
    Put(TPackageBytes()
            .Header(3, 2)
            .File("FILE:LIST", kEntryDate, "a list nobody reads")
            .File("d:\\p\\a.txt", kEntryDate, "abc")
            .EndMarker());
    V seen;
    b.OnRestoreFile = [&](TBackupFile&, std::string& name, int32_t, bool&) { seen.push_back(name); };
    EXPECT_TRUE(Run());
    EXPECT_EQ(V{"C:\\T\\a.txt"}, seen);
    EXPECT_EQ(V{"C:\\T\\a.txt"}, Written());
}

TEST_F(RestoreTest, ProgressPerBlockRoundsHalvesToEvenAndEndsAtOneHundred) {
    // TotalSize 8: blocks of 1, 2 and 5 bytes give 12.5, 37.5 and 100 percent.
    Put(TPackageBytes()
            .Header(8, 1)
            .Entry("d:\\p\\eight", kEntryDate)
            .Signature()
            .Stored("a")
            .Compressed("bc")
            .Stored("defgh")
            .EndData()
            .EndMarker());
    std::vector<std::pair<std::string, int>> calls;
    b.OnProgress = [&](TBackupFile&, const std::string& f, TPercentage p, bool&) {
        calls.push_back({f, p});
    };
    EXPECT_TRUE(Run());
    const std::string f = "C:\\T\\eight";
    EXPECT_EQ((std::vector<std::pair<std::string, int>>{{f, 12}, {f, 38}, {f, 100}, {f, 100}, {"", 100}}),
              calls);
}

TEST_F(RestoreTest, ProgressNeverLeavesZeroToOneHundred) {
    // A header whose TotalSize is 0 or understated.
    for (int32_t total : {0, 2, -5}) {
        Put(TPackageBytes().Header(total, 1).File("d:\\p\\f", kEntryDate, "0123456789").EndMarker());
        std::vector<int> seen;
        b.OnProgress = [&](TBackupFile&, const std::string&, TPercentage p, bool&) { seen.push_back(p); };
        EXPECT_TRUE(Run()) << total;
        // Nothing to divide by, or more written than announced: done.
        EXPECT_EQ(std::vector<int>(seen.size(), 100), seen) << total;
    }
}

TEST_F(RestoreTest, OnRestoreFileMayRenameOrRefuseAndDirectoriesFollowTheNewName) {
    Put(TPackageBytes()
            .Header(6, 2)
            .File("d:\\p\\one.txt", kEntryDate, "111")
            .File("d:\\p\\two.txt", kEntryDate, "222")
            .EndMarker());
    b.OnRestoreFile = [&](TBackupFile&, std::string& name, int32_t fa, bool& doRestore) {
        EXPECT_EQ(kEntryDate, fa);
        if (name == "C:\\T\\one.txt") name = "C:\\elsewhere\\deep\\uno.txt";
        else doRestore = false;
    };
    EXPECT_TRUE(Run());
    EXPECT_EQ(V{"C:\\elsewhere\\deep\\uno.txt"}, Written());
    EXPECT_EQ("111", m.Content("C:\\elsewhere\\deep\\uno.txt"));
}

TEST_F(RestoreTest, OnFileRestoredSeesTheOpenFileBeforeItIsDatedAndClosed) {
    Put(TPackageBytes().Header(3, 1).File("d:\\p\\a.txt", kEntryDate, "abc").EndMarker());
    int calls = 0;
    b.OnFileRestored = [&](TBackupFile&, std::string& name, std::unique_ptr<TFileStream>& stream) {
        ++calls;
        EXPECT_EQ("C:\\T\\a.txt", name);
        ASSERT_TRUE(stream);
        EXPECT_NE(kEntryDate, m.Time(name));  // not dated yet
        stream->WriteBuffer("!", 1);          // and still open
    };
    EXPECT_TRUE(Run());
    EXPECT_EQ(1, calls);
    EXPECT_EQ("abc!", m.Content("C:\\T\\a.txt"));
    EXPECT_EQ(kEntryDate, m.Time("C:\\T\\a.txt"));
    EXPECT_EQ(0, m.OpenCount());
}

TEST_F(RestoreTest, EmptyDestDirKeepsTheStoredPath) {
    Put(TPackageBytes().Header(3, 1).File("C:\\keep\\here.txt", kEntryDate, "abc").EndMarker());
    EXPECT_TRUE(b.Restore(kPackage, ""));
    EXPECT_EQ("abc", m.Content("C:\\keep\\here.txt"));
}

TEST_F(RestoreTest, RestoreFullPathKeepsTheStoredPathBelowTheTarget) {
    b.RestoreFullPath = true;
    Put(TPackageBytes()
            .Header(6, 2)
            .File("x:\\a\\b.txt", kEntryDate, "bbb")
            .File("d:\\pack/sub\\c.txt", kEntryDate, "ccc")
            .EndMarker());
    EXPECT_TRUE(Run("C:\\T"));
    EXPECT_EQ("bbb", m.Content("C:\\T\\a\\b.txt"));
    EXPECT_EQ("ccc", m.Content("C:\\T\\pack\\sub\\c.txt"));
}

TEST_F(RestoreTest, NameAfterTheLastSeparatorOfAnyKind) {
    Put(TPackageBytes()
            .Header(9, 3)
            .File("dir/sub/unix.txt", kEntryDate, "uuu")
            .File("c:drive.txt", kEntryDate, "ddd")
            .File("plain", kEntryDate, "ppp")
            .EndMarker());
    EXPECT_TRUE(Run());
    EXPECT_EQ((V{"C:\\T\\drive.txt", "C:\\T\\plain", "C:\\T\\unix.txt"}), Written());
}

// --- restore modes ---

struct TModeCase {
    TRestoreMode Mode;
    bool Missing, Older, Same, Newer;  // which of the four entries get written
};

TEST_F(RestoreTest, RestoreModesDecideByExistenceAndAge) {
    const int32_t date = Dos("10.06.2010 12:00:00");
    const TModeCase cases[] = {
        {rmAll, true, true, true, true},
        {rmNoOverwrite, true, false, false, false},
        {rmNewer, true, true, false, false},
        {rmExisting, false, true, true, true},
        {rmExistingNewer, false, true, false, false},
    };
    Put(TPackageBytes()
            .Header(12, 4)
            .File("d:\\missing.txt", date, "new")
            .File("d:\\older.txt", date, "new")
            .File("d:\\same.txt", date, "new")
            .File("d:\\newer.txt", date, "new")
            .EndMarker());
    for (const TModeCase& c : cases) {
        SCOPED_TRACE(static_cast<int>(c.Mode));
        m.DeleteFile("C:\\T\\missing.txt");
        m.AddFile("C:\\T\\older.txt", "old", Dos("10.06.2010 11:59:58"));
        m.AddFile("C:\\T\\same.txt", "old", date);
        m.AddFile("C:\\T\\newer.txt", "old", Dos("10.06.2010 12:00:02"));
        b.RestoreMode = c.Mode;
        // Skipped entries are passed over exactly: every later one still reads.
        EXPECT_TRUE(Run());
        EXPECT_EQ(c.Missing, m.Exists("C:\\T\\missing.txt"));
        EXPECT_EQ(c.Older ? "new" : "old", m.Content("C:\\T\\older.txt"));
        EXPECT_EQ(c.Same ? "new" : "old", m.Content("C:\\T\\same.txt"));
        EXPECT_EQ(c.Newer ? "new" : "old", m.Content("C:\\T\\newer.txt"));
    }
}

TEST_F(RestoreTest, ADirectoryAtTheOutputPathCountsAsNoFile) {
    m.AddDir("C:\\T\\name.txt");
    Put(TPackageBytes().Header(3, 1).File("d:\\name.txt", kEntryDate, "abc").EndMarker());
    b.RestoreMode = rmExisting;
    EXPECT_TRUE(Run());  // skipped: no file there
    b.RestoreMode = rmNoOverwrite;
    EXPECT_FALSE(Run());  // written: creating over a directory fails
    EXPECT_EQ(V{"Kan ikke lese fil"}, ErrorBoxes());
}

// --- failures ---

TEST_F(RestoreTest, MissingPackageGivesFalseAndNothingElse) {
    bool progressed = false;
    b.OnProgress = [&](TBackupFile&, const std::string&, TPercentage, bool&) { progressed = true; };
    EXPECT_FALSE(b.Restore("C:\\pkg\\none.oup", "C:\\T"));
    EXPECT_FALSE(b.Restore("C:\\pkg", "C:\\T"));  // a directory is no package
    EXPECT_FALSE(progressed);
    EXPECT_TRUE(ui.Boxes.empty());
    EXPECT_EQ(0, ui.Pumps);
}

TEST_F(RestoreTest, UnreadableHeaderRaisesKanIkkeLeseArkiv) {
    const TPackageBytes cases[] = {
        TPackageBytes().Raw("\x01\x00"),                        // cut in TitleLength
        TPackageBytes().Int(10).Raw("short"),                   // title past the end
        TPackageBytes().Int(0).Int(5),                          // no FileCount
        TPackageBytes().Int(-1).Int(0).Int(0).EndMarker(),      // negative title length
    };
    for (const auto& p : cases) {
        Put(p);
        EXPECT_EQ("Kan ikke lese arkiv", ThrownMessage([&] { Run(); }));
        EXPECT_EQ(0, m.OpenCount());
    }
    Put(TPackageBytes().Header(0, 0).EndMarker());
    m.Lock(kPackage);
    EXPECT_EQ("Kan ikke lese arkiv", ThrownMessage([&] { Run(); }));
    EXPECT_TRUE(ui.Boxes.empty());
}

TEST_F(RestoreTest, WrongSignatureOfAWrittenEntryIsCodeOneWithTheFileKeptAndDated) {
    Put(TPackageBytes()
            .Header(3, 2)
            .Entry("d:\\bad.txt", kEntryDate)
            .Raw("EC2X")
            .Int(0)
            .File("d:\\after.txt", kEntryDate, "abc")
            .EndMarker());
    int restored = 0;
    b.OnFileRestored = [&](TBackupFile&, std::string&, std::unique_ptr<TFileStream>&) { ++restored; };
    EXPECT_FALSE(Run());
    EXPECT_EQ(V{"Kan ikke lese fil"}, ErrorBoxes());
    EXPECT_EQ(TMsgKind::Error, ui.Boxes.at(0).Kind);
    EXPECT_EQ(TMsgButtons::Ok, ui.Boxes.at(0).Buttons);
    EXPECT_EQ("", m.Content("C:\\T\\bad.txt"));
    EXPECT_EQ(kEntryDate, m.Time("C:\\T\\bad.txt"));
    EXPECT_EQ(1, restored);
    EXPECT_FALSE(m.Exists("C:\\T\\after.txt"));  // the restore ended
}

TEST_F(RestoreTest, DataEndingEarlyKeepsWhatWasWritten) {
    const std::string first = TextBytes(16384, 5);
    TPackageBytes p;
    p.Header(20000, 1).Entry("d:\\cut.bin", kEntryDate).Signature().Compressed(first);
    const std::string second = test::Deflate(TextBytes(3000, 6));
    p.Int(static_cast<int32_t>(second.size())).Raw(second.substr(0, second.size() / 2));
    Put(p);
    EXPECT_FALSE(Run());
    EXPECT_EQ(V{"Kan ikke lese fil"}, ErrorBoxes());
    EXPECT_EQ(first, m.Content("C:\\T\\cut.bin"));
    EXPECT_EQ(kEntryDate, m.Time("C:\\T\\cut.bin"));
    EXPECT_EQ(0, m.OpenCount());
}

TEST_F(RestoreTest, OutputThatCannotBeCreatedIsCodeOneWithoutEventOrDate) {
    m.AddFile("C:\\T\\locked.txt", "held", Dos("01.01.2001 10:00:00"));
    m.Lock("C:\\T\\locked.txt");
    Put(TPackageBytes().Header(3, 1).File("d:\\locked.txt", kEntryDate, "abc").EndMarker());
    int restored = 0;
    b.OnFileRestored = [&](TBackupFile&, std::string&, std::unique_ptr<TFileStream>&) { ++restored; };
    EXPECT_FALSE(Run());
    EXPECT_EQ(V{"Kan ikke lese fil"}, ErrorBoxes());
    EXPECT_EQ(0, restored);
    m.Lock("C:\\T\\locked.txt", false);
    EXPECT_EQ("held", m.Content("C:\\T\\locked.txt"));
    EXPECT_EQ(Dos("01.01.2001 10:00:00"), m.Time("C:\\T\\locked.txt"));
}

TEST_F(RestoreTest, AFailingWriteIsCodeOneNotASilentlyCutFile) {
    m.FailWritesAfter("C:\\T\\full.bin", 100);
    Put(TPackageBytes().Header(5000, 1).File("d:\\full.bin", kEntryDate, TextBytes(5000)).EndMarker());
    EXPECT_FALSE(Run());
    EXPECT_EQ(V{"Kan ikke lese fil"}, ErrorBoxes());
}

TEST_F(RestoreTest, DamagedBlockIsCodeSixShownOnceAfterTheClosingProgress) {
    const std::string good = TextBytes(16384, 7);
    std::string bad = test::Deflate(TextBytes(16384, 8));
    bad[bad.size() / 2] ^= 0x55;
    Put(TPackageBytes()
            .Header(32768, 2)
            .Entry("d:\\damaged.bin", kEntryDate)
            .Signature()
            .Compressed(good)
            .Int(static_cast<int32_t>(bad.size()))
            .Raw(bad)
            .Compressed("never read")
            .EndData()
            .File("d:\\next.txt", kEntryDate, "abc")
            .EndMarker());
    V log;
    ui.Log = &log;
    b.OnProgress = [&](TBackupFile&, const std::string& f, TPercentage p, bool&) {
        log.push_back("progress:" + f + ":" + std::to_string(p));
    };
    EXPECT_FALSE(Run());
    EXPECT_EQ(V{"Feil i pakke"}, ErrorBoxes());
    EXPECT_EQ((V{"pump", "progress:C:\\T\\damaged.bin:50", "pump"}),
              V(log.begin(), log.begin() + 3));
    EXPECT_EQ((V{"progress::100", "box:Feil i pakke"}), V(log.end() - 2, log.end()));
    // Whatever the inflater made of the damaged block follows the good one.
    const std::string content = m.Content("C:\\T\\damaged.bin");
    EXPECT_EQ(good, content.substr(0, good.size()));
    EXPECT_EQ(kEntryDate, m.Time("C:\\T\\damaged.bin"));
    EXPECT_FALSE(m.Exists("C:\\T\\next.txt"));
}

TEST_F(RestoreTest, OnErrorReplacesTheBox) {
    std::string bad = test::Deflate("abc");
    bad[0] = 0x11;  // no zlib header
    Put(TPackageBytes()
            .Header(3, 1)
            .Entry("d:\\x", kEntryDate)
            .Signature()
            .Int(static_cast<int32_t>(bad.size()))
            .Raw(bad)
            .EndData()
            .EndMarker());
    std::vector<std::pair<int, std::string>> errors;
    b.OnError = [&](TBackupFile&, const int32_t code, const std::string& text) {
        errors.push_back({code, text});
    };
    EXPECT_FALSE(Run());
    EXPECT_TRUE(ui.Boxes.empty());
    EXPECT_EQ((std::vector<std::pair<int, std::string>>{{6, "Feil i pakke"}}), errors);
}

TEST_F(RestoreTest, BlocksBeyondTheBuffersEndWithCodeSix) {
    const std::string big = TextBytes(16385, 3);
    const std::string bigStream = test::Deflate(big);  // inflates past the 16384 bytes of room
    std::string cut = test::Deflate(TextBytes(5000, 4));
    cut.resize(cut.size() - 4);  // no Adler-32 trailer: the stream does not end
    const TPackageBytes cases[] = {
        TPackageBytes().Int(16385).Raw(NoiseBytes(16385)),
        TPackageBytes().Int(-16385).Raw(NoiseBytes(16385)),
        TPackageBytes().Int(INT32_MIN),
        TPackageBytes().Int(INT32_MAX),
        TPackageBytes().Int(static_cast<int32_t>(bigStream.size())).Raw(bigStream),
        TPackageBytes().Int(static_cast<int32_t>(cut.size())).Raw(cut),
    };
    for (size_t i = 0; i < std::size(cases); ++i) {
        SCOPED_TRACE(i);
        ui.Boxes.clear();
        TPackageBytes p;
        p.Header(20000, 1).Entry("d:\\big.bin", kEntryDate).Signature().Raw(cases[i].Str());
        p.EndData().EndMarker();
        Put(p);
        EXPECT_FALSE(Run());
        EXPECT_EQ(V{"Feil i pakke"}, ErrorBoxes());
        EXPECT_LE(m.Content("C:\\T\\big.bin").size(), 16384u);
    }
}

TEST_F(RestoreTest, NamesThatLeaveTheTargetAreNotWrittenAndEndWithCodeSix) {
    struct TCase {
        const char* Name;
        bool FullPath;
    } cases[] = {
        {"d:\\pack\\..", false}, {"d:\\pack\\", false},  {"d:\\pack\\.", false},
        {"evil/..", false},      {"x:", false},          {"d:\\. .", false},
        {"x:\\..\\evil.txt", true}, {"x:\\a\\..\\..\\evil.txt", true}, {"x:\\a/../../evil.txt", true},
        {"x:\\a\\c:\\evil.txt", true}, {"x:\\dir\\", true}, {"ab", true}, {"x:\\.. \\evil.txt", true},
        // A device, which a write would reach (or wait on) instead of a file.
        {"d:\\pack\\NUL", false}, {"d:\\com1.txt", false}, {"d:\\a?b", false},
        {"x:\\con\\evil.txt", true},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Name);
        ui.Boxes.clear();
        b.RestoreFullPath = c.FullPath;
        bool asked = false;
        b.OnRestoreFile = [&](TBackupFile&, std::string&, int32_t, bool&) { asked = true; };
        Put(TPackageBytes()
                .Header(6, 2)
                .File(c.Name, kEntryDate, "evil")
                .File("d:\\after.txt", kEntryDate, "ok")
                .EndMarker());
        EXPECT_FALSE(Run("C:\\T\\inner"));
        EXPECT_EQ(V{"Feil i pakke"}, ErrorBoxes());
        EXPECT_FALSE(asked);
        EXPECT_TRUE(Written().empty());
    }
}

TEST_F(RestoreTest, OverlongNameIsPassedOverAsDamage) {
    const std::string name(40000, 'n');
    Put(TPackageBytes().Header(3, 1).File(name, kEntryDate, "abc").EndMarker());
    EXPECT_FALSE(Run());
    EXPECT_EQ(V{"Feil i pakke"}, ErrorBoxes());
    EXPECT_TRUE(Written().empty());
}

TEST_F(RestoreTest, DirectoryThatCannotBeMadeSkipsTheEntryQuietly) {
    m.AddFile("C:\\T\\sub", "a file where a directory should be");
    b.RestoreFullPath = true;
    Put(TPackageBytes()
            .Header(6, 2)
            .File("x:\\sub\\a.txt", kEntryDate, "aaa")
            .File("x:\\b.txt", kEntryDate, "bbb")
            .EndMarker());
    EXPECT_TRUE(Run());
    EXPECT_TRUE(ui.Boxes.empty());
    EXPECT_EQ("bbb", m.Content("C:\\T\\b.txt"));
    EXPECT_FALSE(m.Exists("C:\\T\\sub\\a.txt"));
}

TEST_F(RestoreTest, PathWithoutDirectoryRaisesUnableToCreateDirectory) {
    Put(TPackageBytes().Header(3, 1).File("plain.txt", kEntryDate, "abc").EndMarker());
    EXPECT_EQ("Unable to create directory", ThrownMessage([&] { b.Restore(kPackage, ""); }));
    Put(TPackageBytes().Header(3, 1).File("d:\\a.txt", kEntryDate, "abc").EndMarker());
    b.OnRestoreFile = [](TBackupFile&, std::string& name, int32_t, bool&) { name = "bare.txt"; };
    EXPECT_EQ("Unable to create directory", ThrownMessage([&] { Run(); }));
    EXPECT_EQ(0, m.OpenCount());
}

TEST_F(RestoreTest, SkippedDataWithAWrongSignatureRaisesFeilArkivtype) {
    b.RestoreMode = rmExisting;  // the file is missing: its data is skipped
    Put(TPackageBytes().Header(3, 1).Entry("d:\\a.txt", kEntryDate).Raw(std::string("EC3\0", 4)).Int(0).EndMarker());
    EXPECT_EQ("Feil arkivtype", ThrownMessage([&] { Run(); }));
    EXPECT_TRUE(ui.Boxes.empty());
}

TEST_F(RestoreTest, InputEndingInsideARecordOrSkippedDataRaisesTheReadError) {
    const std::string full = TPackageBytes().Header(3, 1).File("d:\\a.txt", kEntryDate, "abc").Str();
    Put(TPackageBytes().Raw(full.substr(0, 16)));  // inside the name
    EXPECT_THROW(Run(), EReadError);
    b.RestoreMode = rmExisting;
    Put(TPackageBytes().Header(3, 1).Entry("d:\\a.txt", kEntryDate).Signature().Int(-50).Raw("short"));
    EXPECT_THROW(Run(), EReadError);
    EXPECT_EQ(0, m.OpenCount());
}

TEST_F(RestoreTest, AHandlerClearingContinueStopsAfterTheCurrentBlock) {
    const std::string content = TextBytes(40000, 2);
    Put(TPackageBytes()
            .Header(40003, 2)
            .File("d:\\big.txt", kEntryDate, content)
            .File("d:\\next.txt", kEntryDate, "abc")
            .EndMarker());
    b.OnProgress = [&](TBackupFile&, const std::string& f, TPercentage, bool& go) {
        if (!f.empty()) go = false;
    };
    EXPECT_FALSE(Run());
    EXPECT_TRUE(ui.Boxes.empty());
    EXPECT_EQ(content.substr(0, 16384), m.Content("C:\\T\\big.txt"));
    EXPECT_EQ(kEntryDate, m.Time("C:\\T\\big.txt"));
    EXPECT_FALSE(m.Exists("C:\\T\\next.txt"));
}

TEST_F(RestoreTest, AnotherRestoreStartsClean) {
    Put(TPackageBytes().Header(3, 1).Entry("d:\\bad", kEntryDate).Raw("XXXX").EndMarker());
    EXPECT_FALSE(Run());
    Put(TPackageBytes().Header(3, 1).File("d:\\good", kEntryDate, "abc").EndMarker());
    EXPECT_TRUE(Run());
    EXPECT_EQ(1u, ErrorBoxes().size());
}

// --- streams and the appended package ---

TEST_F(RestoreTest, RestoreFromStreamReadsFromThePositionAndSwallowsFailures) {
    EXPECT_FALSE(b.RestoreFromStream(nullptr, "C:\\T"));
    EXPECT_TRUE(Written().empty());

    const std::string pkg = TPackageBytes().Header(3, 1).File("d:\\s.txt", kEntryDate, "abc").EndMarker().Str();
    TMemoryStream s(test::TPackageBytes().Raw("prefix").Raw(pkg).Vec());
    s.SetPosition(6);
    EXPECT_TRUE(b.RestoreFromStream(&s, "C:\\T"));
    EXPECT_EQ("abc", m.Content("C:\\T\\s.txt"));

    TMemoryStream cut(TPackageBytes().Raw(pkg.substr(0, 20)).Vec());
    EXPECT_FALSE(b.RestoreFromStream(&cut, "C:\\T"));
    // No package name stands for a stream: ":STREAM" is a file like any other, and there is none.
    EXPECT_FALSE(b.Restore(":STREAM", "C:\\T"));
}

TEST_F(RestoreTest, AVolumeSwitchInAStreamIsDamage) {
    TMemoryStream s(TPackageBytes()
                        .Header(3, 1)
                        .Entry("d:\\a", kEntryDate)
                        .Signature()
                        .Compressed("abc")
                        .EndData()
                        .Switch("002")
                        .Signature()
                        .EndData()
                        .EndMarker()
                        .Vec());
    EXPECT_FALSE(b.RestoreStream(s, "C:\\T"));
    EXPECT_EQ(V{"Feil i pakke"}, ErrorBoxes());
    EXPECT_EQ("abc", m.Content("C:\\T\\a"));
}

}  // namespace
}  // namespace oup
