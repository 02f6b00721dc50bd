// The Win32 platform against real files in a fresh temporary directory:
// what a directory search lists, how names match, dates set and read back,
// copies and replacements, files held open by someone else, short reads.
// The test itself prepares and inspects the files through Win32 directly, so
// a fault in the platform cannot hide behind the same fault in the check.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <map>
#include <set>

#include "common/DateTime.h"
#include "common/Errors.h"
#include "common/Text.h"
#include "platform/Platform.h"
#include "platform/win32/AnsiNames.h"
#include "platform/win32/Handle.h"
#include "platform/win32/Listing.h"
#include "platform/win32/WinApi.h"

#include <aclapi.h>
#include <sddl.h>

#include <memory>
#include <thread>

namespace oup {
namespace {

using win32::TFileHandle;
using win32::TFindHandle;

int32_t Dos(const char* text) { return DateTimeToDos(StrToDateTime(text)); }

void RemoveTree(const std::string& dir) {
    WIN32_FIND_DATAA d;
    TFindHandle f(::FindFirstFileA((dir + "\\*").c_str(), &d));
    if (f) {
        do {
            const std::string name = d.cFileName;
            if (name == "." || name == "..") continue;
            const std::string path = dir + "\\" + name;
            ::SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
            if (d.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
                RemoveTree(path);
            else
                ::DeleteFileA(path.c_str());
        } while (::FindNextFileA(f.Get(), &d));
    }
    f.Reset();
    ::RemoveDirectoryA(dir.c_str());
}

class Win32PlatformTest : public ::testing::Test {
protected:
    Win32PlatformTest() : p(SystemPlatform()) {
        static int serial = 0;
        char temp[MAX_PATH];
        ::GetTempPathA(sizeof temp, temp);
        dir = std::string(temp) + "oup-test-" + std::to_string(::GetCurrentProcessId()) + "-" +
              std::to_string(++serial);
        RemoveTree(dir);
        if (!::CreateDirectoryA(dir.c_str(), nullptr)) ADD_FAILURE() << "cannot create " << dir;
    }
    ~Win32PlatformTest() override { RemoveTree(dir); }

    std::string Path(const std::string& name) const { return dir + "\\" + name; }

    void Put(const std::string& name, const std::string& bytes,
             DWORD attributes = FILE_ATTRIBUTE_NORMAL) {
        TFileHandle h(::CreateFileA(Path(name).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                    FILE_ATTRIBUTE_NORMAL, nullptr));
        ASSERT_TRUE(h) << "cannot write " << name;
        DWORD put = 0;
        ASSERT_TRUE(
            ::WriteFile(h.Get(), bytes.data(), static_cast<DWORD>(bytes.size()), &put, nullptr));
        h.Reset();
        ASSERT_TRUE(::SetFileAttributesA(Path(name).c_str(), attributes));
    }

    std::string Get(const std::string& name) const {
        TFileHandle h(::CreateFileA(Path(name).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                    OPEN_EXISTING, 0, nullptr));
        if (!h) return "<missing>";
        std::string out;
        char buf[4096];
        DWORD got = 0;
        while (::ReadFile(h.Get(), buf, sizeof buf, &got, nullptr) && got > 0) out.append(buf, got);
        return out;
    }

    // Holds a file open without sharing, as another program can.
    TFileHandle Lock(const std::string& name) {
        return TFileHandle(::CreateFileA(Path(name).c_str(), GENERIC_READ | GENERIC_WRITE, 0,
                                         nullptr, OPEN_EXISTING, 0, nullptr));
    }

    std::map<std::string, TSearchRec> Search(const std::string& mask) {
        std::map<std::string, TSearchRec> found;
        p.FindFiles(Path(mask), [&](const TSearchRec& r) {
            EXPECT_TRUE(found.emplace(r.Name, r).second) << "listed twice: " << r.Name;
            return true;
        });
        return found;
    }

    TPlatform& p;
    std::string dir;
};

TEST_F(Win32PlatformTest, SearchListsHiddenAndSystemEntriesWithTheirAttributes) {
    Put("Visible.txt", "12345");
    Put("hidden.dat", "", FILE_ATTRIBUTE_HIDDEN);
    Put("boot.sys", "abc", FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_READONLY);
    ASSERT_TRUE(::CreateDirectoryA(Path("Sub").c_str(), nullptr));

    const auto all = Search("*");
    std::set<std::string> names;
    for (const auto& [name, r] : all) names.insert(name);
    EXPECT_EQ((std::set<std::string>{".", "..", "Sub", "Visible.txt", "boot.sys", "hidden.dat"}),
              names);
    ASSERT_EQ(6u, all.size());
    EXPECT_EQ(5, all.at("Visible.txt").Size);
    EXPECT_FALSE(all.at("Visible.txt").Attr & (faHidden | faSysFile | faDirectory));
    EXPECT_TRUE(all.at("hidden.dat").Attr & faHidden);
    EXPECT_EQ(faSysFile | faHidden | faReadOnly,
              all.at("boot.sys").Attr & (faSysFile | faHidden | faReadOnly | faDirectory));
    EXPECT_TRUE(all.at("Sub").Attr & faDirectory);
    EXPECT_NE(0, all.at("Visible.txt").Time);  // a file written now has a DOS time

    // The callback stops the search; nothing found calls nothing and says so.
    int calls = 0;
    EXPECT_TRUE(p.FindFiles(Path("*"), [&](const TSearchRec&) { return ++calls < 2; }));
    EXPECT_EQ(2, calls);
    EXPECT_FALSE(p.FindFiles(Path("*.none"), [&](const TSearchRec&) { return ++calls, true; }));
    EXPECT_FALSE(p.FindFiles(Path("Missing\\*"), [&](const TSearchRec&) { return ++calls, true; }));
    EXPECT_EQ(2, calls);

    EXPECT_TRUE(p.FileExists(Path("boot.sys")));
    EXPECT_FALSE(p.FileExists(Path("Sub")));
    EXPECT_TRUE(p.DirectoryExists(Path("Sub")));
    EXPECT_EQ(3, p.QueryFileSize(Path("BOOT.SYS")));
    EXPECT_EQ(-1, p.QueryFileSize(Path("Sub")));
    EXPECT_EQ(-1, p.QueryFileSize(Path("nothing")));
    EXPECT_EQ(kInvalidAttributes, p.GetAttributes(Path("nothing")));
}

TEST_F(Win32PlatformTest, ListingGivesNamesAndAttributesAndAFormThatReachesEachDirectory) {
    Put("Visible.txt", "12345");
    Put("hidden.dat", "", FILE_ATTRIBUTE_HIDDEN);
    ASSERT_TRUE(::CreateDirectoryA(Path("Sub").c_str(), nullptr));
    // Cyrillic: no byte of it in Windows-1252.
    const std::wstring packet = win32::Widen(dir) + L"\\\u041F\u0430\u043A\u0435\u0442";
    ASSERT_TRUE(::CreateDirectoryW(packet.c_str(), nullptr));

    std::vector<TDirEntry> entries;
    ASSERT_TRUE(p.ListDirectory(dir, [&](const TDirEntry& e) { entries.push_back(e); }));
    std::map<std::string, TDirEntry> byName;
    for (const TDirEntry& e : entries) EXPECT_TRUE(byName.emplace(e.Name, e).second) << e.Name;
    ASSERT_EQ(6u, byName.size());
    EXPECT_TRUE(byName.at("Sub").Attr & faDirectory);
    EXPECT_TRUE(byName.at("hidden.dat").Attr & faHidden);
    EXPECT_FALSE(byName.at("Visible.txt").Attr & (faDirectory | faHidden));
    EXPECT_TRUE(byName.count(".") && byName.count(".."));
    for (const auto& [name, e] : byName) {
        if (name == "." || name == ".." || name == "Sub" || name == "hidden.dat" || name == "Visible.txt")
            continue;
        // Its short name, where 8.3 names are on (Wine makes them); else it
        // says it cannot be reached.
        EXPECT_TRUE(e.Attr & faDirectory);
        EXPECT_TRUE(e.Unrepresentable || p.DirectoryExists(Path(name))) << name;
    }
    ::RemoveDirectoryW(packet.c_str());
    EXPECT_FALSE(
        p.ListDirectory(Path("Missing"), [&](const TDirEntry& e) { entries.push_back(e); }));
}

// FindFirstFileExW as a system or a redirector that refuses it answers.
DWORD gRefusal = 0;
int gExCalls = 0;
HANDLE WINAPI RefusingFindEx(LPCWSTR, FINDEX_INFO_LEVELS, LPVOID, FINDEX_SEARCH_OPS, LPVOID,
                             DWORD) {
    ++gExCalls;
    ::SetLastError(gRefusal);
    return INVALID_HANDLE_VALUE;
}

TEST_F(Win32PlatformTest, ARefusedListingIsTriedPlainAndOnlyAnUnknownLevelMakesThatLasting) {
    Put("a.txt", "1");
    const std::wstring here = win32::Widen(dir) + L"\\*.*";
    const std::wstring missing = win32::Widen(Path("Missing")) + L"\\*.*";
    const struct {
        DWORD refusal;
        const std::wstring& pattern;
        bool opens, plainAfter;
    } cases[] = {
        {ERROR_INVALID_PARAMETER, here, true, true},       // Windows before 7
        {ERROR_NOT_SUPPORTED, here, true, false},          // a redirector refusing the level
        {ERROR_INVALID_PARAMETER, missing, false, false},  // the plain call fails too
        {ERROR_ACCESS_DENIED, here, false, false},         // the plain call would say the same
        {ERROR_PATH_NOT_FOUND, here, false, false},
    };
    WIN32_FIND_DATAW data;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.refusal);
        std::atomic<bool> plain{false};
        gRefusal = c.refusal;
        EXPECT_EQ(c.opens, win32::OpenListing(c.pattern, data, plain, RefusingFindEx).IsValid());
        EXPECT_EQ(c.plainAfter, plain.load());
    }
    std::atomic<bool> plain{true};
    gExCalls = 0;
    EXPECT_TRUE(win32::OpenListing(here, data, plain, RefusingFindEx).IsValid());
    EXPECT_EQ(0, gExCalls);
}

// Wine keeps a directory's rights as Unix mode bits, so only who is let in
// at all can be seen here: the system and this account, but no one else
// (a plain directory under Wine admits Everyone to read).
TEST_F(Win32PlatformTest, APrivateDirectoryAdmitsNoOtherUsers) {
    ASSERT_TRUE(p.CreatePrivateDir(Path("work")));
    EXPECT_FALSE(p.CreatePrivateDir(Path("work")));  // a name taken is no claim
    PACL dacl = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    ASSERT_EQ(ERROR_SUCCESS,
              ::GetNamedSecurityInfoA(Path("work").c_str(), SE_FILE_OBJECT,
                                      DACL_SECURITY_INFORMATION, nullptr, nullptr, &dacl,
                                      nullptr, &descriptor));
    const std::unique_ptr<void, decltype(&::LocalFree)> owned(descriptor, &::LocalFree);
    ASSERT_NE(nullptr, dacl);
    std::set<std::string> admitted;
    for (DWORD i = 0; i < dacl->AceCount; ++i) {
        void* ace = nullptr;
        ASSERT_TRUE(::GetAce(dacl, i, &ace));
        char* sid = nullptr;
        ASSERT_TRUE(::ConvertSidToStringSidA(&static_cast<ACCESS_ALLOWED_ACE*>(ace)->SidStart, &sid));
        admitted.insert(sid);
        ::LocalFree(sid);
    }
    EXPECT_TRUE(admitted.count("S-1-5-18"));
    // Everyone, Authenticated Users, Users.
    for (const char* other : {"S-1-1-0", "S-1-5-11", "S-1-5-32-545"}) EXPECT_FALSE(admitted.count(other)) << other;
    // And this account works in it as in any other.
    p.OpenFile(Path("work\\a.bin"), TOpenMode::Create)->WriteBuffer("x", 1);
    EXPECT_TRUE(p.DeleteFile(Path("work\\a.bin")));
    EXPECT_TRUE(p.RemoveDir(Path("work")));
}

TEST_F(Win32PlatformTest, WildcardsMatchAsThePortableMatcherDoes) {
    // The fake machine and the search rely on MatchesMask; it must agree with
    // what the system itself finds.
    const std::vector<std::string> files = {"Ledger.exe", "ledger.EXE.bak", "LEDGER",
                                            "a.b.c",      "readme.txt",     "read.me",
                                            "x",          "ledgerX.exe"};
    for (const auto& f : files) Put(f, f);
    const std::vector<std::string> masks = {"*",        "*.*",        "ledger.exe",  "LEDGER.EXE",
                                            "led?er.*", "Ledger.*",   "*.exe",       "*.EXE*",
                                            "?",        "??????.???", "read*",       "*.?",
                                            "a.*.c",    "*er*",       "ledger?.exe", "nomatch*"};
    for (const auto& mask : masks) {
        std::set<std::string> fromSystem;
        for (const auto& [name, r] : Search(mask))
            if (name != "." && name != "..") fromSystem.insert(name);
        std::set<std::string> fromMatcher;
        for (const auto& f : files)
            if (MatchesMask(f, mask)) fromMatcher.insert(f);
        EXPECT_EQ(fromMatcher, fromSystem) << "mask " << mask;
    }
    // Letter case is ignored, and the name comes back as it was created.
    const auto hit = Search("LEDGER.EXE");
    ASSERT_EQ(1u, hit.size());
    EXPECT_EQ("Ledger.exe", hit.begin()->first);
}

TEST_F(Win32PlatformTest, LastWriteTimesSetAndReadBackInDosForm) {
    const int32_t stamp = Dos("28.02.2005 16:55:44");
    const int32_t summer = Dos("15.07.2010 09:30:02");
    {
        // Written and dated through one handle, as a restore does.
        auto out = p.OpenFile(Path("dated.bin"), TOpenMode::Create);
        out->WriteBuffer("payload", 7);
        EXPECT_TRUE(out->SetLastWriteDos(stamp));
    }
    EXPECT_EQ(stamp, p.FileAge(Path("dated.bin")));
    EXPECT_EQ(stamp, Search("dated.bin").at("dated.bin").Time);

    // Dating an existing file leaves its content and its other times alone.
    // (The access time, since Wine cannot keep a creation time on Linux.)
    const FILETIME accessed{0x12345600, 0x01C00000};  // in 2001
    FILETIME accessedAfter{};
    {
        TFileHandle h(::CreateFileA(Path("dated.bin").c_str(), FILE_WRITE_ATTRIBUTES, 0, nullptr,
                                    OPEN_EXISTING, 0, nullptr));
        ASSERT_TRUE(h);
        ASSERT_TRUE(::SetFileTime(h.Get(), nullptr, &accessed, nullptr));
    }
    EXPECT_TRUE(p.OpenFile(Path("dated.bin"), TOpenMode::WriteShared)->SetLastWriteDos(summer));
    {
        TFileHandle h(::CreateFileA(Path("dated.bin").c_str(), FILE_READ_ATTRIBUTES,
                                    FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
        ASSERT_TRUE(h);
        ASSERT_TRUE(::GetFileTime(h.Get(), nullptr, &accessedAfter, nullptr));
    }
    // Seconds are enough: the file system may round below that.
    const auto seconds = [](const FILETIME& t) {
        return ((static_cast<uint64_t>(t.dwHighDateTime) << 32) | t.dwLowDateTime) / 10000000;
    };
    EXPECT_EQ(seconds(accessed), seconds(accessedAfter));
    EXPECT_EQ(summer, p.FileAge(Path("dated.bin")));
    EXPECT_EQ("payload", Get("dated.bin"));

    // Values that name no time are refused and change nothing.
    auto f = p.OpenFile(Path("dated.bin"), TOpenMode::WriteShared);
    EXPECT_FALSE(f->SetLastWriteDos(0));
    EXPECT_FALSE(f->SetLastWriteDos(static_cast<int32_t>(0x325D0000u)));  // 29.02.2005
    f.reset();
    EXPECT_EQ(summer, p.FileAge(Path("dated.bin")));

    // A directory has no file age; a missing file neither.
    ASSERT_TRUE(p.CreateDir(Path("d")));
    EXPECT_EQ(-1, p.FileAge(Path("d")));
    EXPECT_EQ(-1, p.FileAge(Path("none")));
}

TEST_F(Win32PlatformTest, CopyOverwritesUnlessToldNotTo) {
    Put("new.dll", "new contents");
    Put("old.dll", "old");
    EXPECT_FALSE(p.CopyFile(Path("new.dll"), Path("old.dll"), true));
    EXPECT_EQ("old", Get("old.dll"));
    EXPECT_TRUE(p.CopyFile(Path("new.dll"), Path("old.dll"), false));
    EXPECT_EQ("new contents", Get("old.dll"));
    EXPECT_EQ("new contents", Get("new.dll"));
    EXPECT_TRUE(p.CopyFile(Path("new.dll"), Path("fresh.dll"), true));
    EXPECT_EQ("new contents", Get("fresh.dll"));
    EXPECT_FALSE(p.CopyFile(Path("absent.dll"), Path("old.dll"), false));
    EXPECT_FALSE(p.CopyFile(Path("new.dll"), Path("nodir\\x.dll"), false));
    EXPECT_EQ("new contents", Get("old.dll"));
}

TEST_F(Win32PlatformTest, ReplaceInOneStep) {
    Put("out.tmp", "rewritten");
    Put("out.oup", "original");
    EXPECT_TRUE(p.MoveFileReplace(Path("out.tmp"), Path("out.oup")));
    EXPECT_EQ("rewritten", Get("out.oup"));
    EXPECT_FALSE(p.FileExists(Path("out.tmp")));
    Put("second.tmp", "2");
    EXPECT_TRUE(p.MoveFileReplace(Path("second.tmp"), Path("brand-new")));
    EXPECT_EQ("2", Get("brand-new"));
    EXPECT_FALSE(p.MoveFileReplace(Path("second.tmp"), Path("out.oup")));  // source gone
    EXPECT_EQ("rewritten", Get("out.oup"));
}

TEST_F(Win32PlatformTest, LockedFileCannotBeOpenedReplacedOrDeleted) {
    Put("ledger.exe", "running program");
    Put("update.exe", "update");
    TFileHandle lock = Lock("ledger.exe");
    ASSERT_TRUE(lock);

    for (TOpenMode mode : {TOpenMode::ReadShared, TOpenMode::WriteShared,
                           TOpenMode::ReadWriteShared, TOpenMode::Create}) {
        try {
            p.OpenFile(Path("ledger.exe"), mode);
            ADD_FAILURE() << "opened a locked file in mode " << static_cast<int>(mode);
        } catch (const EFOpenError& e) {
            const std::string head = "Cannot open file \"" + Path("ledger.exe") + "\". ";
            const std::string m = e.Message();
            ASSERT_EQ(head, m.substr(0, head.size()));
            const std::string reason = m.substr(head.size());
            EXPECT_FALSE(reason.empty());
            EXPECT_EQ(std::string::npos, reason.find_first_of("\r\n")) << reason;
            EXPECT_NE('.', reason.back()) << reason;
        }
    }
    EXPECT_FALSE(p.CopyFile(Path("update.exe"), Path("ledger.exe"), false));
    EXPECT_FALSE(p.DeleteFile(Path("ledger.exe")));
    EXPECT_FALSE(p.MoveFileReplace(Path("update.exe"), Path("ledger.exe")));
    lock.Reset();

    EXPECT_EQ("running program", Get("ledger.exe"));
    EXPECT_EQ("update", Get("update.exe"));
    EXPECT_TRUE(p.DeleteFile(Path("ledger.exe")));
    EXPECT_FALSE(p.FileExists(Path("ledger.exe")));
    EXPECT_FALSE(p.DeleteFile(Path("ledger.exe")));
}

TEST_F(Win32PlatformTest, AFileInUseIsToldFromOneThatIsRefused) {
    Put("ledger.exe", "running program");
    Put("update.exe", "update");
    Put("readonly.dll", "old", FILE_ATTRIBUTE_READONLY);
    EXPECT_FALSE(p.FileInUse(Path("ledger.exe")));
    EXPECT_FALSE(p.FileInUse(Path("readonly.dll")));
    EXPECT_FALSE(p.FileInUse(Path("absent.dll")));
    {
        TFileHandle lock = Lock("ledger.exe");
        ASSERT_TRUE(lock);
        EXPECT_TRUE(p.FileInUse(Path("ledger.exe")));
        const uint32_t error = p.MoveFileReplace(Path("update.exe"), Path("ledger.exe")).Error;
        EXPECT_TRUE(error == kErrorAccessDenied || error == kErrorSharingViolation) << error;
    }
    EXPECT_FALSE(p.FileInUse(Path("ledger.exe")));
    // This test program's own image is mapped: it opens for deletion, never for writing.
    EXPECT_TRUE(p.FileInUse(p.ModulePath()));

    // Drives stand for devices; SysWOW64 exists wherever it is named.
    const std::string device = p.QueryDosDevice(dir.substr(0, 2));
    EXPECT_EQ("\\Device\\", device.substr(0, 8)) << device;
    const std::string wow64 = p.GetSystemWow64Dir();
    EXPECT_TRUE(wow64.empty() || p.DirectoryExists(wow64)) << wow64;
}

TEST_F(Win32PlatformTest, ShareModesLetReadersInButNotBesideANewFile) {
    Put("shared.txt", "abc");
    auto reader = p.OpenFile(Path("shared.txt"), TOpenMode::ReadShared);
    auto writer = p.OpenFile(Path("shared.txt"), TOpenMode::WriteShared);
    auto both = p.OpenFile(Path("shared.txt"), TOpenMode::ReadWriteShared);
    writer->WriteBuffer("X", 1);
    char c = 0;
    reader->ReadBuffer(&c, 1);
    EXPECT_EQ('X', c);
    reader.reset();
    writer.reset();
    both.reset();

    auto created = p.OpenFile(Path("being-written"), TOpenMode::Create);
    EXPECT_THROW(p.OpenFile(Path("being-written"), TOpenMode::ReadShared), EFOpenError);
    created.reset();
    EXPECT_NO_THROW(p.OpenFile(Path("being-written"), TOpenMode::ReadShared));
}

TEST_F(Win32PlatformTest, StreamsReadSeekAndFailOnShortReads) {
    Put("five", std::string("\x01\x00\x00\x00\x02", 5));
    auto f = p.OpenFile(Path("five"), TOpenMode::ReadShared);
    EXPECT_EQ(5, f->Size());
    EXPECT_EQ(1, f->ReadInt32());
    EXPECT_THROW(f->ReadInt32(), EReadError);  // one byte left, four asked
    EXPECT_EQ(0u, f->Read(&f, 1));             // at the end
    EXPECT_EQ(2, f->Seek(-3, TSeekOrigin::soEnd));
    EXPECT_EQ(-1, f->Seek(-1, TSeekOrigin::soBeginning));
    EXPECT_EQ(0u, f->Write("x", 1));  // opened for reading only
    f.reset();

    EXPECT_THROW(p.OpenFile(Path("missing"), TOpenMode::ReadShared), EFOpenError);
    EXPECT_THROW(p.OpenFile(Path("missing"), TOpenMode::WriteShared), EFOpenError);
    EXPECT_THROW(p.OpenFile(Path("no\\such\\dir\\f"), TOpenMode::Create), EFOpenError);
    ASSERT_TRUE(p.CreateDir(Path("adir")));
    EXPECT_THROW(p.OpenFile(Path("adir"), TOpenMode::ReadShared), EFOpenError);

    // Create replaces, Truncate cuts at the position.
    auto c = p.OpenFile(Path("five"), TOpenMode::Create);
    EXPECT_EQ(0, c->Size());
    c->WriteBuffer("0123456789", 10);
    c->SetPosition(4);
    EXPECT_TRUE(c->Truncate());
    c.reset();
    EXPECT_EQ("0123", Get("five"));
}

TEST_F(Win32PlatformTest, PositionsBeyondFourGigabytes) {
    // Wine keeps the file sparse on the Linux side; on Windows this would
    // write gigabytes, so the check runs under Wine only.
    if (!::GetProcAddress(::GetModuleHandleA("ntdll.dll"), "wine_get_version"))
        GTEST_SKIP() << "needs a sparse file";
    const int64_t farPosition = (int64_t{5} << 30) + 7;
    {
        auto f = p.OpenFile(Path("big"), TOpenMode::Create);
        EXPECT_EQ(farPosition, f->Seek(farPosition, TSeekOrigin::soBeginning));
        f->WriteBuffer("!", 1);
        EXPECT_EQ(farPosition + 1, f->Position());
        EXPECT_EQ(farPosition, f->Seek(-1, TSeekOrigin::soCurrent));
        char c = 0;
        f->ReadBuffer(&c, 1);
        EXPECT_EQ('!', c);
    }
    EXPECT_EQ(farPosition + 1, p.QueryFileSize(Path("big")));
}

TEST_F(Win32PlatformTest, DirectoriesCreatedRemovedAndForced) {
    EXPECT_TRUE(p.ForceDirectories(Path("a\\b\\c\\")));
    EXPECT_TRUE(p.DirectoryExists(Path("a\\b\\c")));
    EXPECT_TRUE(p.ForceDirectories(Path("a\\b")));  // already there
    EXPECT_THROW(p.ForceDirectories(""), EInOutError);
    Put("file", "x");
    EXPECT_FALSE(p.ForceDirectories(Path("file\\sub")));  // a file stands in the way
    EXPECT_FALSE(p.CreateDir(Path("a")));                 // exists
    EXPECT_FALSE(p.CreateDir(Path("x\\y")));              // one level only
    EXPECT_FALSE(p.RemoveDir(Path("a\\b")));              // not empty
    EXPECT_FALSE(p.DeleteFile(Path("a\\b\\c")));          // a directory is no file
    EXPECT_TRUE(p.RemoveDir(Path("a\\b\\c")));
    EXPECT_FALSE(p.DirectoryExists(Path("a\\b\\c")));
}

TEST_F(Win32PlatformTest, SystemPlacesAndTheRunningModule) {
    const std::string temp = p.GetTempDir();
    ASSERT_FALSE(temp.empty());
    EXPECT_EQ('\\', temp.back());
    EXPECT_TRUE(p.DirectoryExists(temp));
    for (const std::string& d : {p.GetWindowsDir(), p.GetSystemDir()}) {
        ASSERT_GE(d.size(), 3u);
        EXPECT_NE('\\', d.back()) << d;
        EXPECT_TRUE(p.DirectoryExists(d)) << d;
    }
    EXPECT_EQ(AsciiUpperCase(p.GetWindowsDir()),
              AsciiUpperCase(ExcludeTrailingBackslash(ExtractFilePath(p.GetSystemDir()))));

    EXPECT_EQ(unsigned{dtFixed}, p.GetDriveType("C:\\"));
    // A letter that names no drive (the first one free here).
    std::string unused;
    for (char l = 'Z'; l > 'D' && unused.empty(); --l)
        if (!(::GetLogicalDrives() & (1u << (l - 'A')))) unused = std::string(1, l) + ":\\";
    ASSERT_FALSE(unused.empty());
    EXPECT_EQ(unsigned{dtNoRootDir}, p.GetDriveType(unused));

    for (const std::string& share : p.ConnectedDiskResources())
        EXPECT_TRUE(share.empty() || share.rfind("\\\\", 0) == 0) << share;

    const std::string module = p.ModulePath();
    EXPECT_EQ("OUPDATE_TESTS.EXE", AsciiUpperCase(ExtractFileName(module)));
    EXPECT_TRUE(p.FileExists(module));
    const uint8_t* base = p.ModuleBase();
    ASSERT_NE(nullptr, base);
    EXPECT_EQ('M', base[0]);
    EXPECT_EQ('Z', base[1]);
    const auto peOffset = static_cast<uint32_t>(base[0x3C] | base[0x3D] << 8);
    EXPECT_EQ(0, std::memcmp(base + peOffset, "PE\0\0", 4));
}

TEST_F(Win32PlatformTest, AnsiUpperCaseFollowsTheCodePage) {
    EXPECT_EQ("LEDGER.EXE 3\\X", p.AnsiUpperCase("ledger.exe 3\\x"));
    EXPECT_EQ("", p.AnsiUpperCase(""));
    if (::GetACP() == 1252) {
        const std::string norwegian =
            "bl\xE5"
            "b\xE6r \xF8l \xFF";
        EXPECT_EQ(UpperCase1252(norwegian), p.AnsiUpperCase(norwegian));
        EXPECT_EQ(
            "BL\xC5"
            "B\xC6R \xD8L \x9F",
            p.AnsiUpperCase(norwegian));
    }
}

TEST_F(Win32PlatformTest, TextBecomesUtf8ThroughTheCodePage) {
    EXPECT_EQ("", p.AnsiToUtf8(""));
    if (::GetACP() != 1252) return;
    // Windows' own table and the portable one, byte by byte.
    std::string every;
    for (int c = 1; c < 256; ++c) every += static_cast<char>(c);
    EXPECT_EQ(Utf8From1252(every), p.AnsiToUtf8(every));
}

// Another owner of the lock is another thread here: the mutex is the
// thread's, as it is the process's between processes.
TEST_F(Win32PlatformTest, TheRunLockHasOneOwnerAtATime) {
    const auto takeElsewhere = [this](bool& taken, bool& held) {
        std::thread([&] {
            const TRunLockResult r = p.TakeRunLock();
            taken = r.Lock != nullptr;
            held = r.HeldElsewhere;
        }).join();
    };
    TRunLockResult mine = p.TakeRunLock();
    ASSERT_TRUE(mine.Lock) << mine.Note;
    bool taken = true, held = false;
    takeElsewhere(taken, held);
    EXPECT_FALSE(taken);
    EXPECT_TRUE(held);
    mine.Lock.reset();
    takeElsewhere(taken, held);
    EXPECT_TRUE(taken);
    EXPECT_FALSE(held);
}

}  // namespace
}  // namespace oup
