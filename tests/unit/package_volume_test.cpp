// Packages split over volumes: the writer's splits, the volume prompt, and
// how the reader continues an entry in the next volume.
#include <gtest/gtest.h>

#include "common/DateTime.h"
#include "package/PackageList.h"
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
using V = std::vector<std::string>;

const int32_t kDate = DateTimeToDos(StrToDateTime("03.04.2011 10:20:30"));

class VolumeTest : public ::testing::Test {
protected:
    VolumeTest() {
        m.AddDrive('D');
        m.AddDir("D:\\upd");
        m.AddDir("C:\\T");
        m.AddDrive('C');
    }
    // Packs the named contents into D:\upd\update.oup with volumes of at most volumeSize bytes.
    std::vector<std::string> Pack(const std::vector<std::pair<std::string, std::string>>& files,
                                  int64_t volumeSize) {
        TPackageWriterOptions o;
        o.VolumeSize = volumeSize;
        TPackageWriter w(m, "D:\\upd\\update.oup", o);
        for (const auto& [name, content] : files) {
            TMemoryStream s(std::vector<uint8_t>(content.begin(), content.end()));
            w.AddEntry(name, kDate, s);
        }
        return w.Finish();
    }

    TFakeMachine m;
    TRecordingUserInterface ui;
    TBackupFile b{m, ui};
};

TEST_F(VolumeTest, WriterKeepsEveryVolumeWithinItsSizeAndTheReaderJoinsThem) {
    const std::vector<std::pair<std::string, std::string>> files = {
        {"d:\\src\\noise.bin", NoiseBytes(70000, 3)},
        {"d:\\src\\empty.txt", ""},
        {"d:\\src\\text.txt", TextBytes(300000, 4)},
        {"d:\\src\\exact.bin", NoiseBytes(16384, 5)},
    };
    const auto volumes = Pack(files, 20000);
    ASSERT_GE(volumes.size(), 5u);
    EXPECT_EQ("D:\\upd\\update.002", volumes[1]);
    for (const std::string& v : volumes) EXPECT_LE(m.Content(v).size(), 20000u) << v;

    EXPECT_TRUE(b.Restore("D:\\upd\\update.oup", "C:\\T"));
    for (const auto& [name, content] : files) {
        const std::string out = "C:\\T\\" + ExtractFileName(name);
        EXPECT_EQ(content, m.Content(out)) << name;
        EXPECT_EQ(kDate, m.Time(out)) << name;
    }
    // The prompt comes once per further volume, though each is already there.
    ASSERT_EQ(volumes.size() - 1, ui.Boxes.size());
    EXPECT_EQ("Please insert disk 2 and click OK to continue.", ui.Boxes[0].Text);
    EXPECT_EQ("Information", ui.Boxes[0].Caption);
    EXPECT_EQ(TMsgKind::Information, ui.Boxes[0].Kind);
    EXPECT_EQ(TMsgButtons::OkCancel, ui.Boxes[0].Buttons);
    EXPECT_EQ("Please insert disk 3 and click OK to continue.", ui.Boxes[1].Text);
    EXPECT_EQ(0, m.OpenCount());
}

TEST_F(VolumeTest, ProgressCountsBytesAcrossVolumes) {
    const std::string content = TextBytes(200000, 1);
    Pack({{"d:\\a.txt", content}}, 20000);
    int last = -1;
    bool rising = true;
    b.OnProgress = [&](TBackupFile&, const std::string& f, TPercentage p, bool&) {
        if (!f.empty()) rising = rising && p >= last;
        last = p;
    };
    EXPECT_TRUE(b.Restore("D:\\upd\\update.oup", "C:\\T"));
    EXPECT_TRUE(rising);
    EXPECT_EQ(100, last);
}

TEST_F(VolumeTest, CancelAtThePromptEndsWithFalseAndNoErrorBox) {
    const std::string content = NoiseBytes(50000, 2);
    Pack({{"d:\\a.bin", content}}, 20000);
    ui.Answers = {TMsgResult::Cancel};
    EXPECT_FALSE(b.Restore("D:\\upd\\update.oup", "C:\\T"));
    ASSERT_EQ(1u, ui.Boxes.size());
    EXPECT_EQ("Information", ui.Boxes[0].Caption);
    // What the first volume held stays, dated.
    EXPECT_EQ(content.substr(0, m.Content("C:\\T\\a.bin").size()), m.Content("C:\\T\\a.bin"));
    EXPECT_GT(m.Content("C:\\T\\a.bin").size(), 0u);
    EXPECT_EQ(kDate, m.Time("C:\\T\\a.bin"));
}

TEST_F(VolumeTest, PromptRepeatsUntilTheVolumeIsThere) {
    const std::string content = NoiseBytes(30000, 2);
    const auto volumes = Pack({{"d:\\a.bin", content}}, 20000);
    ASSERT_EQ(2u, volumes.size());
    const std::string second = m.Content(volumes[1]);
    m.DeleteFile(volumes[1]);
    // The user presses OK twice without the disk, then inserts it.
    ui.OnBox = [&](const TRecordingUserInterface::TBox&) {
        if (ui.Boxes.size() == 3) m.AddFile(volumes[1], second);
    };
    EXPECT_TRUE(b.Restore("D:\\upd\\update.oup", "C:\\T"));
    EXPECT_EQ(3u, ui.Boxes.size());
    EXPECT_EQ(content, m.Content("C:\\T\\a.bin"));
}

TEST_F(VolumeTest, TheNextVolumeIsNamedByTheLongNameOfAShortOne) {
    const std::string content = NoiseBytes(30000, 2);
    const auto volumes = Pack({{"d:\\a.bin", content}}, 20000);
    ASSERT_EQ(2u, volumes.size());
    // Пакет.oup and Пакет.002, whose short names have nothing in common; the
    // second is inserted at the first prompt.
    m.AddFile("D:\\upd\\PAKET~1.OUP", m.Content(volumes[0]));
    m.AddShortName("D:\\upd\\Пакет.oup", "D:\\upd\\PAKET~1.OUP");
    ui.Answers = {TMsgResult::Ok, TMsgResult::Cancel};
    ui.OnBox = [&](const TRecordingUserInterface::TBox&) {
        m.AddFile("D:\\upd\\8F3A~1.002", m.Content(volumes[1]));
        m.AddShortName("D:\\upd\\Пакет.002", "D:\\upd\\8F3A~1.002");
    };
    EXPECT_TRUE(b.Restore("D:\\upd\\PAKET~1.OUP", "C:\\T"));
    EXPECT_EQ(1u, ui.Boxes.size());
    EXPECT_EQ(content, m.Content("C:\\T\\a.bin"));
}

TEST_F(VolumeTest, OnNeedDiskReplacesThePromptWithTheNumberWithoutZeros) {
    // A hand-made package whose switch names volume 010.
    m.AddFile("D:\\upd\\update.oup", TPackageBytes()
                                         .Header(6, 1)
                                         .Entry("d:\\a.txt", kDate)
                                         .Signature()
                                         .Compressed("abc")
                                         .EndData()
                                         .Switch("010")
                                         .Str());
    m.AddFile("D:\\upd\\update.010",
              TPackageBytes().Signature().Stored("def").EndData().EndMarker().Str());
    std::vector<int> disks;
    b.OnNeedDisk = [&](TBackupFile&, uint16_t disk, bool&) { disks.push_back(disk); };
    EXPECT_TRUE(b.Restore("D:\\upd\\update.oup", "C:\\T"));
    EXPECT_EQ(std::vector<int>{10}, disks);
    EXPECT_TRUE(ui.Boxes.empty());
    EXPECT_EQ("abcdef", m.Content("C:\\T\\a.txt"));

    b.OnNeedDisk = nullptr;
    EXPECT_TRUE(b.Restore("D:\\upd\\update.oup", "C:\\T"));
    EXPECT_EQ("Please insert disk 10 and click OK to continue.", ui.Boxes.at(0).Text);
}

TEST_F(VolumeTest, ASkippedEntryStaysSkippedInTheNextVolume) {
    const std::string content = NoiseBytes(40000, 6);
    Pack({{"d:\\a.bin", content}, {"d:\\b.txt", "bbb"}}, 20000);
    b.OnRestoreFile = [](TBackupFile&, std::string& name, int32_t, bool& go) {
        go = name.find("a.bin") == std::string::npos;
    };
    EXPECT_TRUE(b.Restore("D:\\upd\\update.oup", "C:\\T"));
    EXPECT_FALSE(m.Exists("C:\\T\\a.bin"));
    EXPECT_EQ("bbb", m.Content("C:\\T\\b.txt"));
}

TEST_F(VolumeTest, SwitchBeforeAnyEntryPassesItsDataOver) {
    m.AddFile("D:\\upd\\update.oup", TPackageBytes().Header(3, 1).Switch("002").Str());
    m.AddFile("D:\\upd\\update.002", TPackageBytes()
                                         .Signature()
                                         .Stored("ignored")
                                         .EndData()
                                         .File("d:\\a.txt", kDate, "abc")
                                         .EndMarker()
                                         .Str());
    EXPECT_TRUE(b.Restore("D:\\upd\\update.oup", "C:\\T"));
    EXPECT_EQ(V{"C:\\T\\a.txt"}, V{m.AllPaths().at(2)});
    EXPECT_EQ("abc", m.Content("C:\\T\\a.txt"));
}

TEST_F(VolumeTest, BrokenContinuationsRaise) {
    const std::string first =
        TPackageBytes().Header(6, 1).Entry("d:\\a.txt", kDate).Signature().Compressed("abc").EndData().Switch("002").Str();
    m.AddFile("D:\\upd\\update.oup", first);
    m.AddFile("D:\\upd\\update.002", "EC2Z");
    try {
        b.Restore("D:\\upd\\update.oup", "C:\\T");
        ADD_FAILURE() << "no exception";
    } catch (const EBackupFileError& e) {
        EXPECT_EQ("Feil arkivtype", e.Message());
    }
    m.AddFile("D:\\upd\\update.002", std::string("EC2\0\x05\0\0", 7));
    EXPECT_THROW(b.Restore("D:\\upd\\update.oup", "C:\\T"), EReadError);
    EXPECT_EQ(0, m.OpenCount());
    // The output file was closed with what it had.
    EXPECT_EQ("abc", m.Content("C:\\T\\a.txt"));
}

TEST_F(VolumeTest, AnOutputThatCannotBeContinuedAtItsEndFailsTheEntry) {
    Pack({{"d:\\a.bin", NoiseBytes(30000, 1)}}, 20000);
    m.AddFile("C:\\T\\a.bin", "");
    m.FailSeeks("C:\\T\\a.bin");
    EXPECT_FALSE(b.Restore("D:\\upd\\update.oup", "C:\\T"));
    ASSERT_EQ(2u, ui.Boxes.size());  // the volume prompt, then the error
    EXPECT_EQ("Kan ikke lese fil", ui.Boxes[1].Text);
    EXPECT_EQ(NoiseBytes(30000, 1).substr(0, m.Content("C:\\T\\a.bin").size()),
              m.Content("C:\\T\\a.bin"));  // the first volume's part, not written over
    EXPECT_EQ(0, m.OpenCount());
}

TEST_F(VolumeTest, MalformedSwitchRecordIsDamage) {
    for (const char* digits : {"0a2", "02", "", "-12"}) {
        ui.Boxes.clear();
        m.AddFile("D:\\upd\\update.oup", TPackageBytes().Header(0, 0).Switch(digits).EndMarker().Str());
        EXPECT_FALSE(b.Restore("D:\\upd\\update.oup", "C:\\T")) << digits;
        ASSERT_EQ(1u, ui.Boxes.size()) << digits;
        EXPECT_EQ("Feil i pakke", ui.Boxes[0].Text);
    }
}

TEST_F(VolumeTest, ListingFollowsTheVolumesAndNamesAMissingOne) {
    const auto volumes = Pack({{"d:\\a.txt", "aaa"}, {"d:\\big.bin", NoiseBytes(50000, 7)}}, 20000);
    ASSERT_GE(volumes.size(), 3u);
    auto in = m.OpenFile(volumes[0], TOpenMode::ReadShared);
    const TPackageSummary s = ListPackage(m, *in, volumes[0]);
    EXPECT_EQ(static_cast<int>(volumes.size()), s.Volumes);
    ASSERT_EQ(2u, s.Entries.size());
    EXPECT_EQ(50000, s.Entries[1].Size);
    EXPECT_EQ(1, s.Entries[1].FirstVolume);
    EXPECT_EQ(s.Volumes, s.Entries[1].LastVolume);
    in.reset();

    m.DeleteFile(volumes.back());
    in = m.OpenFile(volumes[0], TOpenMode::ReadShared);
    try {
        ListPackage(m, *in, volumes[0]);
        ADD_FAILURE() << "no exception";
    } catch (const Exception& e) {
        EXPECT_EQ("missing volume " + volumes.back(), e.Message());
    }
}

TEST_F(VolumeTest, ListingRefusesVolumesThatComeRoundAgain) {
    m.AddFile("D:\\upd\\update.oup", TPackageBytes().Header(0, 0).Switch("002").Str());
    for (const char* back : {"002", "003"}) {
        m.AddFile("D:\\upd\\update.002", TPackageBytes().Signature().EndData().Switch(back).Str());
        m.AddFile("D:\\upd\\update.003", TPackageBytes().Signature().EndData().Switch("002").Str());
        auto in = m.OpenFile("D:\\upd\\update.oup", TOpenMode::ReadShared);
        try {
            ListPackage(m, *in, "D:\\upd\\update.oup");
            ADD_FAILURE() << "no exception";
        } catch (const Exception& e) {
            EXPECT_EQ("volume D:\\upd\\update.002 comes round again", e.Message());
        }
    }
}

TEST_F(VolumeTest, WriterRefusesVolumesTooSmallForABlock) {
    TPackageWriterOptions o;
    o.VolumeSize = 2000;
    TPackageWriter w(m, "D:\\upd\\small.oup", o);
    TMemoryStream s(std::vector<uint8_t>(5000, 0));
    EXPECT_NO_THROW(w.AddEntry("d:\\zeros", kDate, s));  // compresses to a few bytes
    const std::string noise = NoiseBytes(5000, 1);
    TMemoryStream n(std::vector<uint8_t>(noise.begin(), noise.end()));
    EXPECT_THROW(w.AddEntry("d:\\noise", kDate, n), Exception);
}

TEST_F(VolumeTest, WriterRecordsForTestsAndTotals) {
    {
        TPackageWriter w(m, "D:\\upd\\odd.oup", {"Title", 0, 9});
        w.AddEmptyRecord();
        w.AddFileList("list", kDate);
        TMemoryStream s(std::vector<uint8_t>(16385, 'x'));
        w.AddEntry("d:\\x.txt", kDate, s);
        EXPECT_THROW(w.AddEntry("NEXT:DISK002", kDate, s), Exception);
        EXPECT_THROW(w.AddEntry("FILE:LIST", kDate, s), Exception);
        w.Finish();
    }
    auto in = m.OpenFile("D:\\upd\\odd.oup", TOpenMode::ReadShared);
    const TPackageSummary s = ListPackage(m, *in, "D:\\upd\\odd.oup");
    EXPECT_EQ("Title", s.Title);
    EXPECT_EQ(16385, s.TotalSize);  // the list is never written, so it is not counted
    EXPECT_EQ(2, s.FileCount);
    EXPECT_EQ(1, s.EmptyRecords);
    ASSERT_EQ(2u, s.Entries.size());
    EXPECT_EQ("FILE:LIST", s.Entries[0].Name);
    EXPECT_EQ(16385, s.Entries[1].Size);
    EXPECT_EQ(2, s.Entries[1].Blocks);
}

}  // namespace
}  // namespace oup
