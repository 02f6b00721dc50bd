// Every operating-system operation the updater and its tools use. The Win32
// implementation is the product; the host one serves the tools on Linux; the
// fake in tests/support builds any Windows machine in memory.
#pragma once
#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "common/DateTime.h"
#include "common/Errors.h"
#include "common/Paths.h"
#include "common/Stream.h"
#include "common/Text.h"

namespace oup {

// File attributes, as the file system reports them.
enum : uint32_t {
    faReadOnly = 0x01,
    faHidden = 0x02,
    faSysFile = 0x04,
    faDirectory = 0x10,
    faArchive = 0x20,
    faNormal = 0x80,
    faReparsePoint = 0x400,
};
inline constexpr uint32_t kInvalidAttributes = 0xFFFFFFFFu;

// Drive types, as GetDriveTypeA reports them.
enum TDriveType : unsigned {
    dtUnknown = 0,
    dtNoRootDir = 1,
    dtRemovable = 2,
    dtFixed = 3,
    dtRemote = 4,
    dtCdRom = 5,
    dtRamDisk = 6,
};

struct TSearchRec {
    std::string Name;  // the entry's name, without directory
    uint32_t Attr = 0;
    int64_t Size = 0;
    int32_t Time = 0;  // last-write time, local, DOS form; 0 when it has none
};

// The outcome of an operation that can tell why it failed: the system's
// error code, 0 for success. Tests as true when the operation worked.
struct TOsResult {
    uint32_t Error = 0;
    explicit operator bool() const { return Error == 0; }
};

// Error codes a failed swap of a file comes back with when someone holds it
// (or when a right is missing: only a second look tells the two apart).
enum : uint32_t {
    kErrorAccessDenied = 5,
    kErrorSharingViolation = 32,
    kErrorLockViolation = 33,
    kErrorUserMappedFile = 1224,
    kErrorFileExists = 80,  // a copy that may not overwrite met a file
};
inline constexpr uint32_t kErrorNotSupported = 50;  // what a platform cannot do at all

// One entry of a directory listing made for a walk: the name and the
// attributes, without the size and time that FindFiles fills in.
struct TDirEntry {
    std::string Name;
    uint32_t Attr = 0;
    // The name has no form in the ANSI code page, not even a short one: Name
    // shows it for a message only ('?' for what does not convert) and cannot
    // reach the entry.
    bool Unrepresentable = false;
};

// How a file is opened. Share modes name what others may still do.
enum class TOpenMode {
    ReadShared,       // read; others may read and write
    WriteShared,      // write; others may read and write (dating a file)
    ReadWriteShared,  // read and write; others may read and write (reopening a volume's output)
    Create,           // create or replace, exclusive writing
    // Read; others may read but neither write, delete nor rename while it is
    // open, so what is checked through the handle is what is read through it.
    ReadDenyWrite,
};

// A path the system gave (the program's own file, the temporary directory,
// a file beside another) whose name has characters outside the ANSI code
// page and no short (8.3) form without them: the A calls cannot reach it.
inline constexpr const char* kNameNotRepresentableText =
    "The path \"%s\" cannot be used: its name has characters outside the ANSI code page and "
    "no short (8.3) name without them.";
class ENameNotRepresentable : public EInOutError {
public:
    // shownPath: the path as far as the code page can show it.
    explicit ENameNotRepresentable(const std::string& shownPath)
        : EInOutError(FormatMessage(kNameNotRepresentableText, {shownPath})), Path(shownPath) {}
    std::string Path;
};

// --- directories held open: writes that stay where they were resolved ---

// An entry of a directory as the directory itself lists it, never followed.
enum class TEntryKind {
    Missing,
    File,
    Directory,
    Link,  // a reparse point: a junction, a symbolic link, a mount point
};
struct TEntryInfo {
    TEntryKind Kind = TEntryKind::Missing;
    uint32_t Attr = 0;
};

// An open file whose name lies inside a directory held open (TDirectory):
// a new temporary file until CommitAs, or an existing one.
class THeldFile : public TFileStream {
public:
    // The path the system resolves the open file to, links and all.
    virtual std::string FinalPath() = 0;
    // Everything written is on the disk, not only in a cache.
    virtual bool Flush() = 0;
    // A temporary file goes when it is closed (or its process ends) until
    // this puts it in place over name, in its own directory, in one step
    // that replaces what was there (a hard link where the volume has them,
    // whose temporary name still goes on closing; a rename elsewhere).
    // Fails as MoveFileEx does (access denied for a file a program holds);
    // the file then stays temporary.
    virtual TOsResult CommitAs(const std::string& name) = 0;
};

// Who may change what a folder holds: the accounts (as SIDs, "S-1-5-18")
// that its owner and its access list let write, add, delete or rename an
// entry, or change the rights.
struct TFolderWriters {
    std::vector<std::string> Sids;
};

// A directory held open by handle. Every operation names one plain entry of
// it, and nothing is followed: a link inside stays a link. The handle keeps
// to the directory it was opened on even when a path to it is re-pointed.
class TDirectory {
public:
    virtual ~TDirectory() = default;
    // The path the system resolves the directory to ("D:\Apps\Ledger",
    // "\\server\share\x"), with every link on the way resolved.
    virtual std::string FinalPath() = 0;
    virtual TEntryInfo Entry(const std::string& name) = 0;
    // Opens a subdirectory, creating it when create is set and it is
    // missing. A link fails with kErrorIsALink.
    virtual TOsResult OpenSubdirectory(const std::string& name, bool create,
                                       std::unique_ptr<TDirectory>& out) = 0;
    // A new file that must not exist yet (kErrorFileExists when it does),
    // open for writing and deleted when closed until it is committed.
    virtual TOsResult CreateTempFile(const std::string& name, std::unique_ptr<THeldFile>& out) = 0;
    virtual TOsResult DeleteEntry(const std::string& name) = 0;  // a file or a link
    // A second name for a file in the same directory (a hard link), replacing
    // what newName was; kErrorNotSupported where the volume has none.
    virtual TOsResult LinkEntry(const std::string& name, const std::string& newName) = 0;
    // Renames an entry over another in one step (what `to` was is gone).
    virtual TOsResult RenameEntry(const std::string& from, const std::string& to) = 0;
    // Copies a file to a new name beside it, dates and all, replacing what
    // newName was (where a hard link cannot be had).
    virtual TOsResult CopyEntry(const std::string& name, const std::string& newName) = 0;
    // Who may write into the folder; nothing when its rights cannot be read.
    virtual std::optional<TFolderWriters> Writers() = 0;
};

// A link met where none may be (ERROR_REPARSE_POINT_ENCOUNTERED).
inline constexpr uint32_t kErrorIsALink = 4395;

// A file opened for writing a record (a log), with what tells whether its
// name leads somewhere else.
struct TOutputFileInfo {
    std::unique_ptr<TFileStream> File;
    bool Created = false;    // it was made now, with rights for the system,
                             // the administrators and this account only
    bool IsLink = false;     // the name is a reparse point (then File is null)
    uint32_t Links = 1;      // names the file has (hard links)
    std::string FinalPath;   // the path the system resolves the open file to
    std::string GivenPath;   // the path given, made full and long
};

// The running program's image as the loader mapped it.
struct TMappedImage {
    const uint8_t* Bytes = nullptr;  // its first byte (the headers); null: not readable
    size_t Size = 0;                 // bytes readable from there (the image's SizeOfImage)
    uint32_t Address = 0;            // where it was loaded, which its relocations were made for
};

// The machine-wide lock of the updater (TPlatform::TakeRunLock). Only one
// process of the machine holds it at a time; it is let go when the object
// goes, or when the process ends however it ends.
class TRunLock {
public:
    virtual ~TRunLock() = default;
};
struct TRunLockResult {
    std::unique_ptr<TRunLock> Lock;  // null: not taken
    bool HeldElsewhere = false;      // not taken because another process holds it
    std::string Note;                // how it was taken, or why not, for the log; may be empty
};

// A program that holds a file open, as the system names it.
struct TFileHolder {
    std::string Application;  // the name Windows shows for it ("Ledger 3")
    std::string Executable;   // its file name ("ledger.exe"); empty when unknown
    uint32_t ProcessId = 0;
};

// --- signed data and digests ---
using TSha256 = std::array<uint8_t, 32>;

// Who signed: the subject of the signer's certificate ("CN=..., O=..., C=..",
// most specific part first) and its public key (the algorithm's object
// identifier and the key's bits), which is what two signatures are compared by.
struct TSignerIdentity {
    std::string Subject;
    std::string KeyAlgorithm;
    std::vector<uint8_t> PublicKey;
};

enum class TSignedDataStatus {
    Verified,      // decoded; with verification asked for, the signature holds
    Malformed,     // no SignedData with one signer, its content and its certificate
    BadSignature,  // the signature does not match the content
    Unsupported,   // a form the platform cannot check (signed attributes, a key
                   // other than RSA) or no cryptography at all
};

struct TSignedData {
    TSignedDataStatus Status = TSignedDataStatus::Malformed;
    std::string Content;      // the signed content
    TSignerIdentity Signer;
    std::string Detail;       // why not, for a log line

    static TSignedData Failure(TSignedDataStatus status, std::string detail) {
        TSignedData out;
        out.Status = status;
        out.Detail = std::move(detail);
        return out;
    }
};

class TPlatform {
public:
    virtual ~TPlatform() = default;

    // Directory search for a pattern "dir\name" whose name may hold * and ?
    // (the platform's matching: letter case ignored). Calls onEntry for each
    // match in the platform's order until it returns false. Returns whether
    // anything matched. The search is always closed on return.
    virtual bool FindFiles(const std::string& pattern,
                           const std::function<bool(const TSearchRec&)>& onEntry) = 0;

    // Every entry of a directory ("." and ".." where the platform lists
    // them), handed to onEntry as it is read, so that a directory of a
    // million files costs no list of them; false when the directory cannot
    // be listed (then onEntry was not called). Names and attributes only, so
    // it can skip what FindFiles must fill in.
    virtual bool ListDirectory(const std::string& dir,
                               const std::function<void(const TDirEntry&)>& onEntry) = 0;

    // FindFiles, ListDirectory and AnsiUpperCase may be called from several
    // threads at once (the search lists directories and matches names on a
    // pool); nothing else may.

    // Opens a file; raises EFOpenError ("Cannot open file "%s". %s") on failure.
    virtual std::unique_ptr<TFileStream> OpenFile(const std::string& path, TOpenMode mode) = 0;

    virtual uint32_t GetAttributes(const std::string& path) = 0;  // kInvalidAttributes if none
    virtual bool CreateDir(const std::string& path) = 0;          // one level
    // One level that only this account, the system and the administrators
    // can reach, whatever the parent allows (PrivateDirSecurity); false
    // when the account cannot be told.
    virtual bool CreatePrivateDir(const std::string& path);
    virtual bool RemoveDir(const std::string& path) = 0;          // an empty directory
    virtual bool DeleteFile(const std::string& path) = 0;
    // Copies a file; an existing target is overwritten unless failIfExists
    // (then the copy fails with kErrorFileExists and leaves it alone).
    virtual TOsResult CopyFile(const std::string& source, const std::string& target,
                               bool failIfExists) = 0;
    // Replaces target with source in one step (source is gone afterwards).
    virtual TOsResult MoveFileReplace(const std::string& source, const std::string& target) = 0;

    // The directories as the system reports them; empty when it cannot.
    // The temporary directory ends with a backslash, the others do not.
    virtual std::string GetTempDir() = 0;
    virtual std::string GetWindowsDir() = 0;
    virtual std::string GetSystemDir() = 0;

    virtual unsigned GetDriveType(const std::string& root) = 0;
    // Remote names of the connected network disk resources, as one
    // enumeration call into a 16 KiB buffer returns them.
    virtual std::vector<std::string> ConnectedDiskResources() = 0;

    // The program's own file; raises ENameNotRepresentable when it has no
    // usable name (as GetTempDir does for the temporary directory).
    virtual std::string ModulePath() = 0;
    // The running module's mapped headers, or null where they cannot be read.
    virtual const uint8_t* ModuleBase() = 0;

    // Upper-casing in the ANSI code page.
    virtual std::string AnsiUpperCase(const std::string& text) = 0;

    // --- replacing files that are in use ---
    // Whether another program holds the file so that it cannot be replaced
    // now (open without sharing, or a running program's image); false for a
    // file that is free, missing, or refused for want of a right.
    virtual bool FileInUse(const std::string& path) = 0;
    // Asks the system to move source over target when Windows next starts
    // (the pending-rename list); nothing moves now.
    virtual TOsResult MoveFileAtRestart(const std::string& source, const std::string& target) = 0;
    // The 32-bit system directory as the restart sees it (SysWOW64) on
    // 64-bit Windows; empty where 32-bit programs see the real one.
    virtual std::string GetSystemWow64Dir() = 0;
    // What a drive name ("D:") stands for: a device ("\Device\...") or,
    // for a SUBST drive, a path ("\??\C:\..."); empty when unknown.
    virtual std::string QueryDosDevice(const std::string& drive) = 0;
    // Waits; the fake machine returns at once and counts the time.
    virtual void Sleep(unsigned milliseconds) = 0;
    // Writes text to the process's standard error when it has a valid one
    // (a GUI program has one only when its starter handed it over); opens
    // no console. Returns whether the text was written.
    virtual bool WriteStandardError(const std::string& text) = 0;
    // The same for standard output (a redirected one, as a rule).
    virtual bool WriteStandardOutput(const std::string& text) = 0;
    // The file beside path whose name is path's full name with its extension
    // replaced by ext (".002"), as a package's next volume is named. Where
    // path reaches its file by a short (8.3) name, the extension is replaced
    // in the long name and the result shortened again: the short names of
    // two such files are unrelated. Empty for a file that is not there (yet)
    // and whose name does not fit the ANSI code page; raises
    // ENameNotRepresentable for one that is there with no usable name. The
    // default works on the text.
    virtual std::string SiblingPath(const std::string& path, const std::string& ext);

    // --- directories held open ---
    // Opens a directory by its path, following links on the way (the place
    // a write is resolved to); kErrorNotSupported where the platform cannot.
    virtual TOsResult OpenDirectory(const std::string& path, std::unique_ptr<TDirectory>& out) {
        (void)path;
        out.reset();
        return {kErrorNotSupported};
    }
    // Opens path for writing without following a link in its last part,
    // creating it when missing. Fails when it can be neither opened nor made.
    virtual TOsResult OpenOutputFile(const std::string& path, TOutputFileInfo& out) {
        (void)path;
        out = TOutputFileInfo();
        return {kErrorNotSupported};
    }

    // --- the running program's own file ---
    // A running image's file cannot be written, but it can be renamed away
    // and another file put at its path. These name and open the file the
    // image was mapped from, so that a caller can prove it holds that file
    // (package/RunningImage.h); the defaults serve platforms without such a
    // name (the program's path stands for it).
    //
    // The name the system gives now for the file the running image was
    // mapped from; on Windows it follows a rename. An opaque text, to
    // compare and to hand to OpenMappedModuleFile (not a path for the other
    // calls); empty when the system cannot tell.
    virtual std::string MappedModuleName() { return ModulePath(); }
    // Opens that file for reading, with writing and deletion (so renaming)
    // denied to everyone else while it is open. Raises EFOpenError.
    virtual std::unique_ptr<TFileStream> OpenMappedModuleFile(const std::string& mappedName) {
        return OpenFile(mappedName, TOpenMode::ReadDenyWrite);
    }
    // The running image as the loader mapped it; Bytes null where the
    // platform cannot read it.
    virtual TMappedImage MappedModule() { return TMappedImage(); }

    // --- who runs, and where ---
    // Whether this process holds an administrator's full token or is
    // SYSTEM: what it unpacks, no standard user's process may change.
    virtual bool IsElevated() { return false; }
    // Whether nobody can see a window of this process: it runs as
    // LocalSystem, or in session 0, where no user logs on.
    virtual bool RunsWithoutUser() { return false; }
    // The account this process runs as, in S-1-5-... form; empty when unknown.
    virtual std::string UserSid() { return std::string(); }
    // Creates one directory level with this security descriptor (SDDL);
    // a plain one where the platform keeps no such rights.
    virtual bool CreateDirWithSecurity(const std::string& path, const std::string& /*sddl*/) {
        return CreateDir(path);
    }
    // Bytes this account may still write on the volume of dir; -1 when the
    // system cannot tell.
    virtual int64_t FreeDiskSpace(const std::string& /*dir*/) { return -1; }

    // --- the machine-readable report of a run ---
    // Text in the ANSI code page as UTF-8. The default takes Windows-1252,
    // as platforms without an ANSI code page do for upper-casing.
    virtual std::string AnsiToUtf8(const std::string& text);
    // The time now, in UTC. The default reads the standard library's clock.
    virtual TDateTime UtcNow();

    // --- one update at a time on a machine ---
    // Takes the updater's machine-wide lock without waiting for it. The
    // default has none to take: no lock, and a Note that says so.
    virtual TRunLockResult TakeRunLock();

    // --- who holds a file ---
    // The programs that hold the file open, as far as the system can tell;
    // empty when it cannot (the default). Nothing is asked of them, nothing
    // is ended.
    virtual std::vector<TFileHolder> FileHolders(const std::string& /*path*/) { return {}; }

    // --- signed data and digests ---
    // Decodes a CMS (PKCS #7) SignedData in DER with one signer and the
    // content inside. With verify, the signature must be over the content
    // itself (no signed attributes) and is checked with the signer's
    // certificate that the message carries; whether anyone trusts that
    // certificate is the caller's question. Without verify only the content
    // and the signer are read (the program's own Authenticode signature).
    virtual TSignedData DecodeSignedData(const std::vector<uint8_t>& der, bool verify);
    // SHA-256 of the stream from its position to its end, and the number of
    // bytes that makes. False where the platform has no SHA-256; read errors
    // raise as reads do.
    virtual bool Sha256(TStream& stream, TSha256& digest, int64_t& size);

    // --- helpers built on the operations above ---
    bool FileExists(const std::string& path);       // a file, not a directory
    bool DirectoryExists(const std::string& path);  // carries the directory attribute
    // Creates a directory with its missing parents. Raises EInOutError
    // ("Unable to create directory") for an empty path; otherwise returns
    // whether the directory exists afterwards.
    bool ForceDirectories(const std::string& path);
    // Last-write time of a file (not a directory) in DOS form, -1 if none.
    int32_t FileAge(const std::string& path);
    // Size of the first match of a directory search, -1 if none or a directory.
    int64_t QueryFileSize(const std::string& path);
};

// Deletes a directory with everything in it; links inside are removed, not
// followed. Failures are passed over.
void RemoveTree(TPlatform& platform, const std::string& dir);

// The security descriptor (SDDL) of a directory of this process's own, which
// nothing inside inherits past: full control for SYSTEM and the
// Administrators, and for userSid too when not elevated. An elevated
// process leaves its own account out (the same user's unelevated programs
// share it) and adds a High mandatory label that its files inherit, so that
// no program below High integrity may write, read or run what is in it.
// Empty when not elevated and the account is unknown.
std::string PrivateDirSecurity(bool elevated, const std::string& userSid);

// The platform of this build: Win32 on Windows, POSIX on Linux.
TPlatform& SystemPlatform();

}  // namespace oup
