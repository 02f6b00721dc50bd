// Names between UTF-16 and the ANSI code page, on real files under Windows
// (the tests expect Windows-1252, as Wine gives it under C.UTF-8 and en_US).
#include <gtest/gtest.h>

#include "platform/win32/AnsiNames.h"
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

}  // namespace
}  // namespace oup::win32
