// A DLL of Windows loaded from the system directory and nowhere else. The
// program runs as administrator, or as SYSTEM under deployment tools, from
// folders that standard users can write to (Downloads, a staging folder): a
// DLL that is no KnownDLL would be taken from the program's own folder first,
// so every DLL beyond the KnownDLLs is loaded here, at run time, by this.
#pragma once
#include <string>

#include "platform/win32/WinApi.h"

namespace oup::win32 {

class TSystemLibrary {
public:
    // name: a bare file name such as L"mpr.dll".
    explicit TSystemLibrary(const wchar_t* name) : module_(Load(name)) {}
    ~TSystemLibrary() {
        if (module_) ::FreeLibrary(module_);
    }
    TSystemLibrary(const TSystemLibrary&) = delete;
    TSystemLibrary& operator=(const TSystemLibrary&) = delete;

    explicit operator bool() const { return module_ != nullptr; }
    HMODULE Get() const { return module_; }

    // A function of the library; null when the library or the function is
    // missing (an older Windows).
    template <typename TFunction>
    TFunction Function(const char* name) const {
        if (!module_) return nullptr;
        return reinterpret_cast<TFunction>(
            reinterpret_cast<void (*)()>(::GetProcAddress(module_, name)));
    }

private:
    static HMODULE Load(const wchar_t* name) {
        // LOAD_LIBRARY_SEARCH_SYSTEM32 needs Windows 8, or Windows 7 with
        // KB2533623; without it the flag is refused as a bad parameter.
        if (HMODULE module = ::LoadLibraryExW(name, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32))
            return module;
        if (::GetLastError() != ERROR_INVALID_PARAMETER) return nullptr;
        // There, a full path names the one file; the DLL's own imports are
        // then looked for beside it first, in the system directory.
        wchar_t dir[MAX_PATH];
        const UINT n = ::GetSystemDirectoryW(dir, MAX_PATH);
        if (n == 0 || n >= MAX_PATH) return nullptr;
        const std::wstring path = std::wstring(dir, n) + L"\\" + name;
        return ::LoadLibraryExW(path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
    }

    HMODULE module_;
};

}  // namespace oup::win32
