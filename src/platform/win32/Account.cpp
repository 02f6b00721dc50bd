#include "platform/win32/Account.h"

#include <memory>
#include <vector>

#include "platform/win32/AnsiNames.h"
#include "platform/win32/Handle.h"
#include "platform/win32/WinApi.h"

#include <sddl.h>

namespace oup::win32 {

namespace {

constexpr const char* kLocalSystem = "S-1-5-18";

// A token query of a fixed-size answer.
template <typename T>
bool QueryToken(TOKEN_INFORMATION_CLASS what, T& answer) {
    HANDLE raw = nullptr;
    if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, &raw)) return false;
    const TFileHandle token(raw);
    DWORD size = 0;
    return ::GetTokenInformation(token.Get(), what, &answer, sizeof answer, &size) != 0;
}

}  // namespace

std::string CurrentUserSid() {
    HANDLE raw = nullptr;
    if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, &raw)) return std::string();
    const TFileHandle token(raw);
    DWORD size = 0;
    ::GetTokenInformation(token.Get(), TokenUser, nullptr, 0, &size);
    if (size == 0) return std::string();
    std::vector<uint8_t> buffer(size);
    if (!::GetTokenInformation(token.Get(), TokenUser, buffer.data(), size, &size))
        return std::string();
    char* text = nullptr;
    if (!::ConvertSidToStringSidA(reinterpret_cast<TOKEN_USER*>(buffer.data())->User.Sid, &text))
        return std::string();
    const std::unique_ptr<char, decltype(&::LocalFree)> owned(text, &::LocalFree);
    return text;
}

bool IsElevatedProcess() {
    if (CurrentUserSid() == kLocalSystem) return true;
    TOKEN_ELEVATION elevation{};
    return QueryToken(TokenElevation, elevation) && elevation.TokenIsElevated != 0;
}

bool RunsWithoutUserSession() {
    if (CurrentUserSid() == kLocalSystem) return true;
    DWORD session = 0;
    return ::ProcessIdToSessionId(::GetCurrentProcessId(), &session) && session == 0;
}

bool CreateDirectoryWithSddl(const std::string& path, const std::string& sddl) {
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (!::ConvertStringSecurityDescriptorToSecurityDescriptorA(sddl.c_str(), SDDL_REVISION_1,
                                                                &descriptor, nullptr))
        return false;
    const std::unique_ptr<void, decltype(&::LocalFree)> owned(descriptor, &::LocalFree);
    SECURITY_ATTRIBUTES attributes{sizeof attributes, descriptor, FALSE};
    return ::CreateDirectoryA(path.c_str(), &attributes) != 0;
}

int64_t FreeBytesFor(const std::string& dir) {
    ULARGE_INTEGER available{}, total{}, free{};
    if (!::GetDiskFreeSpaceExW(Widen(dir).c_str(), &available, &total, &free)) return -1;
    return available.QuadPart > uint64_t(INT64_MAX) ? INT64_MAX : int64_t(available.QuadPart);
}

}  // namespace oup::win32
