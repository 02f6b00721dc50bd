// Libraries come from the system directory only. The program runs as
// administrator, or as SYSTEM under deployment tools, from folders that
// standard users can write to; Windows looks for a DLL that is no KnownDLL
// in the program's own folder first, so a DLL planted there would run with
// the program's rights. Every program's entry calls this first thing: from
// then on a library loaded by name (by the program, or by Windows' own DLLs
// on its behalf) comes from the system directory.
#pragma once
#include "platform/win32/WinApi.h"

namespace oup::win32 {

inline void LoadLibrariesFromSystemDirectoryOnly() {
    using TSetDefaultDllDirectories = BOOL(WINAPI*)(DWORD);
    // Windows 7 without KB2533623 lacks the call: there at least the
    // current directory leaves the search.
    const auto setDefault =
        reinterpret_cast<TSetDefaultDllDirectories>(reinterpret_cast<void (*)()>(
            ::GetProcAddress(::GetModuleHandleW(L"kernel32.dll"), "SetDefaultDllDirectories")));
    if (setDefault && setDefault(LOAD_LIBRARY_SEARCH_SYSTEM32)) return;
    ::SetDllDirectoryW(L"");
}

}  // namespace oup::win32
