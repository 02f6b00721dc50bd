// Signed packages on a fake machine: which separate packages a signed and an
// unsigned updater take, what the log says when one is refused, and that the
// volumes checked are the volumes read. The crypto itself is the platform's
// (OpenSSL in the oupack tests, crypt32 under Wine end to end).
#include <gtest/gtest.h>

#include <algorithm>

#include "package/PackageSignature.h"
#include "package/PackageWriter.h"
#include "package/backup.h"
#include "support/FakeWizard.h"
#include "support/PackageKit.h"

namespace oup::test {
namespace {

const char* kPackage = "C:\\pkg\\ledger.oup";
const char* kLog = "C:\\update.log";
const char* kInstalled = "C:\\Apps\\Ledger\\ledger.exe";
const TSignerIdentity kPublisher{"CN=Ostrel Software, C=NO", "1.2.840.113549.1.1.1", {1, 2, 3, 4}};
const TSignerIdentity kStranger{"CN=Mallory", "1.2.840.113549.1.1.1", {9, 9, 9, 9}};

// Ledger's package, split into volumes of at most volumeSize bytes; returns
// the volumes' paths.
std::vector<std::string> WriteLedger(TFakeMachine& m, int64_t volumeSize,
                                     const std::string& exe = "new ledger") {
    TPackageWriterOptions options;
    options.VolumeSize = volumeSize;
    m.AddDir("C:\\pkg");
    TPackageWriter writer(m, kPackage, options);
    const auto add = [&](const std::string& name, const std::vector<std::string>& lines) {
        std::string text;
        for (const std::string& l : lines) text += l + "\r\n";
        TMemoryStream content(std::vector<uint8_t>(text.begin(), text.end()));
        writer.AddEntry("d:\\pack\\" + name, TFakeMachine::kDefaultTime, content);
    };
    add("oupdate.inf", StandardScript());
    add("english.ln_", StandardLanguage());
    add("file0.dat", {exe, NoiseBytes(3000, 7)});
    return writer.Finish();
}

// A signature file over the volumes as they are now, as oupack sign makes
// one on this machine.
void Sign(TFakeMachine& m, const std::vector<std::string>& volumes, const TSignerIdentity& signer,
          bool signatureHolds = true) {
    TPackageManifest manifest{"Ledger 3", "3.1.0", {}};
    for (const std::string& path : volumes) {
        TManifestVolume& v = manifest.Volumes.emplace_back();
        v.Name = ExtractFileName(path);
        m.Sha256(*m.OpenFile(path, TOpenMode::ReadShared), v.Digest, v.Size);
    }
    const auto sig = TFakeMachine::FakeSignedData(WriteManifest(manifest), signer, signatureHolds);
    m.AddFile(SignatureFilePath(kPackage), std::string(sig.begin(), sig.end()));
}

// Makes the fake wizard's C:\oupdate.exe carry a certificate table: an
// X.509 entry, then an Authenticode signature by signer, or, with no signer,
// bytes that are none.
void SignProgram(TFakeMachine& m, const TSignerIdentity* signer) {
    std::vector<uint8_t> entry = {16, 0, 0, 0, 0x00, 0x02, 0x01, 0x00, 'x', '5', '0', '9', 0, 0, 0, 0,
                                  0, 0, 0, 0, 0x00, 0x02, 0x02, 0x00};
    const auto signedData =
        signer ? TFakeMachine::FakeSignedData("indirect data", *signer) : std::vector<uint8_t>(40, 7);
    entry.insert(entry.end(), signedData.begin(), signedData.end());
    for (int i = 0; i < 4; ++i) entry[16 + i] = static_cast<uint8_t>((entry.size() - 16) >> (8 * i));
    entry.resize((entry.size() + 7) & ~size_t(7), 0);
    SetCertificateTable(m.ModuleHeaders, 0x600, static_cast<uint32_t>(entry.size()));
    std::string image = m.Content(m.ModuleFile).substr(0, 0x600);
    std::copy(m.ModuleHeaders.begin(), m.ModuleHeaders.end(), image.begin());
    m.AddFile(m.ModuleFile, image + std::string(entry.begin(), entry.end()));
}

enum class TProgram { Unsigned, Signed, SignedUnreadably };
enum class TSig { None, Publisher, Stranger, Broken };
enum class TChange { None, ByteInLastVolume, FirstVolumeReplaced };

struct TCase {
    const char* Name;
    TProgram Program;
    TSig Sig;
    int64_t VolumeSize;  // 0: one volume
    TChange Change;
    int ExitCode;
    std::string LogLine;  // a line of the log holds this
};

TEST(SignedPackages, ASignedUpdaterTakesOnlyItsPublishersPackagesAnUnsignedOneChecksIntegrity) {
    const std::string refused = "Error: The update package \"C:\\pkg\\ledger.oup\" was refused: ";
    const TCase cases[] = {
        {"publisher's package", TProgram::Signed, TSig::Publisher, 0, TChange::None, ecSuccess,
         "Package signed by CN=Ostrel Software, C=NO for Ledger 3 3.1.0: 1 volume, every volume "
         "matches"},
        {"publisher's package in volumes", TProgram::Signed, TSig::Publisher, 3500, TChange::None,
         ecSuccess, "every volume matches"},
        {"a byte changed in a volume", TProgram::Signed, TSig::Publisher, 3500,
         TChange::ByteInLastVolume, ecNoPackage, refused + "volume ledger.002 does not match its"},
        {"first volume replaced", TProgram::Signed, TSig::Publisher, 0, TChange::FirstVolumeReplaced,
         ecNoPackage, refused + "volume ledger.oup does not match its signature."},
        {"a stranger's signature", TProgram::Signed, TSig::Stranger, 0, TChange::None, ecNoPackage,
         refused + "the package was signed by CN=Mallory, not by the publisher of this program."},
        {"no signature", TProgram::Signed, TSig::None, 0, TChange::None, ecNoPackage,
         refused + "the package is not signed."},
        {"a signature that does not hold", TProgram::Signed, TSig::Broken, 0, TChange::None,
         ecNoPackage, refused + "the package's signature does not verify."},
        {"own signature unreadable", TProgram::SignedUnreadably, TSig::Publisher, 0, TChange::None,
         ecNoPackage, refused + "the signature of this program cannot be read."},
        {"unsigned program, unsigned package", TProgram::Unsigned, TSig::None, 0, TChange::None,
         ecSuccess, "The package is not signed: no signature file C:\\pkg\\ledger.oup.sig"},
        {"unsigned program, a stranger's package", TProgram::Unsigned, TSig::Stranger, 3500,
         TChange::None, ecSuccess, kIntegrityOnlyLogText},
        {"unsigned program, a changed volume", TProgram::Unsigned, TSig::Stranger, 3500,
         TChange::ByteInLastVolume, ecNoPackage, refused + "volume ledger.002 does not match"},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Name);
        TFakeWizard w;
        TFakeMachine& m = w.Machine;
        m.AddFile(kInstalled, "old ledger");
        if (c.Program != TProgram::Unsigned)
            SignProgram(m, c.Program == TProgram::Signed ? &kPublisher : nullptr);
        const std::vector<std::string> volumes = WriteLedger(m, c.VolumeSize);
        ASSERT_EQ(c.VolumeSize ? 2u : 1u, volumes.size());
        if (c.Sig != TSig::None)
            Sign(m, volumes, c.Sig == TSig::Stranger ? kStranger : kPublisher, c.Sig != TSig::Broken);
        if (c.Change == TChange::ByteInLastVolume) {
            std::string bytes = m.Content(volumes.back());
            bytes[bytes.size() / 2] ^= 1;
            m.AddFile(volumes.back(), bytes);
        } else if (c.Change == TChange::FirstVolumeReplaced) {
            WriteLedger(m, 0, "evil ledger");
        }

        // The wizard: the reason in a message box, and the window closes.
        w.Args = {"C:\\oupdate.exe", kPackage};
        w.Create().FormShow();
        if (c.ExitCode == ecSuccess) {
            EXPECT_EQ(1, w.Update().Page);
            EXPECT_TRUE(w.Services.Messages.empty());
            w.Update().FormClose();
        } else {
            ASSERT_EQ(1u, w.Services.Messages.size());
            EXPECT_EQ(c.LogLine.substr(7), w.Services.Messages[0].Text.substr(0, c.LogLine.size() - 7));
            EXPECT_EQ(1, w.Services.Closes);
        }

        const int status =
            RunUnattended(m, ParseCommandLine({"C:\\oupdate.exe", "/S", kPackage,
                                               std::string("/LOG=") + kLog, "/REPORT=C:\\r.json"}));
        EXPECT_EQ(c.ExitCode, status);
        // The run report names the package's signature as the check found it.
        const char* state = c.ExitCode != ecSuccess          ? "null"
                            : c.Sig == TSig::None             ? "\"unsigned\""
                            : c.Program == TProgram::Unsigned ? "\"integrity-only\""
                                                              : "\"signed\"";
        EXPECT_NE(std::string::npos,
                  m.Content("C:\\r.json").find(std::string("\"signature\": ") + state));
        const std::string log = m.Content(kLog);
        EXPECT_NE(std::string::npos, log.find(c.LogLine)) << log;
        EXPECT_EQ(c.ExitCode == ecSuccess ? "new ledger\r\n" : "old ledger",
                  m.Content(kInstalled).substr(0, c.ExitCode == ecSuccess ? 12 : 10));
        EXPECT_EQ(0, m.OpenCount());  // every volume let go
    }
}

TEST(SignedPackages, TheVolumesCheckedAreTheVolumesReadAndStayUnchangeableMeanwhile) {
    TFakeMachine m;
    m.AddDrive('C');
    const std::vector<std::string> volumes = WriteLedger(m, 3500);
    Sign(m, volumes, kPublisher);
    m.AddFile("C:\\pkg\\other.oup", "someone else's bytes");
    std::vector<std::string> log;
    {
        const TPackageSignatureCheck check = CheckPackageSignature(
            m, kPackage, &kPublisher, [&](const std::string& line) { log.push_back(line); });
        ASSERT_TRUE(check.Signed);
        for (const std::string& v : volumes) {
            EXPECT_THROW(m.OpenFile(v, TOpenMode::WriteShared), EFOpenError) << v;
            EXPECT_FALSE(m.DeleteFile(v)) << v;
            EXPECT_FALSE(m.MoveFileReplace("C:\\pkg\\other.oup", v)) << v;
            EXPECT_FALSE(m.MoveFileReplace(v, "C:\\pkg\\moved.oup")) << v;
        }
        // The restore reads the open volumes, and only those.
        TSilentUserInterface ui;
        TBackupFile restore(m, ui);
        m.AddDir("C:\\out");
        EXPECT_TRUE(restore.RestoreVolumes(check.OpenVolumes(), "C:\\out\\"));
        EXPECT_EQ("new ledger\r\n", m.Content("C:\\out\\file0.dat").substr(0, 12));
        TOpenVolumes firstOnly;
        firstOnly.Add(1, *check.Volumes.front().File);
        int32_t error = 0;
        restore.OnError = [&](TBackupFile&, int32_t code, const std::string&) { error = code; };
        EXPECT_FALSE(restore.RestoreVolumes(firstOnly, "C:\\out\\"));
        EXPECT_EQ(kErrPackage, error);
    }
    EXPECT_TRUE(m.DeleteFile(volumes.back()));  // let go with the check
}

// A manifest that does not read names its line and its fault.
TEST(PackageManifest, ReadsWhatItWroteAndRefusesAnythingElseByLine) {
    TPackageManifest m{"Ledger 3", "3.1.0", {{"ledger.oup", 70123, {}}, {"ledger.002", 0, {}}}};
    m.Volumes[0].Digest[0] = 0xAB;
    m.Volumes[1].Digest[31] = 0x01;
    const std::string text = WriteManifest(m);
    const TPackageManifest back = ReadManifest(text);
    EXPECT_EQ(text, WriteManifest(back));
    EXPECT_EQ(2, ManifestVolumeNumber(back, 1));

    const std::string head = "oupdate-package-manifest 1\nprogram Ledger 3\nversion 3.1.0\n";
    const std::string digest(64, 'a');
    const std::string volume = "volume 10 " + digest + " ledger.oup\n";
    const std::pair<std::string, std::string> bad[] = {
        {"", "line 1: the manifest does not end"},
        {"oupdate-package-manifest 2\n", "line 1: not an oupdate package manifest"},
        {head, "line 4: no volume"},
        {head + "volume 010 " + digest + " ledger.oup\n", "line 4: volume size with a leading zero"},
        {head + "volume 1234567890123456789 " + digest + " a\n", "line 4: no volume size"},
        {head + "volume 10 " + std::string(63, 'a') + " ledger.oup\n", "line 4: no SHA-256"},
        {head + "volume 10 " + digest + " \n", "line 4: empty volume name"},
        {head + "volume 10 " + digest + " ..\\win.ini\n", "is no plain file name"},
        {head + volume + "volume 10 " + digest + " ledger.oup\n", "line 5: volume name \"ledger.oup\" does not end in .002"},
        {head + volume + "volume 1 " + digest + " l.002\nvolume 1 " + digest + " l.002\n",
         "line 6: volume l.002 named twice"},
        {head + volume + "\n", "line 5: a line that is no volume"},
        {"oupdate-package-manifest 1\nprogram A\rB\nversion 1\n" + volume, "line 2: program name holds a control"},
        {"oupdate-package-manifest 1\nversion 1\n" + volume, "line 2: no program name"},
        {head + std::string(70000, 'x') + "\n", "longer than 64 KiB"},
    };
    for (const auto& [input, error] : bad) {
        SCOPED_TRACE(input.substr(0, 120));
        try {
            ReadManifest(input);
            ADD_FAILURE() << "read";
        } catch (const EManifestError& e) {
            EXPECT_NE(std::string::npos, std::string(e.what()).find(error)) << e.what();
        }
    }
}

}  // namespace
}  // namespace oup::test
