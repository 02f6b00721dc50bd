#include "platform/win32/Listing.h"

namespace oup::win32 {

TFindHandle OpenListing(const std::wstring& pattern, WIN32_FIND_DATAW& data,
                        std::atomic<bool>& plainOnly, TFindFirstFileExW findEx) {
    if (plainOnly.load(std::memory_order_relaxed))
        return TFindHandle(::FindFirstFileW(pattern.c_str(), &data));
    TFindHandle find(findEx(pattern.c_str(), FindExInfoBasic, &data, FindExSearchNameMatch, nullptr,
                            FIND_FIRST_EX_LARGE_FETCH));
    if (find) return find;
    const DWORD error = ::GetLastError();
    // The plain call would find nothing more there.
    if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ||
        error == ERROR_ACCESS_DENIED)
        return find;
    find.Reset(::FindFirstFileW(pattern.c_str(), &data));
    if (find && error == ERROR_INVALID_PARAMETER) plainOnly.store(true, std::memory_order_relaxed);
    return find;
}

}  // namespace oup::win32
