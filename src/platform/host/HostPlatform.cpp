// The platform on Linux, for oupack and the benchmarks. Windows paths are
// taken with '\' as '/'; names match ignoring ASCII letter case.
#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <ctime>
#include <memory>

#include "common/DateTime.h"
#include "common/Errors.h"
#include "platform/Platform.h"
#include "platform/host/HostCrypto.h"
#include "platform/host/HostDirectory.h"

namespace oup {
namespace {

using host::NativePath;
using host::WindowsErrorOf;

int32_t DosFromTime(time_t t) {
    struct tm lt;
    if (!localtime_r(&t, &lt)) return 0;
    auto v = EncodeDateTime(lt.tm_year + 1900, lt.tm_mon + 1, lt.tm_mday, lt.tm_hour, lt.tm_min,
                            lt.tm_sec);
    return v ? DateTimeToDos(*v) : 0;
}

bool TimeFromDos(int32_t dos, time_t& out) {
    const auto v = DosToDateTime(dos);
    if (!v) return false;
    const TDateTimeParts p = DecodeDateTime(*v);
    struct tm lt {};
    lt.tm_year = p.Year - 1900;
    lt.tm_mon = p.Month - 1;
    lt.tm_mday = p.Day;
    lt.tm_hour = p.Hour;
    lt.tm_min = p.Minute;
    lt.tm_sec = p.Second;
    lt.tm_isdst = -1;
    out = mktime(&lt);
    return out != static_cast<time_t>(-1);
}

// An open directory stream, closed however its reader is left.
using TDir = std::unique_ptr<DIR, int (*)(DIR*)>;
TDir OpenDir(const std::string& path) { return TDir(::opendir(path.c_str()), ::closedir); }

uint32_t AttrFromStat(const struct stat& st) {
    uint32_t a = S_ISDIR(st.st_mode) ? faDirectory : faArchive;
    if (!(st.st_mode & S_IWUSR)) a |= faReadOnly;
    return a;
}

class THostFile : public TFileStream {
public:
    explicit THostFile(int fd) : fd_(fd) {}
    ~THostFile() override { ::close(fd_); }
    size_t Read(void* buffer, size_t count) override {
        for (;;) {
            const ssize_t n = ::read(fd_, buffer, count);
            if (n >= 0) return static_cast<size_t>(n);
            if (errno != EINTR) throw EReadError(kReadErrorText);
        }
    }
    size_t Write(const void* buffer, size_t count) override {
        for (;;) {
            const ssize_t n = ::write(fd_, buffer, count);
            if (n >= 0) return static_cast<size_t>(n);
            if (errno != EINTR) return 0;
        }
    }
    int64_t Seek(int64_t offset, TSeekOrigin origin) override {
        const int whence = origin == TSeekOrigin::soBeginning ? SEEK_SET
                           : origin == TSeekOrigin::soCurrent ? SEEK_CUR
                                                              : SEEK_END;
        return ::lseek(fd_, offset, whence);
    }
    bool SetLastWriteDos(int32_t dos) override {
        time_t t;
        if (!TimeFromDos(dos, t)) return false;
        struct timespec times[2];
        times[0].tv_nsec = UTIME_OMIT;
        times[0].tv_sec = 0;
        times[1].tv_sec = t;
        times[1].tv_nsec = 0;
        return ::futimens(fd_, times) == 0;
    }
    bool Truncate() override {
        const off_t here = ::lseek(fd_, 0, SEEK_CUR);
        return here >= 0 && ::ftruncate(fd_, here) == 0;
    }

private:
    int fd_;
};

// The machine-wide lock: an exclusive flock on one file of the temporary
// directory, which the system lets go with the descriptor.
class THostRunLock : public TRunLock {
public:
    explicit THostRunLock(int fd) : fd_(fd) {}
    ~THostRunLock() override { ::close(fd_); }

private:
    int fd_;
};

class THostPlatform : public TPlatform {
public:
    bool FindFiles(const std::string& pattern,
                   const std::function<bool(const TSearchRec&)>& onEntry) override {
        const std::string native = NativePath(pattern);
        const size_t p = native.rfind('/');
        const std::string dir = p == std::string::npos ? "." : (p == 0 ? "/" : native.substr(0, p));
        const std::string mask = p == std::string::npos ? native : native.substr(p + 1);
        if (mask.empty()) return false;
        const TDir d = OpenDir(dir);
        if (!d) return false;
        bool any = false;
        while (struct dirent* e = ::readdir(d.get())) {
            const std::string name = e->d_name;
            if (!MatchesMask(name, mask)) continue;
            struct stat st;
            if (::stat((dir + "/" + name).c_str(), &st) != 0) continue;
            TSearchRec r;
            r.Name = name;
            r.Attr = AttrFromStat(st);
            r.Size = S_ISDIR(st.st_mode) ? 0 : st.st_size;
            r.Time = DosFromTime(st.st_mtime);
            any = true;
            if (!onEntry(r)) break;
        }
        return any;
    }

    bool ListDirectory(const std::string& dir,
                       const std::function<void(const TDirEntry&)>& onEntry) override {
        const std::string native = NativePath(dir);
        const TDir d = OpenDir(native);
        if (!d) return false;
        TDirEntry entry;
        while (struct dirent* e = ::readdir(d.get())) {
            entry.Name = e->d_name;
            // The entry's type comes with it on most file systems; a link is
            // taken for what it points at, as stat sees it. The read-only
            // bit would cost a stat for every entry and is left out.
            if (e->d_type == DT_DIR) {
                entry.Attr = faDirectory;
            } else if (e->d_type != DT_UNKNOWN && e->d_type != DT_LNK) {
                entry.Attr = faArchive;
            } else {
                struct stat st;
                if (::stat((native + "/" + entry.Name).c_str(), &st) != 0) continue;
                entry.Attr = AttrFromStat(st);
            }
            onEntry(entry);
        }
        return true;
    }

    std::unique_ptr<TFileStream> OpenFile(const std::string& path, TOpenMode mode) override {
        // ReadDenyWrite opens for reading alone: POSIX has no share modes.
        int flags = O_RDONLY;
        if (mode == TOpenMode::WriteShared) flags = O_WRONLY;
        if (mode == TOpenMode::ReadWriteShared) flags = O_RDWR;
        if (mode == TOpenMode::Create) flags = O_RDWR | O_CREAT | O_TRUNC;
        const int fd = ::open(NativePath(path).c_str(), flags | O_CLOEXEC, 0644);
        struct stat st;
        if (fd >= 0 && ::fstat(fd, &st) == 0 && S_ISDIR(st.st_mode)) {
            ::close(fd);
            errno = EISDIR;
        } else if (fd >= 0) {
            return std::make_unique<THostFile>(fd);
        }
        throw EFOpenError(FormatMessage(kCannotOpenFileText, {path, std::strerror(errno)}));
    }

    uint32_t GetAttributes(const std::string& path) override {
        struct stat st;
        if (::stat(NativePath(path).c_str(), &st) != 0) return kInvalidAttributes;
        return AttrFromStat(st);
    }
    bool CreateDir(const std::string& path) override {
        return ::mkdir(NativePath(path).c_str(), 0755) == 0;
    }
    bool RemoveDir(const std::string& path) override {
        return ::rmdir(NativePath(path).c_str()) == 0;
    }
    bool DeleteFile(const std::string& path) override {
        struct stat st;
        const std::string n = NativePath(path);
        if (::lstat(n.c_str(), &st) != 0 || S_ISDIR(st.st_mode)) return false;
        return ::unlink(n.c_str()) == 0;
    }
    TOsResult CopyFile(const std::string& source, const std::string& target,
                       bool failIfExists) override {
        if (failIfExists && GetAttributes(target) != kInvalidAttributes) return {kErrorFileExists};
        try {
            auto in = OpenFile(source, TOpenMode::ReadShared);
            auto out = OpenFile(target, TOpenMode::Create);
            char buf[65536];
            for (size_t n; (n = in->Read(buf, sizeof buf)) > 0;) out->WriteBuffer(buf, n);
            struct stat st;
            if (::stat(NativePath(source).c_str(), &st) == 0)
                out->SetLastWriteDos(DosFromTime(st.st_mtime));
            return {};
        } catch (const Exception&) {
            return {kErrorAccessDenied};
        }
    }
    TOsResult MoveFileReplace(const std::string& source, const std::string& target) override {
        if (::rename(NativePath(source).c_str(), NativePath(target).c_str()) == 0) return {};
        return {WindowsErrorOf(errno)};
    }
    std::string GetTempDir() override {
        const char* t = std::getenv("TMPDIR");
        std::string dir = (t && *t) ? t : "/tmp";
        if (dir.back() != '/') dir += '/';
        return dir;
    }
    std::string GetWindowsDir() override { return std::string(); }
    std::string GetSystemDir() override { return std::string(); }
    unsigned GetDriveType(const std::string&) override { return dtNoRootDir; }
    std::vector<std::string> ConnectedDiskResources() override { return {}; }
    std::string ModulePath() override {
        char buf[4096];
        const ssize_t n = ::readlink("/proc/self/exe", buf, sizeof buf - 1);
        return n > 0 ? std::string(buf, static_cast<size_t>(n)) : std::string();
    }
    const uint8_t* ModuleBase() override { return nullptr; }
    std::string AnsiUpperCase(const std::string& text) override { return UpperCase1252(text); }
    // POSIX locks are advisory: nobody can hold a file against a rename.
    bool FileInUse(const std::string&) override { return false; }
    TOsResult MoveFileAtRestart(const std::string&, const std::string&) override {
        return {kErrorNotSupported};
    }
    std::string GetSystemWow64Dir() override { return std::string(); }
    std::string QueryDosDevice(const std::string&) override { return std::string(); }
    void Sleep(unsigned milliseconds) override {
        struct timespec wait;
        wait.tv_sec = static_cast<time_t>(milliseconds / 1000);
        wait.tv_nsec = static_cast<long>(milliseconds % 1000) * 1000000L;
        while (::nanosleep(&wait, &wait) != 0 && errno == EINTR) continue;
    }
    bool WriteStandardError(const std::string& text) override {
        return ::write(STDERR_FILENO, text.data(), text.size()) ==
               static_cast<ssize_t>(text.size());
    }
    bool WriteStandardOutput(const std::string& text) override {
        return ::write(STDOUT_FILENO, text.data(), text.size()) ==
               static_cast<ssize_t>(text.size());
    }

    // --- directories held open ---
    TOsResult OpenDirectory(const std::string& path, std::unique_ptr<TDirectory>& out) override {
        return host::OpenDirectory(path, out);
    }
    std::string UserSid() override { return host::CurrentAccountSid(); }
    TOsResult OpenOutputFile(const std::string& path, TOutputFileInfo& out) override {
        return host::OpenOutputFile(path, out);
    }

    // --- who runs, and where ---
    // Accounts here are POSIX users: a directory of our own is one only we
    // may enter.
    bool CreatePrivateDir(const std::string& path) override {
        return ::mkdir(NativePath(path).c_str(), 0700) == 0;
    }
    int64_t FreeDiskSpace(const std::string& dir) override {
        struct statvfs fs;
        if (::statvfs(NativePath(dir).c_str(), &fs) != 0) return -1;
        return static_cast<int64_t>(fs.f_bavail) * static_cast<int64_t>(fs.f_frsize);
    }

    // --- one update at a time on a machine ---
    TRunLockResult TakeRunLock() override {
        TRunLockResult result;
        const std::string path = GetTempDir() + "oupdate.run.lock";
        const int fd = ::open(path.c_str(), O_RDONLY | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0644);
        if (fd < 0) {
            result.Note = path + ": " + std::strerror(errno);
            return result;
        }
        if (::flock(fd, LOCK_EX | LOCK_NB) == 0) {
            result.Lock = std::make_unique<THostRunLock>(fd);
            return result;
        }
        result.HeldElsewhere = errno == EWOULDBLOCK;
        if (!result.HeldElsewhere) result.Note = path + ": " + std::strerror(errno);
        ::close(fd);
        return result;
    }

    // --- signed data and digests ---
    TSignedData DecodeSignedData(const std::vector<uint8_t>& der, bool verify) override {
        return host::DecodeSignedData(der, verify);
    }
    bool Sha256(TStream& stream, TSha256& digest, int64_t& size) override {
        return host::Sha256(stream, digest, size);
    }
};

}  // namespace

std::unique_ptr<TFileStream> host::FileFromDescriptor(int fd) {
    return std::make_unique<THostFile>(fd);
}

TPlatform& SystemPlatform() {
    static THostPlatform platform;
    return platform;
}

}  // namespace oup
