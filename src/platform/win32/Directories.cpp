#include "platform/win32/Directories.h"

#include <cstdio>
#include <cstring>
#include <vector>

#include "platform/win32/Account.h"
#include "platform/win32/AnsiNames.h"
#include "platform/win32/WinApi.h"

#include <aclapi.h>
#include <sddl.h>
#include <winternl.h>

namespace oup::win32 {

namespace {

// --- the native calls, from ntdll (always loaded in every process) ---

using TNtCreateFile = NTSTATUS(NTAPI*)(PHANDLE, ACCESS_MASK, POBJECT_ATTRIBUTES, PIO_STATUS_BLOCK,
                                       PLARGE_INTEGER, ULONG, ULONG, ULONG, ULONG, PVOID, ULONG);
using TNtSetInformationFile = NTSTATUS(NTAPI*)(HANDLE, PIO_STATUS_BLOCK, PVOID, ULONG, ULONG);
using TNtQueryDirectoryFile = NTSTATUS(NTAPI*)(HANDLE, HANDLE, PVOID, PVOID, PIO_STATUS_BLOCK,
                                               PVOID, ULONG, ULONG, BOOLEAN, PUNICODE_STRING,
                                               BOOLEAN);
using TRtlNtStatusToDosError = ULONG(NTAPI*)(NTSTATUS);

struct TNative {
    TNtCreateFile CreateFile = nullptr;
    TNtSetInformationFile SetInformationFile = nullptr;
    TNtQueryDirectoryFile QueryDirectoryFile = nullptr;
    TRtlNtStatusToDosError StatusToDosError = nullptr;
    TNative() {
        const HMODULE ntdll = ::GetModuleHandleW(L"ntdll.dll");
        if (!ntdll) return;
        const auto get = [&](const char* name) {
            return reinterpret_cast<void (*)()>(::GetProcAddress(ntdll, name));
        };
        CreateFile = reinterpret_cast<TNtCreateFile>(get("NtCreateFile"));
        SetInformationFile = reinterpret_cast<TNtSetInformationFile>(get("NtSetInformationFile"));
        QueryDirectoryFile = reinterpret_cast<TNtQueryDirectoryFile>(get("NtQueryDirectoryFile"));
        StatusToDosError = reinterpret_cast<TRtlNtStatusToDosError>(get("RtlNtStatusToDosError"));
    }
    bool Complete() const {
        return CreateFile && SetInformationFile && QueryDirectoryFile && StatusToDosError;
    }
};

const TNative& Native() {
    static const TNative native;
    return native;
}

constexpr NTSTATUS kStatusNameCollision = static_cast<NTSTATUS>(0xC0000035);
constexpr ULONG kOpen = 1, kCreate = 2, kOpenIf = 3;
constexpr ULONG kDirectoryFile = 0x1, kNonDirectoryFile = 0x40, kSynchronous = 0x20,
                kOpenReparsePoint = 0x00200000, kForBackup = 0x4000, kDeleteOnClose = 0x1000;
constexpr ULONG kFileRenameInformation = 10, kFileLinkInformation = 11,
                kFileDirectoryInformation = 1;
constexpr DWORD kDirectoryAccess =
    FILE_LIST_DIRECTORY | FILE_TRAVERSE | FILE_READ_ATTRIBUTES | READ_CONTROL | SYNCHRONIZE;
constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
// Rights that let an account change what a folder holds, or its rights.
constexpr ACCESS_MASK kWriteRights = FILE_WRITE_DATA | FILE_APPEND_DATA | FILE_DELETE_CHILD |
                                     DELETE | WRITE_DAC | WRITE_OWNER | GENERIC_WRITE |
                                     GENERIC_ALL;

uint32_t ErrorOf(NTSTATUS status) {
    if (status == kStatusNameCollision) return kErrorFileExists;
    return Native().StatusToDosError ? Native().StatusToDosError(status) : ERROR_GEN_FAILURE;
}

// The path the system resolves an open handle to, in the ANSI code page
// ('?' for a character it lacks, the same way every time), without "\\?\".
std::string FinalPathOf(HANDLE handle) {
    std::vector<wchar_t> buffer(MAX_PATH);
    for (int attempt = 0; attempt < 2; ++attempt) {
        const DWORD n = ::GetFinalPathNameByHandleW(handle, buffer.data(),
                                                    static_cast<DWORD>(buffer.size()),
                                                    FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
        if (n == 0) return std::string();
        if (n < buffer.size()) {
            std::wstring path(buffer.data(), n);
            if (path.compare(0, 8, L"\\\\?\\UNC\\") == 0)
                path = L"\\\\" + path.substr(8);
            else if (path.compare(0, 4, L"\\\\?\\") == 0)
                path = path.substr(4);
            return ShownAnsi(path);
        }
        buffer.resize(n + 1);
    }
    return std::string();
}

std::string Upper(std::string text) {
    if (!text.empty()) ::CharUpperBuffA(text.data(), static_cast<DWORD>(text.size()));
    return text;
}

// Opens name relative to the directory handle; nothing along it is followed
// where the system honours FILE_OPEN_REPARSE_POINT.
NTSTATUS OpenRelative(HANDLE dir, const std::string& name, ACCESS_MASK access, ULONG share,
                      ULONG disposition, ULONG options, TFileHandle& out) {
    const std::wstring wide = Widen(name);
    if (!Native().Complete() || wide.size() > 32767) return static_cast<NTSTATUS>(0xC0000002);
    UNICODE_STRING objectName;
    objectName.Buffer = const_cast<PWSTR>(wide.c_str());
    objectName.Length = objectName.MaximumLength = static_cast<USHORT>(wide.size() * sizeof(wchar_t));
    OBJECT_ATTRIBUTES attributes;
    InitializeObjectAttributes(&attributes, &objectName, OBJ_CASE_INSENSITIVE, dir, nullptr);
    IO_STATUS_BLOCK io;
    HANDLE handle = nullptr;
    const NTSTATUS status =
        Native().CreateFile(&handle, access | SYNCHRONIZE, &attributes, &io, nullptr,
                            FILE_ATTRIBUTE_NORMAL, share, disposition,
                            options | kSynchronous | kOpenReparsePoint | kForBackup, nullptr, 0);
    out.Reset(status >= 0 ? handle : INVALID_HANDLE_VALUE);
    return status;
}

bool IsReparsePoint(HANDLE handle) {
    FILE_ATTRIBUTE_TAG_INFO tag;
    return ::GetFileInformationByHandleEx(handle, FileAttributeTagInfo, &tag, sizeof tag) &&
           (tag.FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT);
}

// FILE_RENAME_INFORMATION and FILE_LINK_INFORMATION share this layout.
std::vector<uint8_t> NameInformation(HANDLE dir, const std::string& name) {
    const std::wstring wide = Widen(name);
    std::vector<uint8_t> buffer(sizeof(FILE_RENAME_INFO) + wide.size() * sizeof(wchar_t));
    auto* info = reinterpret_cast<FILE_RENAME_INFO*>(buffer.data());
    info->ReplaceIfExists = TRUE;
    info->RootDirectory = dir;
    info->FileNameLength = static_cast<DWORD>(wide.size() * sizeof(wchar_t));
    std::memcpy(info->FileName, wide.data(), info->FileNameLength);
    return buffer;
}

TOsResult SetNameInformation(HANDLE file, HANDLE dir, const std::string& name, ULONG which) {
    std::vector<uint8_t> info = NameInformation(dir, name);
    // A rename relative to a directory handle: Wine 8 refuses it through
    // SetFileInformationByHandle (ERROR_INVALID_PARAMETER) but takes the
    // native call, which Windows also has.
    if (which == kFileRenameInformation &&
        ::SetFileInformationByHandle(file, FileRenameInfo, info.data(),
                                     static_cast<DWORD>(info.size())))
        return {};
    if (which == kFileRenameInformation && ::GetLastError() != ERROR_INVALID_PARAMETER)
        return {::GetLastError()};
    IO_STATUS_BLOCK io;
    const NTSTATUS status = Native().SetInformationFile(file, &io, info.data(),
                                                        static_cast<ULONG>(info.size()), which);
    return status >= 0 ? TOsResult{} : TOsResult{ErrorOf(status)};
}

// What a volume without hard links answers a request for one.
bool NoLinksHere(uint32_t error) {
    return error == ERROR_NOT_SUPPORTED || error == ERROR_INVALID_FUNCTION ||
           error == ERROR_INVALID_PARAMETER;
}

bool MarkForDeletion(HANDLE file, bool deletion) {
    FILE_DISPOSITION_INFO disposition{static_cast<BOOLEAN>(deletion)};
    return ::SetFileInformationByHandle(file, FileDispositionInfo, &disposition,
                                        sizeof disposition) != 0;
}

int32_t DosOf(const FILETIME& utc) {
    FILETIME local;
    WORD date = 0, time = 0;
    if (!::FileTimeToLocalFileTime(&utc, &local) || !::FileTimeToDosDateTime(&local, &date, &time))
        return 0;
    return static_cast<int32_t>((static_cast<uint32_t>(date) << 16) | time);
}

class TWin32Directory;

// A temporary file. Where the volume has hard links it is opened
// delete-on-close from its creation, so no moment of it can outlive a kill,
// and put in place by a second name; elsewhere its deletion is a
// disposition that the rename calls off.
class TWin32HeldFile : public THeldFile {
public:
    TWin32HeldFile(TFileHandle handle, TWin32Directory& dir, bool deleteOnClose)
        : raw_(handle.Get()), dir_(dir), file_(FileFromHandle(std::move(handle))),
          deleteOnClose_(deleteOnClose) {}
    size_t Read(void* buffer, size_t count) override { return file_->Read(buffer, count); }
    size_t Write(const void* buffer, size_t count) override { return file_->Write(buffer, count); }
    int64_t Seek(int64_t offset, TSeekOrigin origin) override { return file_->Seek(offset, origin); }
    bool SetLastWriteDos(int32_t dos) override { return file_->SetLastWriteDos(dos); }
    bool Truncate() override { return file_->Truncate(); }
    std::string FinalPath() override { return FinalPathOf(raw_); }
    bool Flush() override { return ::FlushFileBuffers(raw_) != 0; }
    TOsResult CommitAs(const std::string& name) override;

private:
    // The content moved into a temporary file whose deletion can be called off.
    TOsResult MakeRenamable();

    HANDLE raw_;  // owned by file_
    TWin32Directory& dir_;  // outlives this file
    std::unique_ptr<TFileStream> file_;
    bool deleteOnClose_;
    bool committed_ = false;
};

class TWin32Directory : public TDirectory {
public:
    explicit TWin32Directory(TFileHandle handle) : handle_(std::move(handle)) {
        final_ = FinalPathOf(handle_.Get());
    }

    HANDLE Handle() const { return handle_.Get(); }
    // Set once a hard link was refused here: temporary files are made
    // renamable from then on.
    bool NoLinks = false;

    NTSTATUS CreateTemp(const std::string& name, bool deleteOnClose, TFileHandle& out) {
        return OpenRelative(handle_.Get(), name, GENERIC_READ | GENERIC_WRITE | DELETE, 0, kCreate,
                            kNonDirectoryFile | (deleteOnClose ? kDeleteOnClose : 0), out);
    }

    std::string FinalPath() override { return final_; }

    TEntryInfo Entry(const std::string& name) override {
        // The directory's own listing of the name: it shows a link as a
        // link however the system would follow it on opening. A fresh
        // handle to the directory each time, since a directory handle keeps
        // the first name it was asked for.
        TFileHandle listing;
        if (OpenRelative(handle_.Get(), std::string(), FILE_LIST_DIRECTORY, kShareAll, kOpen,
                         kDirectoryFile, listing) < 0)
            return {};
        const std::wstring wide = Widen(name);
        UNICODE_STRING mask;
        mask.Buffer = const_cast<PWSTR>(wide.c_str());
        mask.Length = mask.MaximumLength = static_cast<USHORT>(wide.size() * sizeof(wchar_t));
        alignas(8) uint8_t buffer[4096];
        IO_STATUS_BLOCK io;
        const NTSTATUS status =
            Native().QueryDirectoryFile(listing.Get(), nullptr, nullptr, nullptr, &io, buffer,
                                        sizeof buffer, kFileDirectoryInformation, TRUE, &mask, TRUE);
        if (status < 0) return {};
        // FILE_DIRECTORY_INFORMATION: the attributes follow six 64-bit times
        // and sizes behind two ULONGs.
        ULONG attributes = 0;
        std::memcpy(&attributes, buffer + 8 + 6 * 8, sizeof attributes);
        const TEntryKind kind = (attributes & FILE_ATTRIBUTE_REPARSE_POINT) ? TEntryKind::Link
                                : (attributes & FILE_ATTRIBUTE_DIRECTORY)  ? TEntryKind::Directory
                                                                           : TEntryKind::File;
        return {kind, attributes};
    }

    TOsResult OpenSubdirectory(const std::string& name, bool create,
                               std::unique_ptr<TDirectory>& out) override {
        out.reset();
        if (Entry(name).Kind == TEntryKind::Link) return {kErrorIsALink};
        TFileHandle handle;
        const NTSTATUS status = OpenRelative(handle_.Get(), name, kDirectoryAccess, kShareAll,
                                             create ? kOpenIf : kOpen, kDirectoryFile, handle);
        if (status < 0) return {ErrorOf(status)};
        if (const TOsResult own = IsOwnEntry(handle.Get(), name); !own) return own;
        out = std::make_unique<TWin32Directory>(std::move(handle));
        return {};
    }

    TOsResult CreateTempFile(const std::string& name, std::unique_ptr<THeldFile>& out) override {
        out.reset();
        TFileHandle handle;
        const NTSTATUS status = CreateTemp(name, !NoLinks, handle);
        if (status < 0) return {ErrorOf(status)};
        // Gone with the handle, also when this process is killed, until it
        // is put in place.
        if (NoLinks) MarkForDeletion(handle.Get(), true);
        out = std::make_unique<TWin32HeldFile>(std::move(handle), *this, !NoLinks);
        return {};
    }

    TOsResult DeleteEntry(const std::string& name) override {
        TFileHandle handle;
        if (const TOsResult opened = OpenOwn(name, DELETE, handle); !opened) return opened;
        return MarkForDeletion(handle.Get(), true) ? TOsResult{} : TOsResult{::GetLastError()};
    }

    TOsResult LinkEntry(const std::string& name, const std::string& newName) override {
        TFileHandle handle;
        if (const TOsResult opened = OpenOwn(name, FILE_READ_ATTRIBUTES, handle); !opened)
            return opened;
        return SetNameInformation(handle.Get(), handle_.Get(), newName, kFileLinkInformation);
    }

    TOsResult RenameEntry(const std::string& from, const std::string& to) override {
        TFileHandle handle;
        if (const TOsResult opened = OpenOwn(from, DELETE, handle); !opened) return opened;
        return SetNameInformation(handle.Get(), handle_.Get(), to, kFileRenameInformation);
    }

    TOsResult CopyEntry(const std::string& name, const std::string& newName) override {
        TFileHandle source;
        if (const TOsResult opened = OpenOwn(name, GENERIC_READ, source); !opened) return opened;
        std::unique_ptr<THeldFile> copy;
        const std::string temp = newName + ".ouptmp";
        DeleteEntry(temp);
        if (const TOsResult created = CreateTempFile(temp, copy); !created) return created;
        std::vector<char> buffer(65536);
        for (;;) {
            DWORD got = 0;
            if (!::ReadFile(source.Get(), buffer.data(), static_cast<DWORD>(buffer.size()), &got,
                            nullptr))
                return {::GetLastError()};
            if (got == 0) break;
            if (copy->Write(buffer.data(), got) != got) return {ERROR_WRITE_FAULT};
        }
        FILETIME written;
        if (::GetFileTime(source.Get(), nullptr, nullptr, &written))
            copy->SetLastWriteDos(DosOf(written));
        if (!copy->Flush()) return {::GetLastError()};
        return copy->CommitAs(newName);
    }

    std::optional<TFolderWriters> Writers() override {
        PSID owner = nullptr;
        PACL dacl = nullptr;
        PSECURITY_DESCRIPTOR descriptor = nullptr;
        if (::GetSecurityInfo(handle_.Get(), SE_FILE_OBJECT,
                              OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, &owner,
                              nullptr, &dacl, nullptr, &descriptor) != ERROR_SUCCESS)
            return std::nullopt;
        const std::unique_ptr<void, decltype(&::LocalFree)> owned(descriptor, &::LocalFree);
        TFolderWriters writers;
        // The owner may always change the rights.
        if (owner) writers.Sids.push_back(SidText(owner));
        if (!dacl) {
            writers.Sids.push_back("S-1-1-0");  // no access list: everyone, everything
            return writers;
        }
        for (DWORD i = 0; i < dacl->AceCount; ++i) {
            void* ace = nullptr;
            if (!::GetAce(dacl, i, &ace)) return std::nullopt;
            const auto* header = static_cast<const ACE_HEADER*>(ace);
            // Denials only take away; an entry for the folder's children
            // alone does not apply to it.
            if (header->AceType != ACCESS_ALLOWED_ACE_TYPE || (header->AceFlags & INHERIT_ONLY_ACE))
                continue;
            const auto* allowed = static_cast<const ACCESS_ALLOWED_ACE*>(ace);
            if (allowed->Mask & kWriteRights)
                writers.Sids.push_back(SidText(const_cast<DWORD*>(&allowed->SidStart)));
        }
        return writers;
    }

private:
    static std::string SidText(PSID sid) {
        char* text = nullptr;
        if (!::ConvertSidToStringSidA(sid, &text)) return "?";
        const std::unique_ptr<char, decltype(&::LocalFree)> owned(text, &::LocalFree);
        return text;
    }

    // The handle opened for name must be that entry itself: not a reparse
    // point, and resolving to this directory's final path and the name (Wine
    // follows a Unix link even where it was asked not to).
    TOsResult IsOwnEntry(HANDLE handle, const std::string& name) {
        if (IsReparsePoint(handle)) return {kErrorIsALink};
        if (Upper(FinalPathOf(handle)) != Upper(IncludeTrailingBackslash(final_) + name))
            return {kErrorIsALink};
        return {};
    }

    // An existing file of this directory, never through a link.
    TOsResult OpenOwn(const std::string& name, ACCESS_MASK access, TFileHandle& handle) {
        const NTSTATUS status =
            OpenRelative(handle_.Get(), name, access, kShareAll, kOpen, kNonDirectoryFile, handle);
        if (status < 0) return {ErrorOf(status)};
        return IsOwnEntry(handle.Get(), name);
    }

    TFileHandle handle_;
    std::string final_;
};

TOsResult TWin32HeldFile::CommitAs(const std::string& name) {
    // A second name for the file, over the target in one step: the
    // temporary name still goes with the handle, so a kill at any moment
    // leaves the target old or new and no temporary file.
    if (!dir_.NoLinks) {
        const TOsResult linked = SetNameInformation(raw_, dir_.Handle(), name, kFileLinkInformation);
        if (linked || !NoLinksHere(linked.Error)) {
            committed_ = committed_ || linked;
            return linked;
        }
        dir_.NoLinks = true;
    }
    // A volume without hard links (FAT): the file is kept from deletion for
    // the rename alone, and a failed rename (a file in use) marks it again.
    // A kill between the two leaves the temporary file.
    if (deleteOnClose_)
        if (const TOsResult moved = MakeRenamable(); !moved) return moved;
    if (!committed_) MarkForDeletion(raw_, false);
    const TOsResult renamed = SetNameInformation(raw_, dir_.Handle(), name, kFileRenameInformation);
    if (!renamed && !committed_) MarkForDeletion(raw_, true);
    if (renamed) committed_ = true;
    return renamed;
}

TOsResult TWin32HeldFile::MakeRenamable() {
    TFileHandle copy;
    for (unsigned n = 0; n < 0x1000 && !copy; ++n) {
        char name[16];
        std::snprintf(name, sizeof name, "~oupR%03X.tmp", n);
        const NTSTATUS status = dir_.CreateTemp(name, false, copy);
        if (status < 0 && status != kStatusNameCollision) return {ErrorOf(status)};
    }
    if (!copy) return {ERROR_FILE_EXISTS};
    MarkForDeletion(copy.Get(), true);
    LARGE_INTEGER start{};
    if (!::SetFilePointerEx(raw_, start, nullptr, FILE_BEGIN)) return {::GetLastError()};
    std::vector<char> buffer(65536);
    for (DWORD got = 0;;) {
        if (!::ReadFile(raw_, buffer.data(), static_cast<DWORD>(buffer.size()), &got, nullptr))
            return {::GetLastError()};
        if (got == 0) break;
        DWORD put = 0;
        if (!::WriteFile(copy.Get(), buffer.data(), got, &put, nullptr) || put != got)
            return {ERROR_WRITE_FAULT};
    }
    FILETIME written;
    if (::GetFileTime(raw_, nullptr, nullptr, &written))
        ::SetFileTime(copy.Get(), nullptr, nullptr, &written);
    if (!::FlushFileBuffers(copy.Get())) return {::GetLastError()};
    raw_ = copy.Get();
    file_ = FileFromHandle(std::move(copy));  // the first one goes as it closes
    deleteOnClose_ = false;
    return {};
}

}  // namespace

TOsResult OpenDirectory(const std::string& path, std::unique_ptr<TDirectory>& out) {
    out.reset();
    if (!Native().Complete()) return {kErrorNotSupported};
    TFileHandle handle(::CreateFileW(Widen(path).c_str(), kDirectoryAccess, kShareAll, nullptr,
                                     OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    if (!handle) return {::GetLastError()};
    auto directory = std::make_unique<TWin32Directory>(std::move(handle));
    if (directory->FinalPath().empty()) return {::GetLastError() ? ::GetLastError() : 1u};
    out = std::move(directory);
    return {};
}

TOsResult OpenOutputFile(const std::string& path, TOutputFileInfo& out) {
    out = TOutputFileInfo();
    const std::wstring wide = Widen(path);
    constexpr DWORD kAccess = GENERIC_READ | GENERIC_WRITE;
    constexpr DWORD kShare = FILE_SHARE_READ | FILE_SHARE_WRITE;
    constexpr DWORD kFlags = FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT;
    TFileHandle handle(
        ::CreateFileW(wide.c_str(), kAccess, kShare, nullptr, OPEN_EXISTING, kFlags, nullptr));
    if (!handle && ::GetLastError() == ERROR_FILE_NOT_FOUND) {
        // A new record readable by no one but the system, the
        // administrators and this account.
        const std::string sddl = "D:P(A;;FA;;;SY)(A;;FA;;;BA)(A;;FA;;;" + CurrentUserSid() + ")";
        PSECURITY_DESCRIPTOR descriptor = nullptr;
        if (!::ConvertStringSecurityDescriptorToSecurityDescriptorA(sddl.c_str(), SDDL_REVISION_1,
                                                                    &descriptor, nullptr))
            return {::GetLastError()};
        const std::unique_ptr<void, decltype(&::LocalFree)> owned(descriptor, &::LocalFree);
        SECURITY_ATTRIBUTES attributes{sizeof attributes, descriptor, FALSE};
        handle.Reset(
            ::CreateFileW(wide.c_str(), kAccess, kShare, &attributes, CREATE_NEW, kFlags, nullptr));
        out.Created = handle.IsValid();
        // Made by someone else meanwhile: theirs is opened and judged.
        if (!handle && ::GetLastError() == ERROR_FILE_EXISTS)
            handle.Reset(::CreateFileW(wide.c_str(), kAccess, kShare, nullptr, OPEN_EXISTING,
                                       kFlags, nullptr));
    }
    if (!handle) return {::GetLastError()};
    if (IsReparsePoint(handle.Get())) {
        out.IsLink = true;
        return {};
    }
    BY_HANDLE_FILE_INFORMATION information;
    if (::GetFileInformationByHandle(handle.Get(), &information))
        out.Links = information.nNumberOfLinks;
    out.FinalPath = FinalPathOf(handle.Get());
    // The path as given, made full and long but with nothing resolved.
    wchar_t full[MAX_PATH * 4];
    const DWORD n = ::GetFullPathNameW(wide.c_str(), MAX_PATH * 4, full, nullptr);
    if (n > 0 && n < MAX_PATH * 4) {
        const std::wstring longPath = LongPath(full);
        out.GivenPath = ShownAnsi(longPath.empty() ? std::wstring(full, n) : longPath);
    }
    out.File = FileFromHandle(std::move(handle));
    return {};
}

}  // namespace oup::win32
