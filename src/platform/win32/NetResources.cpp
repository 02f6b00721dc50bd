#include "platform/win32/NetResources.h"

#include <cstring>

#include "platform/win32/SystemLibrary.h"
#include "platform/win32/WinApi.h"

namespace oup::win32 {

namespace {

using TWNetOpenEnumA = DWORD(WINAPI*)(DWORD, DWORD, DWORD, LPNETRESOURCEA, LPHANDLE);
using TWNetEnumResourceA = DWORD(WINAPI*)(HANDLE, LPDWORD, LPVOID, LPDWORD);
using TWNetCloseEnum = DWORD(WINAPI*)(HANDLE);

// An open enumeration, closed through the library that opened it.
class TNetEnumeration {
public:
    TNetEnumeration(HANDLE handle, TWNetCloseEnum close) : handle_(handle), close_(close) {}
    ~TNetEnumeration() {
        if (handle_) close_(handle_);
    }
    TNetEnumeration(const TNetEnumeration&) = delete;
    TNetEnumeration& operator=(const TNetEnumeration&) = delete;
    HANDLE Get() const { return handle_; }

private:
    HANDLE handle_;
    TWNetCloseEnum close_;
};

}  // namespace

std::vector<std::string> ConnectedDiskResources() {
    std::vector<std::string> names;
    // Declared first, so it outlives the enumeration below.
    const TSystemLibrary mpr(L"mpr.dll");
    const auto openEnum = mpr.Function<TWNetOpenEnumA>("WNetOpenEnumA");
    const auto enumResource = mpr.Function<TWNetEnumResourceA>("WNetEnumResourceA");
    const auto closeEnum = mpr.Function<TWNetCloseEnum>("WNetCloseEnum");
    if (!openEnum || !enumResource || !closeEnum) return names;

    HANDLE opened = nullptr;
    if (openEnum(RESOURCE_CONNECTED, RESOURCETYPE_DISK, 0, nullptr, &opened) != NO_ERROR)
        return names;
    const TNetEnumeration enumeration(opened, closeEnum);
    // One call into one zeroed buffer: what does not fit is left out.
    std::vector<NETRESOURCEA> buffer(16384 / sizeof(NETRESOURCEA) + 1);
    std::memset(buffer.data(), 0, buffer.size() * sizeof(NETRESOURCEA));
    DWORD count = 0xFFFFFFFF;
    DWORD size = 16384;
    if (enumResource(enumeration.Get(), &count, buffer.data(), &size) != NO_ERROR) return names;
    // The strings lie in the same buffer behind the records.
    for (DWORD i = 0; i < count && i < buffer.size(); ++i)
        names.emplace_back(buffer[i].lpRemoteName ? buffer[i].lpRemoteName : "");
    return names;
}

}  // namespace oup::win32
