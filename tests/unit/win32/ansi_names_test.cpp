// Names between UTF-16 and the ANSI code page, on real files under Windows
// (the tests expect Windows-1252, as Wine gives it under C.UTF-8 and en_US).
#include <gtest/gtest.h>

#include "platform/Platform.h"
#include "platform/win32/AnsiNames.h"
#include "platform/win32/Handle.h"
#include "platform/win32/WinApi.h"

namespace oup::win32 {
namespace {

class AnsiNames : public ::testing::Test {
protected:
    void SetUp() override {
        if (::GetACP() != 1252) GTEST_SKIP() << "ANSI code page " << ::GetACP() << ", not 1252";
    }
};

TEST_F(AnsiNames, OnlyExactConversionsAreTaken) {
    std::string ansi;
    EXPECT_TRUE(ToAnsiExact(L"D:\\Z\u00FCrich\\ledger.exe", ansi));
    EXPECT_EQ("D:\\Z\xFCrich\\ledger.exe", ansi);
    EXPECT_EQ(L"D:\\Z\u00FCrich\\ledger.exe", Widen(ansi));
    // Cyrillic has no byte in 1252; Polish "ł" would best-fit to "l".
    EXPECT_FALSE(ToAnsiExact(L"C:\\\u041F\u0430\u043A\u0435\u0442", ansi));
    EXPECT_FALSE(ToAnsiExact(L"C:\\\u0141\u00F3d\u017A", ansi));
    EXPECT_TRUE(ansi.empty());
}

TEST_F(AnsiNames, AnUnrepresentablePathIsReachedByItsShortForm) {
    wchar_t temp[MAX_PATH];
    ::GetTempPathW(MAX_PATH, temp);
    const std::wstring dir = std::wstring(temp) + L"oup-\u041F\u0430\u043A\u0435\u0442-" +
                             std::to_wstring(::GetCurrentProcessId());
    ASSERT_TRUE(::CreateDirectoryW(dir.c_str(), nullptr));
    const std::string usable = UsableAnsiPath(dir);
    const DWORD attributes = ::GetFileAttributesA(usable.c_str());
    ::RemoveDirectoryW(dir.c_str());
    ASSERT_FALSE(usable.empty()) << "no short name for the test directory";
    EXPECT_EQ(std::string::npos, usable.find('?'));
    EXPECT_NE(INVALID_FILE_ATTRIBUTES, attributes);
    EXPECT_TRUE(attributes & FILE_ATTRIBUTE_DIRECTORY);
    EXPECT_TRUE(UsableAnsiPath(dir).empty());  // gone: no form of it left
}

TEST_F(AnsiNames, TheNextVolumeOfAShortNameIsNamedFromTheLongOne) {
    wchar_t temp[MAX_PATH];
    ::GetTempPathW(MAX_PATH, temp);
    const std::wstring paket = L"\u041F\u0430\u043A\u0435\u0442";
    const std::wstring dir =
        std::wstring(temp) + L"oup-" + paket + L"-" + std::to_wstring(::GetCurrentProcessId());
    const std::wstring first = dir + L"\\" + paket + L".oup",
                       second = dir + L"\\" + paket + L".002";
    ASSERT_TRUE(::CreateDirectoryW(dir.c_str(), nullptr));
    for (const std::wstring& f : {first, second})
        TFileHandle(::CreateFileW(f.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr));
    TPlatform& p = SystemPlatform();
    const std::string shortDir = UsableAnsiPath(dir);
    const std::string shortFirst = UsableAnsiPath(first), shortSecond = UsableAnsiPath(second);
    const std::string next = p.SiblingPath(shortFirst, ".002");
    const std::string third = p.SiblingPath(shortFirst, ".003");  // not there
    const std::string log = UsableAnsiPathToCreate(dir + L"\\update.log");
    const std::string cyrillicLog = UsableAnsiPathToCreate(dir + L"\\" + paket + L".log");
    ::DeleteFileW(first.c_str());
    ::DeleteFileW(second.c_str());
    ::RemoveDirectoryW(dir.c_str());
    ASSERT_FALSE(shortFirst.empty());
    EXPECT_EQ(shortSecond, next) << shortFirst;
    EXPECT_NE(ChangeFileExt(shortFirst, ".002"), next);  // the short names are unrelated
    EXPECT_EQ("", third);
    // A file to create: its directory by the short name, its own name as it is.
    EXPECT_EQ(shortDir + "\\update.log", log);
    EXPECT_EQ("", cyrillicLog);
    EXPECT_EQ("C:\\none\\update.002", p.SiblingPath("C:\\none\\update.oup", ".002"));
    EXPECT_EQ("C:\\" + std::string(5, '?') + "\\a.oup", ShownAnsi(L"C:\\" + paket + L"\\a.oup"));
}

}  // namespace
}  // namespace oup::win32
