#include "platform/host/HostDirectory.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <utility>

namespace oup::host {

namespace {

std::string Windows(const std::string& path) {
    std::string p = path;
    for (char& c : p)
        if (c == '/') c = '\\';
    return p;
}

TOsResult Result(bool ok) { return ok ? TOsResult{} : TOsResult{WindowsErrorOf(errno)}; }

// The path the kernel resolves an open descriptor to.
std::string DescriptorPath(int fd) {
    char link[64], target[PATH_MAX];
    std::snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
    const ssize_t n = ::readlink(link, target, sizeof target - 1);
    return n > 0 ? Windows(std::string(target, static_cast<size_t>(n))) : std::string();
}

class TDescriptor {
public:
    explicit TDescriptor(int fd = -1) : fd_(fd) {}
    ~TDescriptor() {
        if (fd_ >= 0) ::close(fd_);
    }
    TDescriptor(const TDescriptor&) = delete;
    TDescriptor& operator=(const TDescriptor&) = delete;
    int Get() const { return fd_; }
    int Release() { return std::exchange(fd_, -1); }

private:
    int fd_;
};

class THostHeldFile : public THeldFile {
public:
    THostHeldFile(int dirFd, std::string name, int fd)
        : dirFd_(dirFd), name_(std::move(name)), fd_(fd), file_(FileFromDescriptor(fd)) {}
    // No deletion on close here: a file dropped uncommitted is removed by name.
    ~THostHeldFile() override {
        if (!committed_) ::unlinkat(dirFd_, name_.c_str(), 0);
    }
    size_t Read(void* buffer, size_t count) override { return file_->Read(buffer, count); }
    size_t Write(const void* buffer, size_t count) override { return file_->Write(buffer, count); }
    int64_t Seek(int64_t offset, TSeekOrigin origin) override {
        return file_->Seek(offset, origin);
    }
    bool SetLastWriteDos(int32_t dos) override { return file_->SetLastWriteDos(dos); }
    bool Truncate() override { return file_->Truncate(); }
    std::string FinalPath() override { return DescriptorPath(fd_); }
    bool Flush() override { return ::fsync(fd_) == 0; }
    TOsResult CommitAs(const std::string& name) override {
        if (::renameat(dirFd_, name_.c_str(), dirFd_, name.c_str()) != 0)
            return {WindowsErrorOf(errno)};
        name_ = name;
        committed_ = true;
        return {};
    }

private:
    int dirFd_;  // the directory's, owned by it
    std::string name_;
    int fd_;  // owned by file_
    std::unique_ptr<TFileStream> file_;
    bool committed_ = false;
};

class THostDirectory : public TDirectory {
public:
    explicit THostDirectory(int fd) : fd_(fd) {}
    std::string FinalPath() override { return DescriptorPath(fd_.Get()); }
    TEntryInfo Entry(const std::string& name) override {
        struct stat st;
        if (::fstatat(fd_.Get(), name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) return {};
        if (S_ISLNK(st.st_mode)) return {TEntryKind::Link, faReparsePoint};
        if (S_ISDIR(st.st_mode)) return {TEntryKind::Directory, faDirectory};
        return {TEntryKind::File, faArchive};
    }
    TOsResult OpenSubdirectory(const std::string& name, bool create,
                               std::unique_ptr<TDirectory>& out) override {
        out.reset();
        if (create && ::mkdirat(fd_.Get(), name.c_str(), 0755) != 0 && errno != EEXIST)
            return {WindowsErrorOf(errno)};
        const int fd =
            ::openat(fd_.Get(), name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        if (fd < 0) {
            // O_NOFOLLOW | O_DIRECTORY on a link says "not a directory".
            const int error = errno;
            if (Entry(name).Kind == TEntryKind::Link) return {kErrorIsALink};
            return {WindowsErrorOf(error)};
        }
        out = std::make_unique<THostDirectory>(fd);
        return {};
    }
    TOsResult CreateTempFile(const std::string& name, std::unique_ptr<THeldFile>& out) override {
        out.reset();
        const int fd = ::openat(fd_.Get(), name.c_str(),
                                O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
        if (fd < 0) return {WindowsErrorOf(errno)};
        out = std::make_unique<THostHeldFile>(fd_.Get(), name, fd);
        return {};
    }
    TOsResult DeleteEntry(const std::string& name) override {
        return Result(::unlinkat(fd_.Get(), name.c_str(), 0) == 0);
    }
    TOsResult LinkEntry(const std::string& name, const std::string& newName) override {
        ::unlinkat(fd_.Get(), newName.c_str(), 0);
        return Result(::linkat(fd_.Get(), name.c_str(), fd_.Get(), newName.c_str(), 0) == 0);
    }
    TOsResult RenameEntry(const std::string& from, const std::string& to) override {
        return Result(::renameat(fd_.Get(), from.c_str(), fd_.Get(), to.c_str()) == 0);
    }
    TOsResult CopyEntry(const std::string& name, const std::string& newName) override {
        const TDescriptor in(::openat(fd_.Get(), name.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC));
        if (in.Get() < 0) return {WindowsErrorOf(errno)};
        struct stat st;
        if (::fstat(in.Get(), &st) != 0) return {WindowsErrorOf(errno)};
        const TDescriptor out(::openat(fd_.Get(), newName.c_str(),
                                       O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC,
                                       st.st_mode & 07777));
        if (out.Get() < 0) return {WindowsErrorOf(errno)};
        char buffer[65536];
        for (ssize_t n; (n = ::read(in.Get(), buffer, sizeof buffer)) != 0;) {
            if (n < 0 || ::write(out.Get(), buffer, static_cast<size_t>(n)) != n)
                return {WindowsErrorOf(errno)};
        }
        const struct timespec times[2] = {st.st_atim, st.st_mtim};
        ::futimens(out.Get(), times);
        return Result(::fsync(out.Get()) == 0);
    }
    // Unix rights in the SIDs Samba gives them: the owner, the group when it
    // may write, everyone when others may.
    std::optional<TFolderWriters> Writers() override {
        struct stat st;
        if (::fstat(fd_.Get(), &st) != 0) return std::nullopt;
        TFolderWriters writers;
        writers.Sids.push_back("S-1-22-1-" + std::to_string(st.st_uid));
        if (st.st_mode & S_IWGRP) writers.Sids.push_back("S-1-22-2-" + std::to_string(st.st_gid));
        if (st.st_mode & S_IWOTH) writers.Sids.push_back("S-1-1-0");
        return writers;
    }

private:
    TDescriptor fd_;
};

}  // namespace

std::string NativePath(const std::string& path) {
    std::string p = path;
    for (char& c : p)
        if (c == '\\') c = '/';
    return p;
}

uint32_t WindowsErrorOf(int error) {
    switch (error) {
        case ENOENT:
            return 2;  // file not found
        case ENOTDIR:
            return 267;  // the directory name is invalid
        case EEXIST:
            return kErrorFileExists;
        case ELOOP:
            return kErrorIsALink;
        case EACCES:
        case EPERM:
        case EISDIR:
        case ENOTEMPTY:
            return kErrorAccessDenied;
        case EBUSY:
        case ETXTBSY:
            return kErrorSharingViolation;
        case EXDEV:
            return 17;  // not the same device
        case EOPNOTSUPP:
            return kErrorNotSupported;
        default:
            return 31;  // a device attached to the system is not functioning
    }
}

std::string CurrentAccountSid() { return "S-1-22-1-" + std::to_string(::geteuid()); }

TOsResult OpenDirectory(const std::string& path, std::unique_ptr<TDirectory>& out) {
    out.reset();
    const int fd = ::open(NativePath(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return {WindowsErrorOf(errno)};
    out = std::make_unique<THostDirectory>(fd);
    return {};
}

TOsResult OpenOutputFile(const std::string& path, TOutputFileInfo& out) {
    out = TOutputFileInfo();
    const std::string native = NativePath(path);
    int fd = ::open(native.c_str(), O_RDWR | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0 && errno == ELOOP) {
        out.IsLink = true;
        return {};
    }
    if (fd < 0 && errno == ENOENT) {
        // Readable and writable by this account alone.
        fd = ::open(native.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
        out.Created = fd >= 0;
    }
    if (fd < 0) return {WindowsErrorOf(errno)};
    out.File = FileFromDescriptor(fd);
    struct stat st;
    if (::fstat(fd, &st) == 0) out.Links = static_cast<uint32_t>(st.st_nlink);
    out.FinalPath = DescriptorPath(fd);
    // The given path made absolute, nothing on it resolved.
    char cwd[PATH_MAX];
    out.GivenPath = Windows(
        native[0] == '/' || !::getcwd(cwd, sizeof cwd) ? native : std::string(cwd) + "/" + native);
    return {};
}

}  // namespace oup::host
