// An in-memory Windows-like machine for unit tests: drives with types, files
// and directories with attributes and times, locked files, network shares,
// and names that ignore letter case. A test builds the machine it needs in a
// few lines and inspects it afterwards.
#pragma once
#include <cstdint>
#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "platform/Platform.h"

namespace oup::test {

class TFakeMachine : public TPlatform {
public:
    TFakeMachine();

    // --- building the machine ---
    void AddDrive(char letter, unsigned type = dtFixed);
    void AddShare(const std::string& unc);  // "\\server\share": a remote root
    void AddConnectedResource(const std::string& remoteName) { resources_.push_back(remoteName); }
    void AddDir(const std::string& path, uint32_t attr = faDirectory);  // with parents
    void AddFile(const std::string& path, const std::string& content, int32_t dosTime = kDefaultTime,
                 uint32_t attr = faArchive);  // with parent directories
    void SetAttr(const std::string& path, uint32_t attr);
    // A locked file cannot be opened, replaced or deleted, as when another
    // program holds it open without sharing.
    void Lock(const std::string& path, bool locked = true);
    // Names outside the code page, which is ASCII on this machine: a path
    // with a byte above 127 (UTF-8 in tests) is a long name the operations
    // cannot take. This gives one a short form, the path its file or
    // directory is made and reached under; without one (8.3 names off) the
    // long name has no usable form.
    void AddShortName(const std::string& longPath, const std::string& shortPath);
    // Writes to this file fail once it holds this many bytes (a full disk).
    void FailWritesAfter(const std::string& path, size_t bytes);
    // Reads of this file fail once they reach this offset (a bad sector).
    void FailReadsAfter(const std::string& path, size_t bytes);
    // Every move of this file's position fails (asking for it still works).
    void FailSeeks(const std::string& path);
    // A copy onto this drive writes at most this many bytes of the file and
    // then fails, whether the target is new or not (a nearly full disk).
    void SetDiskSpace(char drive, size_t bytes);
    // A locked file that its program lets go of after this many failed
    // attempts to replace it (a program that is just closing).
    void UnlockAfter(const std::string& path, int attempts);
    // A drive made with SUBST: it stands for this path.
    void Subst(char drive, const std::string& path);
    // Windows starts again: every pending rename is carried out in order
    // (one whose source is gone is passed over), and no file is held.
    void Restart();

    // This directory's name lies outside the ANSI code page and it has no
    // short name (8.3 names off): a listing shows it, but nothing reaches it.
    void SetNoAnsiName(const std::string& path);
    // Paths (and search patterns) of this many characters or more are not
    // found, as MAX_PATH does to the A calls; 0 for no limit.
    size_t PathLimit = 0;

    // --- links, final paths, rights and directories held open ---
    // A directory entry that is a reparse point to another path (a junction
    // or a symbolic link): paths through it lead there; listings and
    // attributes show the link itself. Again on a link re-points it.
    // Unlisted: a link that shows and opens as what it leads to, as Wine
    // does with a Unix link to a file (only a final path gives it away).
    void AddLink(const std::string& path, const std::string& target, bool listed = true);
    // Who may write into a directory (SIDs); by default SYSTEM and the
    // Administrators only; nothing: its rights cannot be read.
    void SetWriters(const std::string& dir, std::optional<std::vector<std::string>> sids);
    // Called at each Sleep (a user acting during the in-use retries).
    std::function<void()> OnSleep;
    // Called with the final path of the name as a temporary file is about to
    // be committed over it; may throw to end the run there, as a kill does.
    std::function<void(const std::string&)> BeforeCommit;
    // Temporary files renamed into place so far, and those of them renamed
    // before they were flushed to the disk.
    int Commits = 0, UnflushedCommits = 0;

    // --- a slow share: listings that wait ---
    // Listings of this directory wait until ReleaseListings.
    void HoldListings(const std::string& dir);
    void ReleaseListings();
    int ListingsHeld() const;    // waiting in a hold right now
    int CallsInProgress() const;  // listings and directory searches running right now

    // --- inspecting it ---
    bool Exists(const std::string& path) const;
    std::string Content(const std::string& path) const;  // throws when missing
    int32_t Time(const std::string& path) const;
    // Every path, in the case it was created with, sorted ignoring case.
    std::vector<std::string> AllPaths() const;
    int OpenCount() const { return openFiles_; }  // files open right now
    // Every directory listed ("dir\*.*" searched), in order.
    std::vector<std::string> Listings;

    // These three may be long names (see AddShortName).
    std::string TempDir = "C:\\TEMP\\";
    std::string WindowsDir = "C:\\WINDOWS";
    std::string SystemDir = "C:\\WINDOWS\\SYSTEM32";
    std::string ModuleFile = "C:\\oupdate.exe";
    std::vector<uint8_t> ModuleHeaders;  // empty: no mapped headers
    std::string SystemWow64Dir;          // empty: a 32-bit Windows
    // The pending-rename list (source, target), as MoveFileAtRestart fills it.
    std::vector<std::pair<std::string, std::string>> PendingRenames;
    bool MayScheduleRenames = true;  // false: no right to write the list
    unsigned SleptMs = 0;            // the time Sleep was asked to wait
    std::string StandardError;           // what the program wrote there
    std::string StandardOutput;          // the same
    // Called with the target as each copy begins (another program's move).
    std::function<void(const std::string&)> BeforeCopy;

    static constexpr int32_t kDefaultTime = 0x325C86FA;  // 28.02.2005 16:55:52

    // --- an elevated run ---
    bool Elevated = false;     // an administrator's full token, or SYSTEM
    bool WithoutUser = false;  // LocalSystem, or session 0
    std::string AccountSid = "S-1-5-21-1000-2000-3000-1001";
    std::map<std::string, std::string> DirSecurity;  // the SDDL each directory was made with
    std::string MappedFile;  // the system's name for the mapped program file; empty: ModuleFile
    std::function<void()> BeforeModuleOpen;  // a swap between the look at that name and the open

    // --- the report, the one-run lock, who holds a file ---
    // The programs that hold this file, as the system would name them.
    void SetHolders(const std::string& path, std::vector<TFileHolder> holders) {
        holders_[Key(path)] = std::move(holders);
    }
    TDateTime UtcTime = 38412.25;  // the clock, UTC: 01.03.2005 06:00:00
    // The lock is one per machine: a second TakeRunLock while a lock lives
    // finds it held, as a second process would.
    bool RunLocked() const { return runLocks_ > 0; }

    // --- TPlatform ---
    bool FindFiles(const std::string& pattern,
                   const std::function<bool(const TSearchRec&)>& onEntry) override;
    bool ListDirectory(const std::string& dir,
                       const std::function<void(const TDirEntry&)>& onEntry) override;
    std::unique_ptr<TFileStream> OpenFile(const std::string& path, TOpenMode mode) override;
    uint32_t GetAttributes(const std::string& path) override;
    bool CreateDir(const std::string& path) override;
    bool RemoveDir(const std::string& path) override;
    bool DeleteFile(const std::string& path) override;
    TOsResult CopyFile(const std::string& source, const std::string& target,
                       bool failIfExists) override;
    TOsResult MoveFileReplace(const std::string& source, const std::string& target) override;
    std::string GetTempDir() override { return IncludeTrailingBackslash(UsablePath(TempDir)); }
    std::string GetWindowsDir() override { return WindowsDir; }
    std::string GetSystemDir() override { return SystemDir; }
    unsigned GetDriveType(const std::string& root) override;
    std::vector<std::string> ConnectedDiskResources() override { return resources_; }
    std::string ModulePath() override { return UsablePath(ModuleFile); }
    const uint8_t* ModuleBase() override {
        return ModuleHeaders.empty() ? nullptr : ModuleHeaders.data();
    }
    std::string AnsiUpperCase(const std::string& text) override;
    bool FileInUse(const std::string& path) override;
    TOsResult MoveFileAtRestart(const std::string& source, const std::string& target) override;
    std::string GetSystemWow64Dir() override { return SystemWow64Dir; }
    std::string QueryDosDevice(const std::string& drive) override;
    void Sleep(unsigned milliseconds) override {
        SleptMs += milliseconds;
        if (OnSleep) OnSleep();
    }
    bool WriteStandardError(const std::string& text) override {
        StandardError += text;
        return true;
    }
    bool WriteStandardOutput(const std::string& text) override {
        StandardOutput += text;
        return true;
    }
    std::string SiblingPath(const std::string& path, const std::string& ext) override;
    TOsResult OpenDirectory(const std::string& path, std::unique_ptr<TDirectory>& out) override;
    TOsResult OpenOutputFile(const std::string& path, TOutputFileInfo& out) override;
    std::string MappedModuleName() override { return MappedFile.empty() ? ModuleFile : MappedFile; }
    std::unique_ptr<TFileStream> OpenMappedModuleFile(const std::string& mappedName) override;
    TMappedImage MappedModule() override {  // ModuleHeaders, loaded at its preferred base
        return {ModuleHeaders.empty() ? nullptr : ModuleHeaders.data(), ModuleHeaders.size(),
                0x400000};
    }
    bool IsElevated() override { return Elevated; }
    bool RunsWithoutUser() override { return WithoutUser; }
    std::string UserSid() override { return AccountSid; }
    bool CreateDirWithSecurity(const std::string& path, const std::string& sddl) override;
    int64_t FreeDiskSpace(const std::string& dir) override;  // SetDiskSpace's, or -1
    TDateTime UtcNow() override { return UtcTime; }
    TRunLockResult TakeRunLock() override;
    std::vector<TFileHolder> FileHolders(const std::string& path) override {
        const auto found = holders_.find(Key(path));
        return found == holders_.end() ? std::vector<TFileHolder>() : found->second;
    }

    // --- signed data and digests ---
    // This machine has no cryptography. Signed data is what FakeSignedData
    // makes (the content, the signer, and whether the signature holds), and
    // the digest stands in for SHA-256: it tells different bytes apart, no more.
    static std::vector<uint8_t> FakeSignedData(const std::string& content,
                                               const TSignerIdentity& signer,
                                               bool signatureHolds = true);
    TSignedData DecodeSignedData(const std::vector<uint8_t>& der, bool verify) override;
    bool Sha256(TStream& stream, TSha256& digest, int64_t& size) override;

    struct TData {
        std::vector<uint8_t> Bytes;
        int32_t Time = kDefaultTime;
        size_t WriteLimit = SIZE_MAX;
        size_t ReadLimit = SIZE_MAX;
        bool SeekFails = false;
        // Handles open right now that write, and that deny writing
        // (ReadDenyWrite): each kind keeps the other out, and a denying one
        // keeps deleting, renaming and replacing out too.
        int Writers = 0, WriteDeniers = 0;
    };
    struct TNode {
        std::string Path;  // as created
        uint32_t Attr = 0;
        std::shared_ptr<TData> Data;  // files only
        bool Locked = false;
        int UnlockAfter = 0;  // > 0: failed replace attempts until the lock goes
        bool NoAnsiName = false;
        std::string LinkTarget{};  // a link: where it leads
        bool Unlisted = false;   // it shows and opens as its target
        std::optional<std::vector<std::string>> Writers{};
        bool WritersSet = false;
    };

private:
    friend class TFakeFile;
    friend class TFakeDirectory;
    friend class TFakeHeldFile;
    // The key of path with every link on the way followed (the last part
    // too when followLast), as the system resolves a path it opens.
    std::string Locate(const std::string& path, bool followLast = false) const;
    // The path to show for a node made at key by the name path ends in.
    std::string ShownPath(const std::string& key, const std::string& path) const;
    // Renames the node at fromKey to name in the directory at dirKey,
    // replacing what was there, as a rename refuses a held file.
    TOsResult MoveEntry(const std::string& fromKey, const std::string& dirKey,
                        const std::string& name);
    // A new empty file at path (links on the way followed).
    TNode& PutFile(const std::string& path, int32_t time, uint32_t attr);
    int links_ = 0;
    // The path itself, or the short form of a long name; raises
    // ENameNotRepresentable when it has none.
    std::string UsablePath(const std::string& path) const;
    static std::string Key(const std::string& path);
    static std::string ParentKey(const std::string& key);
    TNode* Find(const std::string& path);
    const TNode* Find(const std::string& path) const;
    bool ParentIsDir(const std::string& key) const;
    // Open with writing, deleting and renaming denied (ReadDenyWrite).
    static bool Held(const TNode& node);

    std::map<std::string, TNode> nodes_;  // by upper-cased path without trailing '\'
    std::map<char, unsigned> driveTypes_;
    std::map<char, size_t> diskSpace_;  // by upper-case drive letter
    std::map<char, std::string> substs_;  // by upper-case drive letter
    std::vector<std::string> resources_;
    std::map<std::string, std::string> shortNames_, longNames_;  // by Key of the other
    int openFiles_ = 0;
    std::map<std::string, std::vector<TFileHolder>> holders_;  // by Key
    int runLocks_ = 0;

    // FindFiles, ListDirectory and AnsiUpperCase run on the search's pool
    // too; building and inspecting the machine happen while no search runs.
    mutable std::mutex mutex_;
    mutable std::mutex holdMutex_;
    std::condition_variable holdCv_;
    std::set<std::string> held_;  // keys of directories whose listings wait
    int heldNow_ = 0, callsNow_ = 0;
    bool TooLong(const std::string& path) const { return PathLimit && path.size() >= PathLimit; }
};

}  // namespace oup::test
