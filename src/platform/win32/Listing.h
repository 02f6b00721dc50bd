// Opening a directory listing with the cheapest call the system offers, and
// with the plain call where a system or a redirector refuses that one.
#pragma once
#include <atomic>
#include <string>

#include "platform/win32/Handle.h"
#include "platform/win32/WinApi.h"

namespace oup::win32 {

using TFindFirstFileExW = decltype(&::FindFirstFileExW);

// Opens the search for pattern with findEx (basic information, large
// batches). When that fails for another reason than a missing or refused
// directory, the same search is tried once with FindFirstFileW: a redirector
// may refuse the level or the flag. Only when the Ex call called its
// parameter invalid and the plain call then worked (Windows before 7 knows
// neither) is plainOnly set; from then on only the plain call is made.
TFindHandle OpenListing(const std::wstring& pattern, WIN32_FIND_DATAW& data,
                        std::atomic<bool>& plainOnly,
                        TFindFirstFileExW findEx = ::FindFirstFileExW);

}  // namespace oup::win32
