// Damaged packages: a sound package cut at every byte offset, and with bytes
// flipped at every offset, must end each time with one of the restore's own
// outcomes (an error code shown once, its exceptions, or a read error), never
// anything else, and never write outside the target directory. Run under
// ASan/UBSan this also proves that no damage overruns a buffer.
#include <gtest/gtest.h>

#include <map>

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

const int32_t kDate = 0x2D71263C;

std::string SoundPackage() {
    return TPackageBytes()
        .Header(1300 + 40000, 5, "title")
        .Int(-1)
        .File("FILE:LIST", kDate, "d:\\p\\a.txt\r\n")
        .File("d:\\p\\empty.txt", kDate, "")
        .Entry("d:\\p\\mixed.bin", kDate)
        .Signature()
        .Stored(NoiseBytes(300, 2))
        .Compressed(TextBytes(1000, 3))
        .EndData()
        .File("d:\\p\\two.txt", kDate, TextBytes(20000, 4) + TextBytes(20000, 5))
        .EndMarker()
        .Str();
}

enum TOutcome { kTrue, kErrorCode, kBackupException, kReadError, kDirException };

class DamageTest : public ::testing::Test {
protected:
    // Restores bytes from a stream on a fresh machine and classifies the end.
    TOutcome Restore(const std::string& bytes) {
        TFakeMachine m;
        m.AddDrive('C');
        m.AddDir("C:\\T");
        TRecordingUserInterface ui;
        TBackupFile b(m, ui);
        TOutcome outcome = kTrue;
        TMemoryStream s(std::vector<uint8_t>(bytes.begin(), bytes.end()));
        try {
            if (!b.RestoreStream(s, "C:\\T")) {
                // No one cancels here, so false always comes with its one box.
                EXPECT_EQ(1u, ui.Boxes.size());
                if (!ui.Boxes.empty()) {
                    EXPECT_NE("", ui.Boxes[0].Text);
                }
                outcome = kErrorCode;
            } else {
                EXPECT_TRUE(ui.Boxes.empty());
            }
        } catch (const EBackupFileError& e) {
            EXPECT_TRUE(e.Message() == "Feil arkivtype" || e.Message() == "Kan ikke lese arkiv")
                << e.Message();
            outcome = kBackupException;
        } catch (const EReadError&) {
            outcome = kReadError;
        } catch (const EInOutError& e) {
            EXPECT_EQ("Unable to create directory", e.Message());
            outcome = kDirException;
        }
        EXPECT_EQ(0, m.OpenCount());
        for (const std::string& p : m.AllPaths())
            EXPECT_TRUE(p == "C:" || p.rfind("C:\\T", 0) == 0) << "wrote " << p;
        return outcome;
    }
};

TEST_F(DamageTest, CutAtEveryOffsetNeverSucceeds) {
    const std::string sound = SoundPackage();
    ASSERT_EQ(kTrue, Restore(sound));
    std::map<TOutcome, int> seen;
    for (size_t cut = 0; cut < sound.size(); ++cut) {
        SCOPED_TRACE(cut);
        const TOutcome o = Restore(sound.substr(0, cut));
        EXPECT_NE(kTrue, o);
        ++seen[o];
        if (HasFailure()) break;
    }
    // Cuts end in the header, inside records and inside written data alike.
    EXPECT_GT(seen[kBackupException], 0);
    EXPECT_GT(seen[kReadError], 0);
    EXPECT_GT(seen[kErrorCode], 0);
}

TEST_F(DamageTest, FlippedBytesEndWithADefinedOutcome) {
    const std::string sound = SoundPackage();
    std::map<TOutcome, int> seen;
    for (size_t at = 0; at < sound.size(); ++at) {
        for (uint8_t mask : {0x01, 0x80, 0xFF}) {
            std::string bytes = sound;
            bytes[at] = static_cast<char>(bytes[at] ^ mask);
            SCOPED_TRACE(testing::Message() << at << " ^ " << int(mask));
            ++seen[Restore(bytes)];
            if (HasFailure()) return;
        }
    }
    EXPECT_GT(seen[kErrorCode], 0);
    EXPECT_GT(seen[kTrue], 0);  // a flip in the title or a stored block reads on
}

TEST_F(DamageTest, CutVolumesEndWithADefinedOutcome) {
    TFakeMachine m;
    m.AddDrive('D');
    m.AddDir("D:\\upd");
    std::vector<std::string> volumes;
    {
        TPackageWriterOptions o;
        o.VolumeSize = 20000;
        TPackageWriter w(m, "D:\\upd\\u.oup", o);
        const std::string a = NoiseBytes(25000, 1), c = TextBytes(40000, 2);
        TMemoryStream sa(std::vector<uint8_t>(a.begin(), a.end())), sc(std::vector<uint8_t>(c.begin(), c.end()));
        w.AddEntry("d:\\a.bin", kDate, sa);
        w.AddEntry("d:\\c.txt", kDate, sc);
        volumes = w.Finish();
    }
    ASSERT_EQ(2u, volumes.size());
    const std::string second = m.Content(volumes[1]);
    for (size_t cut = 0; cut < second.size(); cut += 7) {
        SCOPED_TRACE(cut);
        m.AddFile(volumes[1], second.substr(0, cut));
        TRecordingUserInterface ui;
        TBackupFile b(m, ui);
        bool ok = false;
        try {
            ok = b.Restore(volumes[0], "D:\\out");
            EXPECT_EQ(2u, ui.Boxes.size());  // the prompt and the error
        } catch (const Exception&) {
        }
        EXPECT_FALSE(ok);
        EXPECT_EQ(0, m.OpenCount());
    }
}

}  // namespace
}  // namespace oup
