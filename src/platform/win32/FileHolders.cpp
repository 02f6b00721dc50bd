#include "platform/win32/FileHolders.h"

#include "platform/win32/AnsiNames.h"
#include "platform/win32/Handle.h"
#include "platform/win32/SystemLibrary.h"
#include "platform/win32/WinApi.h"

#include <restartmanager.h>

namespace oup::win32 {

namespace {

// Room for the holders of a library every process loads, and a bound.
constexpr UINT kMostHolders = 1024;

// The file name of the process's executable; empty when the process is gone,
// cannot be asked, or is not the one listed (its id reused since).
std::string ExecutableOf(const RM_UNIQUE_PROCESS& listed) {
    const TObjectHandle process(
        ::OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, listed.dwProcessId));
    if (!process) return std::string();
    FILETIME created, exited, kernel, user;
    if (!::GetProcessTimes(process.Get(), &created, &exited, &kernel, &user) ||
        ::CompareFileTime(&created, &listed.ProcessStartTime) != 0)
        return std::string();
    wchar_t path[MAX_PATH * 2];
    DWORD size = MAX_PATH * 2;
    if (!::QueryFullProcessImageNameW(process.Get(), 0, path, &size)) return std::string();
    const std::wstring full(path, size);
    return ShownAnsi(full.substr(full.find_last_of(L"\\/") + 1));
}

}  // namespace

std::vector<TFileHolder> FileHolders(const std::string& path) {
    std::vector<TFileHolder> holders;
    // No KnownDLL: from the system directory only.
    const TSystemLibrary library(L"rstrtmgr.dll");
    const auto start = library.Function<decltype(&::RmStartSession)>("RmStartSession");
    const auto add = library.Function<decltype(&::RmRegisterResources)>("RmRegisterResources");
    const auto list = library.Function<decltype(&::RmGetList)>("RmGetList");
    const auto end = library.Function<decltype(&::RmEndSession)>("RmEndSession");
    if (!start || !add || !list || !end) return holders;

    DWORD session = 0;
    WCHAR key[CCH_RM_SESSION_KEY + 1] = {};
    if (start(&session, 0, key) != ERROR_SUCCESS) return holders;
    struct TSession {
        decltype(end) End;
        DWORD Id;
        ~TSession() { End(Id); }
    } const ended{end, session};

    const std::wstring file = Widen(path);
    LPCWSTR files[] = {file.c_str()};
    if (add(session, 1, files, 0, nullptr, 0, nullptr) != ERROR_SUCCESS) return holders;
    // The list may grow between the call that sizes it and the one that fills it.
    std::vector<RM_PROCESS_INFO> found(4);
    for (int attempt = 0; attempt < 3; ++attempt) {
        UINT needed = 0, count = static_cast<UINT>(found.size());
        DWORD reasons = 0;
        const DWORD result = list(session, &needed, &count, found.data(), &reasons);
        if (result == ERROR_SUCCESS) {
            found.resize(count < found.size() ? count : found.size());
            for (const RM_PROCESS_INFO& info : found) {
                const std::wstring name(info.strAppName,
                                        ::wcsnlen(info.strAppName, CCH_RM_MAX_APP_NAME + 1));
                holders.push_back({ShownAnsi(name), ExecutableOf(info.Process),
                                   info.Process.dwProcessId});
            }
            return holders;
        }
        if (result != ERROR_MORE_DATA || needed > kMostHolders) return holders;
        found.resize(needed);
    }
    return holders;
}

}  // namespace oup::win32
