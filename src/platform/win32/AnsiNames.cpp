#include "platform/win32/AnsiNames.h"

#include <vector>

#include "platform/win32/WinApi.h"

namespace oup::win32 {

std::wstring Widen(const std::string& ansi) {
    if (ansi.empty()) return std::wstring();
    const int n = ::MultiByteToWideChar(CP_ACP, 0, ansi.data(), static_cast<int>(ansi.size()), nullptr, 0);
    if (n <= 0) return std::wstring();
    std::wstring wide(static_cast<size_t>(n), L'\0');
    ::MultiByteToWideChar(CP_ACP, 0, ansi.data(), static_cast<int>(ansi.size()), wide.data(), n);
    return wide;
}

bool ToAnsiExact(const std::wstring& wide, std::string& ansi) {
    ansi.clear();
    if (wide.empty()) return true;
    // With UTF-8 as the ANSI code page (a Windows 10 option) every valid
    // name converts and the call refuses the flags below; a lone surrogate
    // (legal in an NTFS name) would become U+FFFD and name another file.
    const bool utf8 = ::GetACP() == CP_UTF8;
    const DWORD flags = utf8 ? WC_ERR_INVALID_CHARS : WC_NO_BEST_FIT_CHARS;
    BOOL usedDefault = FALSE;
    BOOL* usedDefaultOut = utf8 ? nullptr : &usedDefault;
    const int length = static_cast<int>(wide.size());
    const int n = ::WideCharToMultiByte(CP_ACP, flags, wide.data(), length, nullptr, 0, nullptr,
                                        usedDefaultOut);
    if (n <= 0 || usedDefault) return false;
    ansi.assign(static_cast<size_t>(n), '\0');
    if (::WideCharToMultiByte(CP_ACP, flags, wide.data(), length, ansi.data(), n, nullptr,
                              usedDefaultOut) != n ||
        usedDefault) {
        ansi.clear();
        return false;
    }
    return true;
}

std::string UsableAnsiPath(const std::wstring& path) {
    std::string ansi;
    if (ToAnsiExact(path, ansi)) return ansi;
    const DWORD room = ::GetShortPathNameW(path.c_str(), nullptr, 0);
    if (room == 0) return std::string();
    std::vector<wchar_t> shortPath(room);
    const DWORD n = ::GetShortPathNameW(path.c_str(), shortPath.data(), room);
    if (n == 0 || n >= room) return std::string();
    // Where 8.3 names are off the long path comes back: test it again.
    if (!ToAnsiExact(std::wstring(shortPath.data(), n), ansi)) return std::string();
    return ansi;
}

std::string UsableAnsiPathToCreate(const std::wstring& path) {
    std::string usable = UsableAnsiPath(path);
    if (!usable.empty()) return usable;
    const size_t slash = path.find_last_of(L"\\/");
    if (slash == std::wstring::npos || slash == 0) return std::string();
    std::string name;
    if (!ToAnsiExact(path.substr(slash + 1), name)) return std::string();
    const std::string dir = UsableAnsiPath(path.substr(0, slash));
    if (dir.empty()) return std::string();
    return dir + "\\" + name;
}

std::string ShownAnsi(const std::wstring& wide) {
    if (wide.empty()) return std::string();
    const bool utf8 = ::GetACP() == CP_UTF8;
    const DWORD flags = utf8 ? 0 : WC_NO_BEST_FIT_CHARS;
    const int length = static_cast<int>(wide.size());
    const int n =
        ::WideCharToMultiByte(CP_ACP, flags, wide.data(), length, nullptr, 0, nullptr, nullptr);
    if (n <= 0) return std::string();
    std::string shown(static_cast<size_t>(n), '\0');
    ::WideCharToMultiByte(CP_ACP, flags, wide.data(), length, shown.data(), n, utf8 ? nullptr : "?",
                          nullptr);
    return shown;
}

std::wstring LongPath(const std::wstring& path) {
    const DWORD room = ::GetLongPathNameW(path.c_str(), nullptr, 0);
    if (room == 0) return std::wstring();
    std::vector<wchar_t> longPath(room);
    const DWORD n = ::GetLongPathNameW(path.c_str(), longPath.data(), room);
    if (n == 0 || n >= room) return std::wstring();
    return std::wstring(longPath.data(), n);
}

std::string AnsiToUtf8(const std::string& ansi) {
    const std::wstring wide = Widen(ansi);
    if (wide.empty()) return std::string();
    const int length = static_cast<int>(wide.size());
    const int n = ::WideCharToMultiByte(CP_UTF8, 0, wide.data(), length, nullptr, 0, nullptr, nullptr);
    if (n <= 0) return std::string();
    std::string utf8(static_cast<size_t>(n), '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, wide.data(), length, utf8.data(), n, nullptr, nullptr);
    return utf8;
}

}  // namespace oup::win32
