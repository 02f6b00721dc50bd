// oupack as a user runs it: create, list, append and extract on real files,
// and a clear one-line error with a non-zero status for every bad input.
#ifdef OUP_OUPACK
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "package/PackageWriter.h"
#include "platform/Platform.h"
#include "support/PackageKit.h"

namespace oup {
namespace {

namespace fs = std::filesystem;
using test::NoiseBytes;
using test::TextBytes;

struct TResult {
    int Status;
    std::string Out, Err;
};

std::string ReadAll(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

void WriteAll(const fs::path& p, const std::string& bytes) {
    std::ofstream(p, std::ios::binary) << bytes;
}

std::string ShellQuote(const std::string& s) {
    std::string out = "'";
    for (char c : s) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return out + "'";
}

class OupackTest : public ::testing::Test {
protected:
    OupackTest() {
        char tmpl[] = "/tmp/oupack-test-XXXXXX";
        dir = mkdtemp(tmpl);
    }
    ~OupackTest() override { fs::remove_all(dir); }

    TResult Oupack(const std::vector<std::string>& args) {
        std::string cmd = ShellQuote(OUP_OUPACK);
        for (const std::string& a : args) cmd += " " + ShellQuote(a);
        const fs::path out = dir / "stdout.txt", err = dir / "stderr.txt";
        cmd += " >" + ShellQuote(out.string()) + " 2>" + ShellQuote(err.string());
        const int raw = std::system(cmd.c_str());
        TResult r{WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, ReadAll(out), ReadAll(err)};
        fs::remove(out);
        fs::remove(err);
        return r;
    }
    // Writes a file with a last-write time in whole, even seconds.
    std::string MakeFile(const std::string& name, const std::string& content, time_t mtime) {
        const fs::path p = dir / "src" / name;
        fs::create_directories(p.parent_path());
        WriteAll(p, content);
        struct timeval tv[2] = {{mtime, 0}, {mtime, 0}};
        utimes(p.c_str(), tv);
        return p.string();
    }
    void ExpectSameFile(const std::string& original, const fs::path& restored) {
        ASSERT_TRUE(fs::exists(restored)) << restored;
        EXPECT_TRUE(ReadAll(original) == ReadAll(restored)) << restored;
        struct stat a, b;
        ASSERT_EQ(0, stat(original.c_str(), &a));
        ASSERT_EQ(0, stat(restored.c_str(), &b));
        EXPECT_EQ(a.st_mtime, b.st_mtime) << restored;
    }
    void ExpectOneLineError(const TResult& r, int status) {
        EXPECT_EQ(status, r.Status) << r.Err;
        EXPECT_EQ(0u, r.Err.rfind("oupack: ", 0)) << r.Err;
        EXPECT_EQ(1, std::count(r.Err.begin(), r.Err.end(), '\n')) << r.Err;
    }

    fs::path dir;
};

const time_t kTime = 1109606152;  // 28.02.2005, an even second

TEST_F(OupackTest, RoundTripOfEdgeSizesIncompressibleAndLargeFiles) {
    const std::vector<std::string> files = {
        MakeFile("empty.txt", "", kTime),
        MakeFile("exact.bin", TextBytes(16384, 1), kTime + 2),
        MakeFile("one-more.bin", TextBytes(16385, 2), kTime + 4),
        MakeFile("noise.bin", NoiseBytes(50000, 3), kTime + 6),
        MakeFile("sub/large.dat", TextBytes(3 << 20, 4) + NoiseBytes(1 << 20, 5), kTime + 8),
    };
    const std::string pkg = (dir / "update.oup").string();
    std::vector<std::string> args = {"create", "-o", pkg, "--title", "Ledger 3.1"};
    args.insert(args.end(), files.begin(), files.end());
    const TResult c = Oupack(args);
    ASSERT_EQ(0, c.Status) << c.Err;

    const TResult l = Oupack({"list", pkg});
    ASSERT_EQ(0, l.Status) << l.Err;
    EXPECT_NE(std::string::npos, l.Out.find("Title: Ledger 3.1"));
    EXPECT_NE(std::string::npos, l.Out.find("16385  2 "));             // two blocks
    EXPECT_NE(std::string::npos, l.Out.find("50000  4 (3 stored)"));   // incompressible chunks kept as they are
    EXPECT_NE(std::string::npos, l.Out.find("28.02.2005"));

    const TResult x = Oupack({"extract", pkg, (dir / "out").string()});
    ASSERT_EQ(0, x.Status) << x.Err;
    for (const std::string& f : files) ExpectSameFile(f, dir / "out" / fs::path(f).filename());
}

TEST_F(OupackTest, MultiVolumeRoundTrip) {
    const std::vector<std::string> files = {
        MakeFile("a.dat", TextBytes(600000, 6) + NoiseBytes(200000, 7), kTime),
        MakeFile("b.txt", "", kTime + 10),
        MakeFile("c.bin", NoiseBytes(70000, 8), kTime + 20),
    };
    const std::string pkg = (dir / "update.oup").string();
    std::vector<std::string> args = {"create", "--volume-size", "100000", "-o", pkg};
    args.insert(args.end(), files.begin(), files.end());
    ASSERT_EQ(0, Oupack(args).Status);
    ASSERT_TRUE(fs::exists(dir / "update.002"));
    int volumes = 0;
    for (const auto& e : fs::directory_iterator(dir))
        if (e.path().stem() == "update") {
            ++volumes;
            EXPECT_LE(fs::file_size(e.path()), 100000u) << e.path();
        }
    EXPECT_GE(volumes, 4);
    const TResult x = Oupack({"extract", pkg, (dir / "out").string()});
    ASSERT_EQ(0, x.Status) << x.Err;
    for (const std::string& f : files) ExpectSameFile(f, dir / "out" / fs::path(f).filename());

    // A missing volume is named.
    fs::remove(dir / "update.003");
    const TResult missing = Oupack({"extract", pkg, (dir / "out2").string()});
    ExpectOneLineError(missing, 1);
    EXPECT_NE(std::string::npos, missing.Err.find("update.003"));
}

TEST_F(OupackTest, ExtractsFileListEntriesAndEmptyRecordsWrittenByHand) {
    const std::string pkg = (dir / "odd.oup").string();
    {
        TPackageWriter w(SystemPlatform(), pkg, {"odd", 0, 1});
        w.AddEmptyRecord();
        w.AddFileList("a.txt\r\n", 0x325C86FA);
        w.AddEmptyRecord(-99);
        TMemoryStream s(std::vector<uint8_t>{'h', 'i'});
        w.AddEntry("d:\\pack\\a.txt", 0x325C86FA, s);
        w.Finish();
    }
    const TResult l = Oupack({"list", pkg});
    EXPECT_NE(std::string::npos, l.Out.find("2 empty records")) << l.Out;
    EXPECT_NE(std::string::npos, l.Out.find("FILE:LIST"));
    ASSERT_EQ(0, Oupack({"extract", pkg, (dir / "out").string()}).Status);
    EXPECT_EQ("hi", ReadAll(dir / "out" / "a.txt"));
    EXPECT_EQ(1, std::distance(fs::directory_iterator(dir / "out"), fs::directory_iterator()));
    EXPECT_EQ(0x325C86FA, SystemPlatform().FileAge((dir / "out" / "a.txt").string()));
}

TEST_F(OupackTest, AppendListAndExtractASelfContainedUpdate) {
    const auto headers = test::PeHeaders({{0x200, 0x800}});
    std::string exe(headers.begin(), headers.end());
    exe.resize(0xA00, '\x90');
    WriteAll(dir / "updater.exe", exe);
    const std::string f = MakeFile("oupdate.inf", TextBytes(5000, 9), kTime);
    const std::string pkg = (dir / "update.oup").string();
    ASSERT_EQ(0, Oupack({"create", "-o", pkg, f}).Status);
    const std::string self = (dir / "self.exe").string();
    const TResult a = Oupack({"append", (dir / "updater.exe").string(), pkg, "-o", self});
    ASSERT_EQ(0, a.Status) << a.Err;
    EXPECT_EQ(exe + ReadAll(pkg), ReadAll(self));  // the executable's bytes unchanged, then the package

    const TResult l = Oupack({"list", self});
    EXPECT_NE(std::string::npos, l.Out.find("at byte 2560")) << l.Out;
    ASSERT_EQ(0, Oupack({"extract", self, (dir / "out").string()}).Status);
    ExpectSameFile(f, dir / "out" / "oupdate.inf");

    // It already carries one.
    ExpectOneLineError(Oupack({"append", self, pkg, "-o", (dir / "twice.exe").string()}), 1);
    EXPECT_FALSE(fs::exists(dir / "twice.exe"));
    // The plain updater carries none.
    ExpectOneLineError(Oupack({"list", (dir / "updater.exe").string()}), 1);
}

TEST_F(OupackTest, AppendOntoASignedStubDropsTheSignatureAndSignedUpdatesAreRead) {
    // A signed stub: image, certificate table, the checksum that signing set.
    const uint32_t checkSumAt = 0x80 + 24 + 64, entryAt = 0x80 + 24 + 128;
    auto headers = test::PeHeaders({{0x200, 0x800}});
    std::string image(headers.begin(), headers.end());
    image.resize(0xA00, '\x90');
    test::SetCertificateTable(headers, 0xA00, 16);
    std::string stub(headers.begin(), headers.end());
    stub.resize(0xA00, '\x90');
    stub.replace(checkSumAt, 4, "SUM!");
    WriteAll(dir / "signed.exe", stub + std::string(16, 'C'));
    const std::string f = MakeFile("oupdate.inf", TextBytes(5000, 9), kTime);
    const std::string pkg = (dir / "update.oup").string(), self = (dir / "self.exe").string();
    ASSERT_EQ(0, Oupack({"create", "-o", pkg, f}).Status);

    const TResult a = Oupack({"append", (dir / "signed.exe").string(), pkg, "-o", self});
    ASSERT_EQ(0, a.Status) << a.Err;
    EXPECT_NE(std::string::npos, a.Err.find("signature was removed")) << a.Err;
    EXPECT_NE(std::string::npos, a.Err.find("signed again")) << a.Err;
    std::string unsignedStub = stub;
    unsignedStub.replace(checkSumAt, 4, std::string(4, '\0'));
    unsignedStub.replace(entryAt, 8, std::string(8, '\0'));
    EXPECT_TRUE(unsignedStub + ReadAll(pkg) == ReadAll(self));

    // Signed after appending: alignment, then the table, named by the headers.
    std::string signedSelf = ReadAll(self);
    signedSelf.resize((signedSelf.size() + 7) / 8 * 8, '\0');
    const auto put32 = [&](uint32_t at, uint32_t v) {
        for (int i = 0; i < 4; ++i) signedSelf[at + i] = static_cast<char>(v >> (8 * i));
    };
    put32(entryAt, static_cast<uint32_t>(signedSelf.size()));
    put32(entryAt + 4, 24);
    WriteAll(dir / "signed-self.exe", signedSelf + std::string(24, 'C'));
    EXPECT_NE(std::string::npos,
              Oupack({"list", (dir / "signed-self.exe").string()}).Out.find("at byte 2560"));
    ASSERT_EQ(
        0, Oupack({"extract", (dir / "signed-self.exe").string(), (dir / "out").string()}).Status);
    ExpectSameFile(f, dir / "out" / "oupdate.inf");
    // It already carries a package; and the bare stub carries only its signature.
    ExpectOneLineError(
        Oupack({"append", (dir / "signed-self.exe").string(), pkg, "-o", (dir / "2.exe").string()}),
        1);
    const TResult bare = Oupack({"list", (dir / "signed.exe").string()});
    ExpectOneLineError(bare, 1);
    EXPECT_NE(std::string::npos, bare.Err.find("only its signature")) << bare.Err;

    // Changed after signing: every command says so.
    WriteAll(dir / "changed.exe", signedSelf + std::string(24, 'C') + "later");
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"list", (dir / "changed.exe").string()},
          {"append", (dir / "changed.exe").string(), pkg, "-o", (dir / "3.exe").string()}}) {
        const TResult r = Oupack(args);
        ExpectOneLineError(r, 1);
        EXPECT_NE(std::string::npos, r.Err.find("changed after it was signed")) << r.Err;
    }

    const TResult help = Oupack({"append", "--help"});
    EXPECT_EQ(0, help.Status);
    for (const char* text :
         {"append first, then sign", "signtool sign", "/tr http", "osslsigncode sign", "-ts http"})
        EXPECT_NE(std::string::npos, help.Out.find(text)) << text;
}

TEST_F(OupackTest, VolumesThatLeadRoundInACircleEndWithAnError) {
    WriteAll(dir / "loop.oup", test::TPackageBytes().Header(0, 0).Switch("002").Str());
    WriteAll(dir / "loop.002", test::TPackageBytes().Signature().EndData().Switch("002").Str());
    for (const std::vector<std::string>& args : {std::vector<std::string>{"list", (dir / "loop.oup").string()},
                                                 {"extract", (dir / "loop.oup").string(), (dir / "out").string()}}) {
        const TResult r = Oupack(args);
        ExpectOneLineError(r, 1);
        EXPECT_NE(std::string::npos, r.Err.find("comes round again")) << r.Err;
    }
}

TEST_F(OupackTest, EveryBadInputGetsOneLineAndAFailingStatus) {
    const std::string f = MakeFile("a.txt", "abc", kTime);
    const std::string f2 = MakeFile("sub/a.txt", "abc", kTime);
    const std::string noise = MakeFile("noise.bin", NoiseBytes(40000, 1), kTime);
    const std::string pkg = (dir / "p.oup").string();
    ASSERT_EQ(0, Oupack({"create", "-o", pkg, f}).Status);
    std::string damaged = ReadAll(pkg);
    damaged[damaged.size() - 10] ^= 0x40;  // inside the compressed block
    WriteAll(dir / "damaged.oup", damaged);
    WriteAll(dir / "garbage.oup", "this is no package");
    ASSERT_EQ(0, Oupack({"create", "--volume-size", "30000", "-o", (dir / "multi.oup").string(), noise}).Status);

    const struct {
        std::vector<std::string> Args;
        int Status;
    } cases[] = {
        {{}, 2},
        {{"frobnicate"}, 2},
        {{"create", f}, 2},
        {{"create", "-o", pkg}, 2},
        {{"create", "-o", pkg, "--volume-size", "lots", f}, 2},
        {{"create", "-o", pkg, "--bogus", f}, 2},
        {{"create", "-o", (dir / "x.oup").string(), (dir / "nothing").string()}, 1},
        {{"create", "-o", (dir / "x.oup").string(), f, f2}, 1},  // same name twice
        {{"create", "-o", (dir / "small.oup").string(), "--volume-size", "5000", noise}, 1},
        {{"list"}, 2},
        {{"list", (dir / "garbage.oup").string()}, 1},
        {{"list", (dir / "nothing").string()}, 1},
        {{"extract", pkg}, 2},
        {{"extract", (dir / "damaged.oup").string(), (dir / "out").string()}, 1},
        {{"extract", (dir / "garbage.oup").string(), (dir / "out").string()}, 1},
        {{"append", f, pkg, "-o", (dir / "o.exe").string()}, 1},  // no executable
        {{"append", f, pkg}, 2},
    };
    for (const auto& c : cases) {
        std::string line;
        for (const auto& a : c.Args) line += a + " ";
        SCOPED_TRACE(line);
        ExpectOneLineError(Oupack(c.Args), c.Status);
    }
    EXPECT_FALSE(fs::exists(dir / "small.oup"));  // nothing half-written stays
    EXPECT_NE(std::string::npos,
              Oupack({"extract", (dir / "damaged.oup").string(), (dir / "out").string()}).Err.find("Feil i pakke"));

    const auto headers = test::PeHeaders({{0x200, 0x200}});
    WriteAll(dir / "u.exe", std::string(headers.begin(), headers.end()) + std::string(0x400 - headers.size(), '\0'));
    const TResult multi = Oupack({"append", (dir / "u.exe").string(), (dir / "multi.oup").string(), "-o",
                                  (dir / "o.exe").string()});
    ExpectOneLineError(multi, 1);
    EXPECT_NE(std::string::npos, multi.Err.find("multi-volume"));

    const TResult help = Oupack({"--help"});
    EXPECT_EQ(0, help.Status);
    EXPECT_NE(std::string::npos, help.Out.find("oupack append UPDATER.exe PACKAGE -o OUTPUT.exe"));
}

}  // namespace
}  // namespace oup
#endif
