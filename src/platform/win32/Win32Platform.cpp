// The platform on Windows: the real Win32 calls, the A functions, so paths
// and names stay 8-bit text in the ANSI code page end to end. Paths the
// system gives (the program's own, the temporary directory) come from the W
// calls and are converted without loss or taken by their short names.
#include <atomic>
#include <cstring>
#include <memory>
#include <vector>

#include "common/DateTime.h"
#include "common/Errors.h"
#include "platform/Platform.h"
#include "platform/win32/Account.h"
#include "platform/win32/AnsiNames.h"
#include "platform/win32/Directories.h"
#include "platform/win32/FileHolders.h"
#include "platform/win32/Cryptography.h"
#include "platform/win32/Handle.h"
#include "platform/win32/Listing.h"
#include "platform/win32/NetResources.h"
#include "platform/win32/RunningModule.h"
#include "platform/win32/RunLock.h"
#include "platform/win32/WinApi.h"

namespace oup {
namespace {

using win32::TFileHandle;
using win32::TFindHandle;

// The system's own words for an error code, as an error message shows them:
// without the line break and the full stop that Windows puts at the end.
std::string SystemErrorText(DWORD code) {
    char* text = nullptr;
    const DWORD length = ::FormatMessageA(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, code, 0, reinterpret_cast<char*>(&text), 0, nullptr);
    std::string message;
    if (length != 0 && text) message.assign(text, length);
    if (text) ::LocalFree(text);
    while (!message.empty() &&
           (static_cast<unsigned char>(message.back()) <= ' ' || message.back() == '.'))
        message.pop_back();
    if (message.empty()) message = "System error " + std::to_string(code);
    return message;
}

// Last-write time of a directory entry as a local DOS date-time; 0 when the
// time does not fit the DOS range (before 1980 or after 2107).
int32_t DosFromFileTime(const FILETIME& utc) {
    FILETIME local;
    WORD date = 0, time = 0;
    if (!::FileTimeToLocalFileTime(&utc, &local) || !::FileTimeToDosDateTime(&local, &date, &time))
        return 0;
    return static_cast<int32_t>((static_cast<uint32_t>(date) << 16) | time);
}

// A name from a W listing in the ANSI code page. Plain ASCII, nearly every
// name, reads the same in every code page and needs no conversion call.
bool ListedNameToAnsi(const wchar_t* name, std::string& ansi) {
    const wchar_t* end = name;
    while (*end != L'\0' && *end < 0x80) ++end;
    if (*end == L'\0') {
        ansi.assign(name, end);
        return true;
    }
    return win32::ToAnsiExact(name, ansi);
}

// A name for a message only: what converts, and '?' for the rest.
std::string NameForMessage(const std::wstring& name) {
    const int length = static_cast<int>(name.size());
    const int n = ::WideCharToMultiByte(CP_ACP, 0, name.data(), length, nullptr, 0, nullptr, nullptr);
    if (n <= 0) return std::string(name.size(), '?');
    std::string text(static_cast<size_t>(n), '\0');
    ::WideCharToMultiByte(CP_ACP, 0, name.data(), length, text.data(), n, nullptr, nullptr);
    return text;
}

class TWin32File : public TFileStream {
public:
    explicit TWin32File(TFileHandle handle) : handle_(std::move(handle)) {}

    size_t Read(void* buffer, size_t count) override {
        DWORD got = 0;
        const DWORD want = count > MAXDWORD ? MAXDWORD : static_cast<DWORD>(count);
        if (!::ReadFile(handle_.Get(), buffer, want, &got, nullptr)) throw EReadError(kReadErrorText);
        return got;
    }

    size_t Write(const void* buffer, size_t count) override {
        DWORD put = 0;
        const DWORD want = count > MAXDWORD ? MAXDWORD : static_cast<DWORD>(count);
        if (!::WriteFile(handle_.Get(), buffer, want, &put, nullptr)) return 0;
        return put;
    }

    int64_t Seek(int64_t offset, TSeekOrigin origin) override {
        const DWORD method = origin == TSeekOrigin::soBeginning ? FILE_BEGIN
                             : origin == TSeekOrigin::soCurrent ? FILE_CURRENT
                                                                : FILE_END;
        LONG high = static_cast<LONG>(offset >> 32);
        // INVALID_SET_FILE_POINTER is also a valid low half of a large
        // position; only the last error tells the two apart.
        ::SetLastError(NO_ERROR);
        const DWORD low =
            ::SetFilePointer(handle_.Get(), static_cast<LONG>(offset & 0xFFFFFFFF), &high, method);
        if (low == INVALID_SET_FILE_POINTER && ::GetLastError() != NO_ERROR) return -1;
        return (static_cast<int64_t>(high) << 32) | low;
    }

    bool SetLastWriteDos(int32_t dosDateTime) override {
        if (!IsValidDos(dosDateTime)) return false;
        const auto dos = static_cast<uint32_t>(dosDateTime);
        FILETIME local, utc;
        if (!::DosDateTimeToFileTime(static_cast<WORD>(dos >> 16), static_cast<WORD>(dos & 0xFFFF),
                                     &local) ||
            !::LocalFileTimeToFileTime(&local, &utc))
            return false;
        // Only the last-write time changes; creation and access times stay.
        return ::SetFileTime(handle_.Get(), nullptr, nullptr, &utc) != 0;
    }

    bool Truncate() override { return ::SetEndOfFile(handle_.Get()) != 0; }

private:
    TFileHandle handle_;
};

class TWin32Platform : public TPlatform {
public:
    bool FindFiles(const std::string& pattern,
                   const std::function<bool(const TSearchRec&)>& onEntry) override {
        WIN32_FIND_DATAA data;
        TFindHandle find(::FindFirstFileA(pattern.c_str(), &data));
        if (!find) return false;
        do {
            TSearchRec r;
            r.Name = data.cFileName;
            r.Attr = data.dwFileAttributes;
            r.Size = (static_cast<int64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
            r.Time = DosFromFileTime(data.ftLastWriteTime);
            if (!onEntry(r)) break;
        } while (::FindNextFileA(find.Get(), &data));
        return true;
    }

    // The W call, as cheap as it comes: no short names to fill in, and
    // large batches per round trip on a share.
    bool ListDirectory(const std::string& dir,
                       const std::function<void(const TDirEntry&)>& onEntry) override {
        const std::wstring wideDir = win32::Widen(dir);
        // "*.*", as the A listing had it: the same path limit applies.
        const std::wstring pattern = wideDir + L"\\*.*";
        WIN32_FIND_DATAW data;
        const TFindHandle find = win32::OpenListing(pattern, data, plainListing_);
        if (!find) return false;
        TDirEntry entry;
        do {
            entry.Attr = data.dwFileAttributes;
            entry.Unrepresentable = false;
            if (!ListedNameToAnsi(data.cFileName, entry.Name)) {
                // A directory outside the code page is walked by its short
                // name; without one it cannot be reached by the A calls.
                const std::wstring name = data.cFileName;
                std::string usable;
                if (entry.Attr & FILE_ATTRIBUTE_DIRECTORY)
                    usable = win32::UsableAnsiPath(wideDir + L"\\" + name);
                const size_t slash = usable.rfind('\\');
                if (slash != std::string::npos && slash + 1 < usable.size()) {
                    entry.Name = usable.substr(slash + 1);
                } else {
                    entry.Name = NameForMessage(name);
                    entry.Unrepresentable = true;
                }
            }
            onEntry(entry);
        } while (::FindNextFileW(find.Get(), &data));
        return true;
    }

    std::unique_ptr<TFileStream> OpenFile(const std::string& path, TOpenMode mode) override {
        DWORD access = GENERIC_READ;
        DWORD share = FILE_SHARE_READ | FILE_SHARE_WRITE;
        DWORD disposition = OPEN_EXISTING;
        switch (mode) {
            case TOpenMode::ReadShared:
                break;
            case TOpenMode::WriteShared:
                access = GENERIC_WRITE;
                break;
            case TOpenMode::ReadWriteShared:
                access = GENERIC_READ | GENERIC_WRITE;
                break;
            case TOpenMode::ReadDenyWrite:
                share = FILE_SHARE_READ;
                break;
            case TOpenMode::Create:
                // A file being written is nobody else's business until it is done.
                access = GENERIC_READ | GENERIC_WRITE;
                share = 0;
                disposition = CREATE_ALWAYS;
                break;
        }
        TFileHandle handle(::CreateFileA(path.c_str(), access, share, nullptr, disposition,
                                         FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!handle) {
            const DWORD error = ::GetLastError();
            throw EFOpenError(FormatMessage(kCannotOpenFileText, {path, SystemErrorText(error)}));
        }
        return std::make_unique<TWin32File>(std::move(handle));
    }

    uint32_t GetAttributes(const std::string& path) override {
        return ::GetFileAttributesA(path.c_str());
    }
    bool CreateDir(const std::string& path) override {
        return ::CreateDirectoryA(path.c_str(), nullptr) != 0;
    }
    bool RemoveDir(const std::string& path) override {
        return ::RemoveDirectoryA(path.c_str()) != 0;
    }
    bool DeleteFile(const std::string& path) override { return ::DeleteFileA(path.c_str()) != 0; }
    TOsResult CopyFile(const std::string& source, const std::string& target,
                       bool failIfExists) override {
        if (::CopyFileA(source.c_str(), target.c_str(), failIfExists)) return {};
        return {::GetLastError()};
    }
    TOsResult MoveFileReplace(const std::string& source, const std::string& target) override {
        if (::MoveFileExA(source.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING)) return {};
        return {::GetLastError()};
    }

    std::string GetTempDir() override {
        // Where Windows has GetTempPath2W, SYSTEM gets C:\Windows\SystemTemp,
        // which only SYSTEM and the Administrators can reach.
        using TGetTempPath2W = DWORD(WINAPI*)(DWORD, LPWSTR);
        static const auto getTempPath2 =
            reinterpret_cast<TGetTempPath2W>(reinterpret_cast<void (*)()>(
                ::GetProcAddress(::GetModuleHandleW(L"kernel32.dll"), "GetTempPath2W")));
        wchar_t buffer[MAX_PATH + 1];
        const DWORD n = getTempPath2 ? getTempPath2(MAX_PATH + 1, buffer)
                                     : ::GetTempPathW(MAX_PATH + 1, buffer);
        // 0 is a failure; a result not below the size is the room it would need.
        if (n == 0 || n >= MAX_PATH + 1) return std::string();
        // A user whose name is outside the code page has a temporary
        // directory outside it too.
        return IncludeTrailingBackslash(Usable(std::wstring(buffer, n)));
    }
    std::string GetWindowsDir() override {
        // The shared Windows directory: on a Remote Desktop Session Host
        // GetWindowsDirectory may give a user's private copy instead.
        wchar_t buffer[MAX_PATH];
        const UINT n = ::GetSystemWindowsDirectoryW(buffer, MAX_PATH);
        if (n == 0 || n >= MAX_PATH) return std::string();
        return Usable(std::wstring(buffer, n));
    }
    std::string GetSystemDir() override {
        char buffer[MAX_PATH];
        return Fixed(buffer, ::GetSystemDirectoryA(buffer, sizeof buffer), sizeof buffer);
    }

    unsigned GetDriveType(const std::string& root) override {
        return ::GetDriveTypeA(root.c_str());
    }

    std::vector<std::string> ConnectedDiskResources() override {
        return win32::ConnectedDiskResources();
    }

    std::string ModulePath() override {
        // The A call gives '?' for what the code page lacks: a path to no file.
        std::vector<wchar_t> buffer(MAX_PATH);
        for (;;) {
            const DWORD n =
                ::GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
            if (n == 0) return std::string();
            if (n < buffer.size()) return Usable(std::wstring(buffer.data(), n));
            if (buffer.size() >= 32768) return std::string();  // no longer path exists
            buffer.resize(buffer.size() * 2);
        }
    }

    const uint8_t* ModuleBase() override {
        return reinterpret_cast<const uint8_t*>(::GetModuleHandleA(nullptr));
    }

    std::string AnsiUpperCase(const std::string& text) override {
        std::string out = text;
        if (!out.empty()) ::CharUpperBuffA(out.data(), static_cast<DWORD>(out.size()));
        return out;
    }

    bool FileInUse(const std::string& path) override {
        // Held open by a program that did not share deletion.
        if (OpenError(path, DELETE) == ERROR_SHARING_VIOLATION) return true;
        // A running program's image (or a loaded library) opens for
        // deletion but never for writing: the mapped image refuses that with
        // a sharing violation, where a missing right says access denied.
        return OpenError(path, GENERIC_WRITE) == ERROR_SHARING_VIOLATION;
    }

    TOsResult MoveFileAtRestart(const std::string& source, const std::string& target) override {
        if (::MoveFileExA(source.c_str(), target.c_str(),
                          MOVEFILE_REPLACE_EXISTING | MOVEFILE_DELAY_UNTIL_REBOOT))
            return {};
        return {::GetLastError()};
    }

    std::string GetSystemWow64Dir() override {
        // Fails with "not implemented" on 32-bit Windows, where there is none.
        char buffer[MAX_PATH];
        return Fixed(buffer, ::GetSystemWow64DirectoryA(buffer, sizeof buffer), sizeof buffer);
    }

    std::string QueryDosDevice(const std::string& drive) override {
        // The first of the names the drive stands for (the list ends with
        // two NULs; the first one ends the name).
        char buffer[1024];
        if (::QueryDosDeviceA(drive.c_str(), buffer, sizeof buffer) == 0) return std::string();
        return std::string(buffer, ::strnlen(buffer, sizeof buffer));
    }

    void Sleep(unsigned milliseconds) override { ::Sleep(milliseconds); }

    bool WriteStandardError(const std::string& text) override {
        return WriteStandardHandle(STD_ERROR_HANDLE, text);
    }
    bool WriteStandardOutput(const std::string& text) override {
        return WriteStandardHandle(STD_OUTPUT_HANDLE, text);
    }
    static bool WriteStandardHandle(DWORD which, const std::string& text) {
        const HANDLE handle = ::GetStdHandle(which);
        if (!handle || handle == INVALID_HANDLE_VALUE) return false;
        DWORD written = 0;
        return ::WriteFile(handle, text.data(), static_cast<DWORD>(text.size()), &written,
                           nullptr) &&
               written == text.size();
    }

    std::string SiblingPath(const std::string& path, const std::string& ext) override {
        // The extension belongs to the long name: the short names of
        // Пакет.oup and Пакет.002 have nothing in common.
        const std::wstring longPath = win32::LongPath(win32::Widen(path));
        if (longPath.empty()) return ChangeFileExt(path, ext);
        const size_t dot = longPath.find_last_of(L".\\/:");
        const std::wstring sibling =
            (dot == std::wstring::npos || longPath[dot] != L'.' ? longPath
                                                                : longPath.substr(0, dot)) +
            win32::Widen(ext);
        std::string usable = win32::UsableAnsiPath(sibling);
        if (!usable.empty()) return usable;
        if (::GetFileAttributesW(sibling.c_str()) != INVALID_FILE_ATTRIBUTES)
            throw ENameNotRepresentable(win32::ShownAnsi(sibling));
        return std::string();  // not there yet: it reaches nothing
    }

    // --- directories held open ---
    TOsResult OpenDirectory(const std::string& path, std::unique_ptr<TDirectory>& out) override {
        return win32::OpenDirectory(path, out);
    }
    TOsResult OpenOutputFile(const std::string& path, TOutputFileInfo& out) override {
        return win32::OpenOutputFile(path, out);
    }

    // --- the running program's own file ---
    std::string MappedModuleName() override { return win32::MappedModuleName(); }
    std::unique_ptr<TFileStream> OpenMappedModuleFile(const std::string& mappedName) override {
        win32::TOpenedModule opened = win32::OpenMappedModule(mappedName);
        if (!opened.Handle)
            throw EFOpenError(FormatMessage(kCannotOpenFileText, {win32::ShownAnsi(opened.Shown),
                                                                  SystemErrorText(opened.Error)}));
        return std::make_unique<TWin32File>(std::move(opened.Handle));
    }
    TMappedImage MappedModule() override { return win32::MappedModuleImage(); }

    // --- who runs, and where ---
    bool IsElevated() override { return win32::IsElevatedProcess(); }
    bool RunsWithoutUser() override { return win32::RunsWithoutUserSession(); }
    std::string UserSid() override { return win32::CurrentUserSid(); }
    bool CreateDirWithSecurity(const std::string& path, const std::string& sddl) override {
        return win32::CreateDirectoryWithSddl(path, sddl);
    }
    int64_t FreeDiskSpace(const std::string& dir) override { return win32::FreeBytesFor(dir); }

    // --- the machine-readable report of a run ---
    std::string AnsiToUtf8(const std::string& text) override { return win32::AnsiToUtf8(text); }

    // --- one update at a time on a machine ---
    TRunLockResult TakeRunLock() override { return win32::TakeRunLock(); }

    // --- who holds a file ---
    std::vector<TFileHolder> FileHolders(const std::string& path) override {
        return win32::FileHolders(path);
    }

    // --- signed data and digests ---
    TSignedData DecodeSignedData(const std::vector<uint8_t>& der, bool verify) override {
        return win32::DecodeSignedData(der, verify);
    }
    bool Sha256(TStream& stream, TSha256& digest, int64_t& size) override {
        return win32::Sha256(stream, digest, size);
    }

private:
    std::atomic<bool> plainListing_{false};  // a system that knows only FindFirstFileW
    // The form of a path from a W call that the A calls reach.
    static std::string Usable(const std::wstring& path) {
        std::string usable = win32::UsableAnsiPath(path);
        if (usable.empty()) throw ENameNotRepresentable(win32::ShownAnsi(path));
        return usable;
    }

    // A directory from a call that writes into a fixed buffer and returns its
    // length, 0 on failure, or the room it would need when the buffer is short.
    static std::string Fixed(const char* buffer, UINT length, size_t room) {
        return length == 0 || length >= room ? std::string() : std::string(buffer, length);
    }

    // The error of opening an existing file with this access and every
    // sharing; NO_ERROR when it opens (and it is closed again at once).
    static DWORD OpenError(const std::string& path, DWORD access) {
        TFileHandle handle(::CreateFileA(path.c_str(), access,
                                         FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                         nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
        return handle ? NO_ERROR : ::GetLastError();
    }
};

}  // namespace

std::unique_ptr<TFileStream> win32::FileFromHandle(win32::TFileHandle handle) {
    return std::make_unique<TWin32File>(std::move(handle));
}

TPlatform& SystemPlatform() {
    static TWin32Platform platform;
    return platform;
}

}  // namespace oup
