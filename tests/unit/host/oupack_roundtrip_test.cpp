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
#include <functional>
#include <map>
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
    std::vector<std::string> args = {"create", "--force", "-o", pkg, "--title", "Ledger 3.1"};
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
    std::vector<std::string> args = {"create", "--force", "--volume-size", "100000", "-o", pkg};
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
    ASSERT_EQ(0, Oupack({"create", "--force", "-o", pkg, f}).Status);
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
    ASSERT_EQ(0, Oupack({"create", "--force", "-o", pkg, f}).Status);

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

// The bundled example as a package holds it: (stored name, content), in order.
using TFiles = std::vector<std::pair<std::string, std::string>>;

TFiles LedgerFiles() {
    TFiles files;
    const fs::path example = fs::path(OUP_SOURCE_DIR) / "examples" / "ledger";
    std::vector<fs::path> paths;
    for (const auto& e : fs::directory_iterator(example / "package")) paths.push_back(e.path());
    std::sort(paths.begin(), paths.end());
    paths.push_back(example / "languages" / "english.ln_");
    for (const fs::path& p : paths) files.push_back({"d:\\pack\\" + p.filename().string(), ReadAll(p)});
    return files;
}

std::string& FileIn(TFiles& files, const std::string& name) {
    for (auto& [stored, content] : files)
        if (stored == "d:\\pack\\" + name) return content;
    throw std::runtime_error("no " + name);
}

void Drop(TFiles& files, const std::string& name) {
    std::erase_if(files, [&](const auto& f) { return f.first == "d:\\pack\\" + name; });
}

// The script with some lines (1-based) replaced; lines end with CR LF.
std::string WithLines(const std::string& script, const std::map<int, std::string>& changes) {
    std::string out;
    int line = 1;
    for (size_t from = 0; from < script.size(); ++line) {
        size_t end = script.find("\r\n", from);
        end = end == std::string::npos ? script.size() : end + 2;
        const auto change = changes.find(line);
        out += change == changes.end() ? script.substr(from, end - from) : change->second + "\r\n";
        from = end;
    }
    return out;
}

enum class TSource { Package, Volumes, SignedUpdate };

TEST_F(OupackTest, CheckFindsEachMistakeWithItsLineAndStatus) {
    // Each case changes the example in one way and finds exactly what it says.
    const struct {
        const char* What;
        std::map<int, std::string> Script;      // script lines replaced
        std::function<void(TFiles&)> Change;    // other changes to the files
        std::vector<std::string> Findings;      // lines of the output, in order
        std::string Verdict;
        int Status;
        std::vector<std::string> Options = {};
        TSource Source = TSource::Package;
    } cases[] = {
        {"the example", {}, {}, {}, "no findings", 0},
        {"its volumes", {}, {}, {}, "no findings", 0, {}, TSource::Volumes},
        {"signed self-contained update", {}, {}, {}, "no findings", 0, {}, TSource::SignedUpdate},
        {"blank lines after the last entry", {}, [](TFiles& f) { FileIn(f, "oupdate.inf") += "\r\n \r\n"; },
         {}, "no findings", 0},
        {"header date", {{5, "31.02.2006"}}, {},
         {"oupdate.inf:5: error: '31.02.2006' is not a valid date and time"}, "1 error, 0 warnings", 1},
        {"entry dates, each one", {{11, "14.03.2006 25:00"}, {26, "yesterday"}}, {},
         {"oupdate.inf:11: error: '14.03.2006 25:00' is not a valid date and time",
          "oupdate.inf:26: error: 'yesterday' is not a valid date and time"},
         "2 errors, 0 warnings", 1},
        {"source not in the package", {}, [](TFiles& f) { Drop(f, "rates.dat"); },
         {"oupdate.inf:18: error: \"rates.dat\" is not in the package"}, "1 error, 0 warnings", 1},
        {"source in other letter case", {{18, "RATES.DAT"}}, {}, {}, "no findings", 0},
        {"source that is the language file", {{18, "english.ln_"}}, {},
         {"oupdate.inf:18: error: \"english.ln_\" is the language file, which the updater removes",
          "warning: package entry \"rates.dat\" is used by no script entry"},
         "1 error, 1 warning", 1},
        {"source not a plain file name", {{8, "..\\ledger.ex_"}}, {},
         {"oupdate.inf:8: error: \"..\\ledger.ex_\" is not a plain file name",
          "warning: package entry \"ledger.ex_\" is used by no script entry"},
         "1 error, 1 warning", 1},
        {"target not a plain file name", {{9, "NUL.exe"}}, {},
         {"oupdate.inf:9: error: \"NUL.exe\" is not a plain file name"}, "1 error, 0 warnings", 1},
        {"relative target directory", {{22, "data\\"}}, {},
         {"oupdate.inf:22: error: target directory \"data\\\" is not an absolute path"}, "1 error, 0 warnings", 1},
        {"relative after its macro", {{22, "x<installdir>\\data\\"}}, {},
         {"oupdate.inf:22: error: target directory \"x<installdir>\\data\\\" is not an absolute path"},
         "1 error, 0 warnings", 1},
        {"no language file", {}, [](TFiles& f) { Drop(f, "english.ln_"); },
         {": error: no language file (*.ln_) in the package"}, "1 error, 0 warnings", 1},
        {"two language files", {},
         [](TFiles& f) { f.push_back({"norsk.ln_", ReadAll(fs::path(OUP_SOURCE_DIR) / "examples/ledger/languages/norsk.ln_")}); },
         {": error: 2 language files (english.ln_, norsk.ln_)"}, "1 error, 0 warnings", 1},
        {"26 texts", {},
         [](TFiles& f) {
             std::string& texts = FileIn(f, "english.ln_");
             size_t end = 0;
             for (int i = 0; i < 26; ++i) end = texts.find('\n', end) + 1;
             texts.resize(end);
         },
         {"english.ln_: error: has 26 texts"}, "1 error, 0 warnings", 1},
        {"program file empty", {{4, ""}}, {}, {"oupdate.inf:4: error: the program file is empty"}, "1 error, 0 warnings", 1},
        {"program file with a path", {{4, "bin\\ledger.exe"}}, {},
         {"oupdate.inf:4: error: program file \"bin\\ledger.exe\" holds a path"}, "1 error, 0 warnings", 1},
        {"no script", {}, [](TFiles& f) { Drop(f, "oupdate.inf"); },
         {": error: no update script oupdate.inf in the package"}, "1 error, 0 warnings", 1},
        {"entry that names no file", {}, [](TFiles& f) { f.push_back({"d:\\pack\\..", "x"}); },
         {": error: package entry \"d:\\pack\\..\" names no file"}, "1 error, 0 warnings", 1},
        {"mode in other letter case", {{10, "update if older or missing"}}, {},
         {"oupdate.inf:10: warning: mode \"update if older or missing\" is not one of the four mode texts: "
          "the updater installs nothing for the entry (did you mean \"Update if older or missing\"?)"},
         "0 errors, 1 warning", 0},
        {"... and --strict", {{10, "always copy"}}, {}, {"oupdate.inf:10: warning: mode"}, "0 errors, 1 warning", 1,
         {"--strict"}},
        {"unused package entry", {}, [](TFiles& f) { f.push_back({"readme.txt", "x"}); },
         {": warning: package entry \"readme.txt\" is used by no script entry"}, "0 errors, 1 warning", 0},
        {"package entries one file on Windows", {}, [](TFiles& f) { f.push_back({"e:\\RATES.DAT", "x"}); },
         {": warning: package entries \"rates.dat\" and \"RATES.DAT\" are one file on Windows"},
         "0 errors, 1 warning", 0},
        {"targets one file on Windows", {{19, "Ledger.EXE"}, {22, "<installdir>"}}, {},
         {"oupdate.inf:19: warning: target \"<installdir>\\Ledger.EXE\" is on Windows the same file as the "
          "target of line 9"},
         "0 errors, 1 warning", 0},
        {"absolute target without a macro", {{22, "C:\\Ledger\\data\\"}}, {},
         {"oupdate.inf:22: warning: target directory \"C:\\Ledger\\data\\\" holds no macro"}, "0 errors, 1 warning", 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.What);
        TFiles files = LedgerFiles();
        std::string& script = FileIn(files, "oupdate.inf");
        script = WithLines(script, c.Script);
        if (c.Change) c.Change(files);
        const std::string pkg = (dir / "case.oup").string();
        {
            TPackageWriter w(SystemPlatform(), pkg, {"", c.Source == TSource::Volumes ? 700 : 0, 6});
            for (const auto& [name, content] : files) {
                TMemoryStream s(std::vector<uint8_t>(content.begin(), content.end()));
                w.AddEntry(name, 0x325C86FA, s);
            }
            ASSERT_GT(w.Finish().size(), c.Source == TSource::Volumes ? 2u : 0u);
        }
        std::string checked = pkg;
        if (c.Source == TSource::SignedUpdate) {
            // Appended, then signed: alignment and the certificate table follow the package.
            std::string self = ReadAll(pkg);
            self.insert(0, 0xA00, '\x90');
            self.resize((self.size() + 7) / 8 * 8, '\0');
            auto headers = test::PeHeaders({{0x200, 0x800}});
            test::SetCertificateTable(headers, static_cast<uint32_t>(self.size()), 24);
            self.replace(0, headers.size(), std::string(headers.begin(), headers.end()));
            checked = (dir / "case.exe").string();
            WriteAll(checked, self + std::string(24, 'C'));
        }
        std::vector<std::string> args = {"check"};
        args.insert(args.end(), c.Options.begin(), c.Options.end());
        args.push_back(checked);
        const TResult r = Oupack(args);
        EXPECT_EQ(c.Status, r.Status) << r.Out << r.Err;
        EXPECT_EQ("", r.Err);
        // A package file here has no signature: that warning comes last,
        // and counts.
        std::vector<std::string> findings = c.Findings;
        std::string verdict = c.Verdict;
        if (c.Source != TSource::SignedUpdate) {
            findings.push_back(": warning: the package is not signed (no case.oup.sig)");
            const size_t comma = verdict.find(", ");  // none in "no findings"
            const int warnings = comma == std::string::npos ? 1 : std::stoi(verdict.substr(comma + 2)) + 1;
            verdict = (comma == std::string::npos ? std::string("0 errors") : verdict.substr(0, comma)) +
                      ", " + std::to_string(warnings) + (warnings == 1 ? " warning" : " warnings");
        }
        std::istringstream out(r.Out);
        std::string line;
        for (const std::string& finding : findings) {
            std::getline(out, line);
            EXPECT_NE(std::string::npos, line.find(finding)) << r.Out;
        }
        std::getline(out, line);
        EXPECT_EQ(0u, line.rfind(checked + ": " + verdict + " (", 0)) << r.Out;
        EXPECT_FALSE(std::getline(out, line)) << r.Out;
    }
}

TEST_F(OupackTest, CreateChecksWhatItPacksAndRefusesErrorsUnlessForced) {
    const fs::path src = dir / "src";
    fs::create_directories(src);
    for (const auto& [name, content] : LedgerFiles()) WriteAll(src / name.substr(8), content);
    WriteAll(src / "readme.txt", "not installed");
    std::vector<std::string> args = {"create", "-o", (dir / "p.oup").string()};
    for (const auto& e : fs::directory_iterator(src)) args.push_back(e.path().string());
    // A warning: packed, and said.
    const TResult warned = Oupack(args);
    EXPECT_EQ(0, warned.Status) << warned.Err;
    EXPECT_NE(std::string::npos, warned.Err.find("warning: package entry \"readme.txt\"")) << warned.Err;
    EXPECT_EQ(0, Oupack({"check", (dir / "p.oup").string()}).Status);

    // An error: nothing written, unless forced.
    WriteAll(src / "oupdate.inf", WithLines(ReadAll(src / "oupdate.inf"), {{12, "ledger\\"}}));
    args[2] = (dir / "q.oup").string();
    const TResult refused = Oupack(args);
    EXPECT_EQ(1, refused.Status);
    EXPECT_NE(std::string::npos, refused.Err.find("oupack: oupdate.inf:12: error: target directory \"ledger\\\""))
        << refused.Err;
    EXPECT_NE(std::string::npos, refused.Err.find("nothing written (--force packs it anyway)")) << refused.Err;
    EXPECT_FALSE(fs::exists(dir / "q.oup"));
    args.push_back("--force");
    EXPECT_EQ(0, Oupack(args).Status);
    EXPECT_EQ(1, Oupack({"check", (dir / "q.oup").string()}).Status);
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
    ASSERT_EQ(0, Oupack({"create", "--force", "-o", pkg, f}).Status);
    std::string damaged = ReadAll(pkg);
    damaged[damaged.size() - 10] ^= 0x40;  // inside the compressed block
    WriteAll(dir / "damaged.oup", damaged);
    WriteAll(dir / "garbage.oup", "this is no package");
    ASSERT_EQ(0, Oupack({"create", "--force", "--volume-size", "30000", "-o", (dir / "multi.oup").string(), noise}).Status);

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
        // A package whose own name is that of its second volume, and an
        // input that is one of the volumes: each would be overwritten.
        {{"create", "--force", "--volume-size", "30000", "-o", (dir / "v.002").string(), noise}, 1},
        {{"create", "--force", "--volume-size", "30000", "-o", (dir / "multi.oup").string(),
          (dir / "multi.002").string()},
         1},
        {{"list"}, 2},
        {{"list", (dir / "garbage.oup").string()}, 1},
        {{"list", (dir / "nothing").string()}, 1},
        {{"extract", pkg}, 2},
        {{"extract", (dir / "damaged.oup").string(), (dir / "out").string()}, 1},
        {{"extract", (dir / "garbage.oup").string(), (dir / "out").string()}, 1},
        {{"append", f, pkg, "-o", (dir / "o.exe").string()}, 1},  // no executable
        {{"append", f, pkg}, 2},
        {{"check"}, 2},
        {{"check", "--bogus", pkg}, 2},
        {{"check", (dir / "garbage.oup").string()}, 1},
        {{"check", (dir / "damaged.oup").string()}, 1},
    };
    for (const auto& c : cases) {
        std::string line;
        for (const auto& a : c.Args) line += a + " ";
        SCOPED_TRACE(line);
        ExpectOneLineError(Oupack(c.Args), c.Status);
    }
    EXPECT_FALSE(fs::exists(dir / "v.002"));
    // Forced past the check's findings (no script, no language file), it
    // still fails cleanly on its volume size, and removes only what it wrote.
    WriteAll(dir / "small.003", "somebody's");
    const TResult small =
        Oupack({"create", "--force", "-o", (dir / "small.oup").string(), "--volume-size", "5000", noise});
    EXPECT_EQ(1, small.Status);
    EXPECT_NE(std::string::npos, small.Err.find("volume size 5000 is too small")) << small.Err;
    EXPECT_FALSE(fs::exists(dir / "small.oup") || fs::exists(dir / "small.002"));
    EXPECT_TRUE(fs::exists(dir / "small.003"));
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
    EXPECT_NE(std::string::npos, help.Out.find("oupack check [--strict] PACKAGE|EXE"));
}

// oupack sign, and what oupack check says of each package the updater
// refuses or takes, with certificates made here by openssl.
TEST_F(OupackTest, SignWritesASignatureThatCheckReportsVolumeByVolume) {
    // certificate NAME SUBJECT KEY EXTENSIONS...: cert and key, NAME.pem and NAME.key.
    const auto certificate = [&](const std::string& name, const std::string& subject,
                                 const std::string& key, const std::vector<std::string>& extensions) {
        std::string cmd = "openssl req -x509 -newkey " + key + " -nodes -days 2 -subj " +
                          ShellQuote("/CN=" + subject) + " -keyout " + ShellQuote((dir / (name + ".key")).string()) +
                          " -out " + ShellQuote((dir / (name + ".pem")).string());
        for (const std::string& e : extensions) cmd += " -addext " + ShellQuote(e);
        EXPECT_EQ(0, std::system((cmd + " >/dev/null 2>&1").c_str())) << cmd;
    };
    const std::string codeSigning = "extendedKeyUsage=codeSigning";
    certificate("publisher", "Ostrel Publisher", "rsa:2048", {codeSigning, "keyUsage=digitalSignature"});
    certificate("mallory", "Mallory", "rsa:2048", {codeSigning});
    certificate("tls", "Web Server", "rsa:2048", {"extendedKeyUsage=serverAuth"});
    certificate("encipher", "Encipher Only", "rsa:2048", {codeSigning, "keyUsage=keyEncipherment"});
    certificate("ec", "Curve", "ec -pkeyopt ec_paramgen_curve:P-256", {codeSigning});
    const auto sign = [&](const std::string& pkg, const std::string& who, const std::string& key = "") {
        return Oupack({"sign", "--cert", (dir / (who + ".pem")).string(), "--key",
                       (dir / ((key.empty() ? who : key) + ".key")).string(), pkg});
    };
    const std::string pkg = (dir / "case.oup").string();
    const auto pack = [&](int64_t volumeSize, const std::string& exeContent) {
        for (const auto& e : fs::directory_iterator(dir))
            if (e.path().filename().string().rfind("case.", 0) == 0) fs::remove(e.path());
        TFiles files = LedgerFiles();
        FileIn(files, "ledger.ex_") = exeContent;
        TPackageWriter w(SystemPlatform(), pkg, {"", volumeSize, 6});
        for (const auto& [name, content] : files) {
            TMemoryStream s(std::vector<uint8_t>(content.begin(), content.end()));
            w.AddEntry(name, 0x325C86FA, s);
        }
        return w.Finish();
    };

    enum class TChange { None, ByteInSecondVolume, FirstVolumeReplaced, ManifestChanged };
    const struct {
        const char* What;
        int64_t VolumeSize;
        std::string Signer;  // empty: not signed
        TChange Change;
        std::string Line;    // a line of the output
        int Status;
        std::vector<std::string> Options = {};
    } cases[] = {
        {"signed", 0, "publisher", TChange::None,
         "case.oup: signed by CN=Ostrel Publisher; every volume matches", 0},
        {"signed, in volumes", 700, "publisher", TChange::None,
         "case.oup: signed by CN=Ostrel Publisher; every volume matches", 0},
        {"a byte changed in a volume", 700, "publisher", TChange::ByteInSecondVolume,
         "case.oup: error: volume case.002 does not match its signature (", 1},
        {"the .oup replaced", 0, "publisher", TChange::FirstVolumeReplaced,
         "case.oup: error: volume case.oup does not match its signature (", 1},
        {"the manifest changed inside the signature", 0, "publisher", TChange::ManifestChanged,
         "case.oup: error: the package's signature does not verify (", 1},
        // The tool has no publisher to compare with: whose it is, it says.
        {"another certificate", 0, "mallory", TChange::None,
         "case.oup: signed by CN=Mallory; every volume matches", 0},
        {"no signature", 0, "", TChange::None,
         "case.oup: warning: the package is not signed (no case.oup.sig): a signed oupdate.exe refuses it", 0},
        {"no signature, --strict", 0, "", TChange::None, "case.oup: warning: the package is not signed", 1,
         {"--strict"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.What);
        const std::vector<std::string> volumes = pack(c.VolumeSize, "new ledger");
        if (!c.Signer.empty()) {
            const TResult s = sign(pkg, c.Signer);
            EXPECT_EQ(0, s.Status) << s.Err;
            EXPECT_EQ(0u, s.Out.rfind(pkg + ".sig: signed by CN=", 0)) << s.Out;
        }
        if (c.Change == TChange::ByteInSecondVolume) {
            std::string bytes = ReadAll(volumes.at(1));
            bytes.back() ^= 1;
            WriteAll(volumes.at(1), bytes);
        } else if (c.Change == TChange::FirstVolumeReplaced) {
            const std::string sig = ReadAll(pkg + ".sig");
            pack(0, "somebody else's ledger");
            WriteAll(pkg + ".sig", sig);
        } else if (c.Change == TChange::ManifestChanged) {
            std::string sig = ReadAll(pkg + ".sig");
            sig[sig.find("volume ") + 7] ^= 1;  // the size's first digit
            WriteAll(pkg + ".sig", sig);
        }
        std::vector<std::string> args = {"check"};
        args.insert(args.end(), c.Options.begin(), c.Options.end());
        args.push_back(pkg);
        const TResult r = Oupack(args);
        EXPECT_EQ(c.Status, r.Status) << r.Out << r.Err;
        EXPECT_NE(std::string::npos, r.Out.find(dir.string() + "/" + c.Line)) << r.Out;
    }

    // What oupack sign refuses, before it writes anything.
    pack(0, "new ledger");
    const struct {
        std::string Cert, Key, Error;
    } refusals[] = {
        {"tls", "tls", "\"" + (dir / "tls.pem").string() + "\" is no code-signing certificate"},
        {"encipher", "encipher", "may not sign: its key usage leaves out digital signatures"},
        {"ec", "ec", "is not an RSA key"},
        {"publisher", "mallory", "\"" + (dir / "mallory.key").string() + "\" is not the key of"},
    };
    for (const auto& r : refusals) {
        SCOPED_TRACE(r.Cert + " with " + r.Key);
        const TResult s = sign(pkg, r.Cert, r.Key);
        ExpectOneLineError(s, 1);
        EXPECT_NE(std::string::npos, s.Err.find(r.Error)) << s.Err;
        EXPECT_FALSE(fs::exists(pkg + ".sig"));
    }
}

}  // namespace
}  // namespace oup
#endif
