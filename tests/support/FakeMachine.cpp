#include "support/FakeMachine.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>

#include "common/DateTime.h"
#include "common/Errors.h"

namespace oup::test {

namespace {
const char* kSharingViolation =
    "The process cannot access the file because it is being used by another process";
const char* kNotFound = "The system cannot find the file specified";
constexpr uint32_t kErrorNotFound = 2, kErrorPathNotFound = 3, kErrorDiskFull = 112;
}  // namespace

class TFakeFile : public TFileStream {
public:
    TFakeFile(TFakeMachine& machine, std::shared_ptr<TFakeMachine::TData> data, bool canRead,
              bool canWrite, bool denyWrite = false)
        : machine_(machine),
          data_(std::move(data)),
          canRead_(canRead),
          canWrite_(canWrite),
          denyWrite_(denyWrite) {
        ++machine_.openFiles_;
        if (canWrite_) ++data_->Writers;
        if (denyWrite_) ++data_->WriteDeniers;
    }
    ~TFakeFile() override {
        --machine_.openFiles_;
        if (canWrite_) --data_->Writers;
        if (denyWrite_) --data_->WriteDeniers;
    }

    size_t Read(void* buffer, size_t count) override {
        auto& b = data_->Bytes;
        // As ReadFile fails on a handle without read access, or on a bad sector.
        if (!canRead_ || (count > 0 && pos_ >= data_->ReadLimit)) throw EReadError(kReadErrorText);
        if (pos_ >= b.size()) return 0;
        const size_t n = std::min({count, b.size() - pos_, data_->ReadLimit - pos_});
        std::memcpy(buffer, b.data() + pos_, n);
        pos_ += n;
        return n;
    }
    size_t Write(const void* buffer, size_t count) override {
        auto& b = data_->Bytes;
        if (!canWrite_) return 0;
        if (pos_ >= data_->WriteLimit) return 0;
        count = std::min(count, data_->WriteLimit - pos_);
        if (pos_ + count > b.size()) b.resize(pos_ + count);
        std::memcpy(b.data() + pos_, buffer, count);
        pos_ += count;
        return count;
    }
    int64_t Seek(int64_t offset, TSeekOrigin origin) override {
        if (data_->SeekFails && (origin != TSeekOrigin::soCurrent || offset != 0)) return -1;
        int64_t base = origin == TSeekOrigin::soBeginning ? 0
                       : origin == TSeekOrigin::soCurrent ? static_cast<int64_t>(pos_)
                                                          : static_cast<int64_t>(data_->Bytes.size());
        if (base + offset < 0) return -1;
        pos_ = static_cast<size_t>(base + offset);
        return base + offset;
    }
    bool SetLastWriteDos(int32_t dos) override {
        if (!canWrite_ || !IsValidDosTime(dos)) return false;
        data_->Time = dos;
        return true;
    }
    bool Truncate() override {
        if (!canWrite_) return false;
        data_->Bytes.resize(std::min(pos_, data_->Bytes.size()));
        return true;
    }

private:
    static bool IsValidDosTime(int32_t dos) { return IsValidDos(dos); }
    TFakeMachine& machine_;
    std::shared_ptr<TFakeMachine::TData> data_;
    bool canRead_, canWrite_, denyWrite_;
    size_t pos_ = 0;
};

TFakeMachine::TFakeMachine() {}

void TFakeMachine::AddShortName(const std::string& longPath, const std::string& shortPath) {
    shortNames_[Key(longPath)] = ExcludeTrailingBackslash(shortPath);
    longNames_[Key(shortPath)] = ExcludeTrailingBackslash(longPath);
}

std::string TFakeMachine::UsablePath(const std::string& path) const {
    if (std::all_of(path.begin(), path.end(),
                    [](char c) { return static_cast<unsigned char>(c) < 128; }))
        return path;
    const auto s = shortNames_.find(Key(path));
    if (s == shortNames_.end()) throw ENameNotRepresentable(path);
    return s->second;
}

std::string TFakeMachine::SiblingPath(const std::string& path, const std::string& ext) {
    const auto l = longNames_.find(Key(path));
    if (l == longNames_.end()) return ChangeFileExt(path, ext);
    try {
        return UsablePath(ChangeFileExt(l->second, ext));
    } catch (const ENameNotRepresentable&) {
        return std::string();  // no file of that name: a name not to be had
    }
}

std::string TFakeMachine::Key(const std::string& path) {
    std::string k;
    k.reserve(path.size());
    for (char c : path) k += (c == '/') ? '\\' : c;
    // Windows resolves "." and ".." parts before it touches a file, so a
    // path that climbs out of a directory reaches what it names.
    if (k.find("\\.") != std::string::npos) {
        std::vector<std::string> parts;
        size_t start = 0;
        const bool unc = k.compare(0, 2, "\\\\") == 0;
        if (unc) start = 2;
        for (size_t i = start; i <= k.size(); ++i) {
            if (i == k.size() || k[i] == '\\') {
                const std::string part = k.substr(start, i - start);
                if (part == "..") {
                    if (parts.size() > 1) parts.pop_back();
                } else if (part != ".") {
                    parts.push_back(part);
                }
                start = i + 1;
            }
        }
        k = unc ? "\\\\" : "";
        for (size_t i = 0; i < parts.size(); ++i) k += (i ? "\\" : "") + parts[i];
    }
    while (k.size() > 2 && k.back() == '\\') k.pop_back();
    return AsciiUpperCase(k);
}

std::string TFakeMachine::ParentKey(const std::string& key) {
    const size_t p = key.rfind('\\');
    if (p == std::string::npos || p < 2) return std::string();
    std::string parent = key.substr(0, p);
    // The parent of "\\SERVER\SHARE" is no directory of ours.
    if (parent.size() > 2 && parent[0] == '\\' && parent[1] == '\\' &&
        parent.find('\\', 2) == std::string::npos)
        return std::string();
    return parent;
}

std::string TFakeMachine::Locate(const std::string& path, bool followLast) const {
    std::string key = Key(path);
    if (links_ == 0) return key;
    // Each link met is replaced by its target and the walk starts over; a
    // circle of links ends after a while, as the system's own limit does.
    for (int depth = 0; depth < 32; ++depth) {
        size_t at = key.compare(0, 2, "\\\\") == 0 ? key.find('\\', key.find('\\', 2) + 1)
                                                   : key.find('\\');
        bool replaced = false;
        for (;;) {
            const bool last = at == std::string::npos;
            if (last && !followLast) break;
            const auto it = nodes_.find(last ? key : key.substr(0, at));
            if (it != nodes_.end() && !it->second.LinkTarget.empty()) {
                key = Key(it->second.LinkTarget) + (last ? std::string() : key.substr(at));
                replaced = true;
                break;
            }
            if (last) break;
            at = key.find('\\', at + 1);
        }
        if (!replaced) break;
    }
    return key;
}

std::string TFakeMachine::ShownPath(const std::string& key, const std::string& path) const {
    const auto parent = nodes_.find(ParentKey(key));
    std::string name = ExcludeTrailingBackslash(path);
    name = name.substr(name.find_last_of("\\/") + 1);
    return parent == nodes_.end() ? ExcludeTrailingBackslash(path) : parent->second.Path + "\\" + name;
}

TFakeMachine::TNode& TFakeMachine::PutFile(const std::string& path, int32_t time, uint32_t attr) {
    const std::string key = Locate(path);
    auto data = std::make_shared<TData>();
    data->Time = time;
    TNode& node = nodes_[key];
    node = TNode{ShownPath(key, path), attr & ~faDirectory, data, false};
    return node;
}

TFakeMachine::TNode* TFakeMachine::Find(const std::string& path) {
    auto it = nodes_.find(Locate(path));
    return it == nodes_.end() ? nullptr : &it->second;
}

const TFakeMachine::TNode* TFakeMachine::Find(const std::string& path) const {
    auto it = nodes_.find(Locate(path));
    return it == nodes_.end() ? nullptr : &it->second;
}

bool TFakeMachine::ParentIsDir(const std::string& key) const {
    const std::string parent = ParentKey(key);
    if (parent.empty()) return false;
    auto it = nodes_.find(parent);
    return it != nodes_.end() && (it->second.Attr & faDirectory);
}

void TFakeMachine::AddDrive(char letter, unsigned type) {
    const char up = static_cast<char>(std::toupper(static_cast<unsigned char>(letter)));
    driveTypes_[up] = type;
    if (type == dtFixed || type == dtRemote || type == dtRamDisk || type == dtRemovable ||
        type == dtCdRom)
        nodes_[std::string(1, up) + ":"] = TNode{std::string(1, up) + ":", faDirectory, nullptr, false};
}

void TFakeMachine::AddShare(const std::string& unc) {
    nodes_[Key(unc)] = TNode{unc, faDirectory, nullptr, false};
}

void TFakeMachine::AddDir(const std::string& path, uint32_t attr) {
    const std::string key = Key(path);
    if (key.empty()) return;
    const std::string parent = ParentKey(key);
    if (!parent.empty() && !nodes_.count(parent)) {
        const size_t p = path.find_last_of("\\/", path.size() - (path.back() == '\\' ? 2 : 1));
        AddDir(path.substr(0, p));
    }
    std::string shown = path;
    while (shown.size() > 2 && shown.back() == '\\') shown.pop_back();
    nodes_[key] = TNode{shown, attr | faDirectory, nullptr, false};
}

void TFakeMachine::AddFile(const std::string& path, const std::string& content, int32_t dosTime,
                           uint32_t attr) {
    const size_t p = path.find_last_of("\\/");
    if (p != std::string::npos && p >= 2 && !nodes_.count(ParentKey(Key(path))))
        AddDir(path.substr(0, p));
    auto data = std::make_shared<TData>();
    data->Bytes.assign(content.begin(), content.end());
    data->Time = dosTime;
    nodes_[Key(path)] = TNode{path, attr & ~faDirectory, data, false};
}

void TFakeMachine::SetAttr(const std::string& path, uint32_t attr) {
    if (TNode* n = Find(path)) n->Attr = (n->Attr & faDirectory) | (attr & ~faDirectory);
}

void TFakeMachine::Lock(const std::string& path, bool locked) {
    if (TNode* n = Find(path)) n->Locked = locked;
}

void TFakeMachine::FailWritesAfter(const std::string& path, size_t bytes) {
    if (!Find(path)) AddFile(path, "");
    Find(path)->Data->WriteLimit = bytes;
}

void TFakeMachine::FailReadsAfter(const std::string& path, size_t bytes) {
    Find(path)->Data->ReadLimit = bytes;
}

void TFakeMachine::FailSeeks(const std::string& path) { Find(path)->Data->SeekFails = true; }

void TFakeMachine::SetDiskSpace(char drive, size_t bytes) {
    diskSpace_[static_cast<char>(std::toupper(static_cast<unsigned char>(drive)))] = bytes;
}

bool TFakeMachine::Exists(const std::string& path) const { return Find(path) != nullptr; }

std::string TFakeMachine::Content(const std::string& path) const {
    const TNode* n = Find(path);
    if (!n || !n->Data) throw std::runtime_error("no file " + path);
    return std::string(n->Data->Bytes.begin(), n->Data->Bytes.end());
}

int32_t TFakeMachine::Time(const std::string& path) const {
    const TNode* n = Find(path);
    if (!n || !n->Data) throw std::runtime_error("no file " + path);
    return n->Data->Time;
}

std::vector<std::string> TFakeMachine::AllPaths() const {
    std::vector<std::string> out;
    for (const auto& [key, node] : nodes_) out.push_back(node.Path);
    return out;
}

namespace {
// Counts a call as in progress for as long as it runs.
class TCallCount {
public:
    TCallCount(std::mutex& mutex, int& count) : mutex_(mutex), count_(count) {
        std::lock_guard<std::mutex> lock(mutex_);
        ++count_;
    }
    ~TCallCount() {
        std::lock_guard<std::mutex> lock(mutex_);
        --count_;
    }

private:
    std::mutex& mutex_;
    int& count_;
};
}  // namespace

void TFakeMachine::SetNoAnsiName(const std::string& path) {
    if (TNode* n = Find(path)) n->NoAnsiName = true;
}

void TFakeMachine::HoldListings(const std::string& dir) {
    std::lock_guard<std::mutex> lock(holdMutex_);
    held_.insert(Key(dir));
}

void TFakeMachine::ReleaseListings() {
    {
        std::lock_guard<std::mutex> lock(holdMutex_);
        held_.clear();
    }
    holdCv_.notify_all();
}

int TFakeMachine::ListingsHeld() const {
    std::lock_guard<std::mutex> lock(holdMutex_);
    return heldNow_;
}

int TFakeMachine::CallsInProgress() const {
    std::lock_guard<std::mutex> lock(holdMutex_);
    return callsNow_;
}

bool TFakeMachine::ListDirectory(const std::string& dir,
                                 const std::function<void(const TDirEntry&)>& onEntry) {
    TCallCount call(holdMutex_, callsNow_);
    std::vector<TDirEntry> entries;
    const std::string dirKey = Locate(dir, true);
    {
        std::unique_lock<std::mutex> lock(holdMutex_);
        if (held_.count(dirKey)) {
            ++heldNow_;
            holdCv_.wait(lock, [&] { return !held_.count(dirKey); });
            --heldNow_;
        }
    }
    std::unique_lock<std::mutex> lock(mutex_);
    Listings.push_back(dir);
    auto node = nodes_.find(dirKey);
    if (TooLong(dir + "\\*.*") || node == nodes_.end() || !(node->second.Attr & faDirectory))
        return false;
    // Windows lists "." and ".." first in every directory but a root.
    if (dirKey.size() > 2) entries.insert(entries.end(), {{".", faDirectory}, {"..", faDirectory}});
    const std::string prefix = dirKey + "\\";
    for (auto it = nodes_.lower_bound(prefix);
         it != nodes_.end() && it->first.compare(0, prefix.size(), prefix) == 0; ++it) {
        if (it->first.find('\\', prefix.size()) != std::string::npos) continue;
        const TNode& n = it->second;
        TDirEntry entry{n.Path.substr(n.Path.find_last_of("\\/") + 1), n.Attr, n.NoAnsiName};
        if (n.NoAnsiName) entry.Name = std::string(entry.Name.size(), '?');
        entries.push_back(std::move(entry));
    }
    // Handed over unlocked, as FindFiles does: the receiver may call back.
    lock.unlock();
    for (const TDirEntry& entry : entries) onEntry(entry);
    return true;
}

bool TFakeMachine::FindFiles(const std::string& pattern,
                             const std::function<bool(const TSearchRec&)>& onEntry) {
    TCallCount call(holdMutex_, callsNow_);
    std::string norm = pattern;
    std::replace(norm.begin(), norm.end(), '/', '\\');
    const size_t p = norm.rfind('\\');
    if (p == std::string::npos) return false;
    const std::string dirKey = Locate(norm.substr(0, p), true);
    const std::string mask = norm.substr(p + 1);
    std::unique_lock<std::mutex> lock(mutex_);
    if (mask == "*.*") Listings.push_back(norm.substr(0, p));
    auto dir = nodes_.find(dirKey);
    if (dir == nodes_.end() || !(dir->second.Attr & faDirectory) || mask.empty() || TooLong(norm))
        return false;

    // Snapshot the matches first: a callback may change the machine.
    std::vector<TSearchRec> matches;
    const std::string prefix = dirKey + "\\";
    for (auto it = nodes_.lower_bound(prefix);
         it != nodes_.end() && it->first.compare(0, prefix.size(), prefix) == 0; ++it) {
        if (it->first.find('\\', prefix.size()) != std::string::npos) continue;
        const TNode& n = it->second;
        const std::string name = n.Path.substr(n.Path.find_last_of("\\/") + 1);
        if (!MatchesMask(name, mask)) continue;
        TSearchRec r;
        r.Name = name;
        r.Attr = n.Attr;
        r.Size = n.Data ? static_cast<int64_t>(n.Data->Bytes.size()) : 0;
        r.Time = n.Data ? n.Data->Time : kDefaultTime;
        matches.push_back(r);
    }
    // Windows lists "." and ".." first in every directory but a root.
    if (dirKey.size() > 2 && MatchesMask(".", mask)) {
        matches.insert(matches.begin(), {TSearchRec{".", faDirectory, 0, kDefaultTime},
                                         TSearchRec{"..", faDirectory, 0, kDefaultTime}});
    }
    lock.unlock();
    for (const TSearchRec& r : matches)
        if (!onEntry(r)) break;
    return !matches.empty();
}

std::unique_ptr<TFileStream> TFakeMachine::OpenFile(const std::string& path, TOpenMode mode) {
    const std::string key = Locate(path);
    auto fail = [&](const char* reason) -> std::unique_ptr<TFileStream> {
        throw EFOpenError(FormatMessage(kCannotOpenFileText, {path, reason}));
    };
    TNode* n = Find(path);
    if (n && n->Locked) return fail(kSharingViolation);
    if (n && (n->Attr & faDirectory)) return fail("Access is denied");
    if (n && n->Data && (mode == TOpenMode::ReadDenyWrite ? n->Data->Writers > 0
                                                         : mode != TOpenMode::ReadShared &&
                                                               n->Data->WriteDeniers > 0))
        return fail(kSharingViolation);
    switch (mode) {
        case TOpenMode::ReadDenyWrite:
            if (!n) return fail(kNotFound);
            return std::make_unique<TFakeFile>(*this, n->Data, true, false, true);
        case TOpenMode::ReadShared:
            if (!n) return fail(kNotFound);
            return std::make_unique<TFakeFile>(*this, n->Data, true, false);
        case TOpenMode::WriteShared:
        case TOpenMode::ReadWriteShared:
            if (!n) return fail(kNotFound);
            if (n->Attr & faReadOnly) return fail("Access is denied");
            return std::make_unique<TFakeFile>(*this, n->Data, mode == TOpenMode::ReadWriteShared,
                                               true);
        case TOpenMode::Create: {
            if (n && (n->Attr & faReadOnly)) return fail("Access is denied");
            if (!ParentIsDir(key)) return fail("The system cannot find the path specified");
            if (!n) n = &PutFile(path, kDefaultTime, faArchive);
            n->Data->Bytes.clear();
            return std::make_unique<TFakeFile>(*this, n->Data, true, true);
        }
    }
    return fail(kNotFound);
}

uint32_t TFakeMachine::GetAttributes(const std::string& path) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (TooLong(path)) return kInvalidAttributes;
    const TNode* n = Find(path);
    return n ? n->Attr : kInvalidAttributes;
}

bool TFakeMachine::CreateDir(const std::string& path) {
    const std::string key = Locate(path);
    if (nodes_.count(key) || !ParentIsDir(key)) return false;
    nodes_[key] = TNode{ShownPath(key, path), faDirectory, nullptr, false};
    return true;
}

bool TFakeMachine::RemoveDir(const std::string& path) {
    const std::string key = Locate(path);
    auto it = nodes_.find(key);
    if (it == nodes_.end() || !(it->second.Attr & faDirectory)) return false;
    auto next = std::next(it);
    if (next != nodes_.end() && next->first.compare(0, key.size() + 1, key + "\\") == 0)
        return false;  // not empty
    nodes_.erase(it);
    return true;
}

bool TFakeMachine::DeleteFile(const std::string& path) {
    auto it = nodes_.find(Locate(path));
    if (it == nodes_.end() || (it->second.Attr & faDirectory) || it->second.Locked ||
        (it->second.Attr & faReadOnly) || Held(it->second))
        return false;
    nodes_.erase(it);
    return true;
}

TOsResult TFakeMachine::CopyFile(const std::string& source, const std::string& target,
                                 bool failIfExists) {
    if (BeforeCopy) BeforeCopy(target);
    const TNode* s = Find(source);
    if (!s || !s->Data) return {kErrorNotFound};
    if (s->Locked) return {kErrorSharingViolation};
    TNode* t = Find(target);
    if (t && failIfExists) return {kErrorFileExists};
    if (t && Held(*t)) return {kErrorSharingViolation};
    if (t && (t->Locked || (t->Attr & faDirectory) || (t->Attr & faReadOnly)))
        return {kErrorAccessDenied};
    if (!t && !ParentIsDir(Locate(target))) return {kErrorPathNotFound};
    size_t limit = t ? t->Data->WriteLimit : SIZE_MAX;
    const std::string targetKey = Locate(target);
    if (targetKey.size() >= 2 && targetKey[1] == ':') {
        auto space = diskSpace_.find(targetKey[0]);
        if (space != diskSpace_.end()) limit = std::min(limit, space->second);
    }
    if (limit < s->Data->Bytes.size()) {
        // The disk fills up part-way: what was written stays, as with a real copy.
        if (!t) t = &PutFile(target, s->Data->Time, s->Attr);
        t->Data->Bytes.assign(s->Data->Bytes.begin(), s->Data->Bytes.begin() + limit);
        return {kErrorDiskFull};
    }
    const std::vector<uint8_t> bytes = s->Data->Bytes;
    const int32_t time = s->Data->Time;
    const uint32_t attr = s->Attr;
    if (!t) t = &PutFile(target, time, attr);
    t->Data->Bytes = bytes;
    t->Data->Time = time;
    return {};
}

TOsResult TFakeMachine::MoveFileReplace(const std::string& source, const std::string& target) {
    auto s = nodes_.find(Locate(source));
    if (s == nodes_.end()) return {kErrorNotFound};
    if (s->second.Locked || Held(s->second)) return {kErrorSharingViolation};
    TNode* t = Find(target);
    if (t && Held(*t)) return {kErrorSharingViolation};
    // A held file refuses the swap with access denied, as on Windows.
    if (t && t->Locked) {
        if (t->UnlockAfter > 0 && --t->UnlockAfter == 0) t->Locked = false;
        return {kErrorAccessDenied};
    }
    if (t && ((t->Attr & faDirectory) || (t->Attr & faReadOnly))) return {kErrorAccessDenied};
    const std::string targetKey = Locate(target);
    if (!t && !ParentIsDir(targetKey)) return {kErrorPathNotFound};
    TNode moved = s->second;
    nodes_.erase(s);
    moved.Path = ShownPath(targetKey, target);
    nodes_[targetKey] = moved;
    return {};
}

bool TFakeMachine::Held(const TNode& node) { return node.Data && node.Data->WriteDeniers > 0; }

bool TFakeMachine::FileInUse(const std::string& path) {
    const TNode* n = Find(path);
    return n && n->Locked;
}

TOsResult TFakeMachine::MoveFileAtRestart(const std::string& source, const std::string& target) {
    if (!MayScheduleRenames) return {kErrorAccessDenied};
    PendingRenames.emplace_back(source, target);
    return {};
}

std::string TFakeMachine::QueryDosDevice(const std::string& drive) {
    if (drive.size() != 2 || drive[1] != ':') return std::string();
    const char up = static_cast<char>(std::toupper(static_cast<unsigned char>(drive[0])));
    if (auto subst = substs_.find(up); subst != substs_.end()) return "\\??\\" + subst->second;
    if (!driveTypes_.count(up)) return std::string();
    return "\\Device\\HarddiskVolume" + std::to_string(up - 'A' + 1);
}

TRunLockResult TFakeMachine::TakeRunLock() {
    class TFakeRunLock : public TRunLock {
    public:
        explicit TFakeRunLock(int& count) : count_(++count) {}
        ~TFakeRunLock() override { --count_; }

    private:
        int& count_;
    };
    TRunLockResult result;
    if (runLocks_ > 0)
        result.HeldElsewhere = true;
    else
        result.Lock = std::make_unique<TFakeRunLock>(runLocks_);
    return result;
}

void TFakeMachine::UnlockAfter(const std::string& path, int attempts) {
    Lock(path);
    if (TNode* n = Find(path)) n->UnlockAfter = attempts;
}

void TFakeMachine::Subst(char drive, const std::string& path) {
    const char up = static_cast<char>(std::toupper(static_cast<unsigned char>(drive)));
    substs_[up] = path;
    AddDrive(up, dtFixed);
}

void TFakeMachine::Restart() {
    for (auto& [key, node] : nodes_) node.Locked = false;
    for (const auto& [source, target] : PendingRenames)
        if (Exists(source)) MoveFileReplace(source, target);
    PendingRenames.clear();
}

unsigned TFakeMachine::GetDriveType(const std::string& root) {
    std::string r = root;
    if (r.size() >= 2 && r[1] == ':') {
        auto it = driveTypes_.find(static_cast<char>(std::toupper(static_cast<unsigned char>(r[0]))));
        return it == driveTypes_.end() ? dtNoRootDir : it->second;
    }
    if (r.size() > 2 && r[0] == '\\' && r[1] == '\\') {
        // "\\server\share\": remote when the share exists.
        const TNode* n = Find(r);
        return n && (n->Attr & faDirectory) && ParentKey(Key(r)).empty() ? dtRemote : dtNoRootDir;
    }
    return dtNoRootDir;
}

std::string TFakeMachine::AnsiUpperCase(const std::string& text) { return UpperCase1252(text); }

// --- links, final paths, rights and directories held open ---

void TFakeMachine::AddLink(const std::string& path, const std::string& target, bool listed) {
    const TNode* to = Find(target);
    const uint32_t kind = to && !(to->Attr & faDirectory) ? faArchive : faDirectory;
    const std::string key = Key(path);
    if (!nodes_.count(key) || nodes_[key].LinkTarget.empty()) ++links_;
    if (!nodes_.count(ParentKey(key))) AddDir(ExtractFilePath(path));
    nodes_[key] = TNode{ExcludeTrailingBackslash(path), kind | (listed ? uint32_t{faReparsePoint} : 0u),
                        nullptr, false};
    nodes_[key].LinkTarget = target;
    nodes_[key].Unlisted = !listed;
}

void TFakeMachine::SetWriters(const std::string& dir,
                              std::optional<std::vector<std::string>> sids) {
    if (TNode* n = Find(dir)) {
        n->Writers = std::move(sids);
        n->WritersSet = true;
    }
}

namespace {
const char* kSystemSid = "S-1-5-18";
const char* kAdministratorsSid = "S-1-5-32-544";
constexpr uint32_t kErrorDirectoryName = 267;
}  // namespace

// A temporary file of a directory held open: gone when dropped uncommitted,
// as a file marked for deletion goes with its last handle.
class TFakeHeldFile : public THeldFile {
public:
    TFakeHeldFile(TFakeMachine& machine, std::string key, std::string dirKey)
        : machine_(machine), key_(std::move(key)), dirKey_(std::move(dirKey)),
          file_(machine, machine.nodes_.at(key_).Data, true, true) {}
    ~TFakeHeldFile() override {
        if (committed_) return;
        const auto it = machine_.nodes_.find(key_);
        if (it != machine_.nodes_.end() && it->second.Data == data()) machine_.nodes_.erase(it);
    }
    size_t Read(void* buffer, size_t count) override { return file_.Read(buffer, count); }
    size_t Write(const void* buffer, size_t count) override { return file_.Write(buffer, count); }
    int64_t Seek(int64_t offset, TSeekOrigin origin) override { return file_.Seek(offset, origin); }
    bool SetLastWriteDos(int32_t dos) override { return file_.SetLastWriteDos(dos); }
    bool Truncate() override { return file_.Truncate(); }
    std::string FinalPath() override {
        const auto it = machine_.nodes_.find(key_);
        return it == machine_.nodes_.end() ? std::string() : it->second.Path;
    }
    bool Flush() override {
        flushed_ = true;
        return true;
    }
    TOsResult CommitAs(const std::string& name) override {
        const auto dir = machine_.nodes_.find(dirKey_);
        if (dir != machine_.nodes_.end() && machine_.BeforeCommit)
            machine_.BeforeCommit(dir->second.Path + "\\" + name);
        if (const TOsResult moved = machine_.MoveEntry(key_, dirKey_, name); !moved) return moved;
        key_ = dirKey_ + "\\" + TFakeMachine::Key(name);
        committed_ = true;
        ++machine_.Commits;
        machine_.UnflushedCommits += !flushed_;
        return {};
    }

private:
    std::shared_ptr<TFakeMachine::TData> data() const {
        const auto it = machine_.nodes_.find(key_);
        return it == machine_.nodes_.end() ? nullptr : it->second.Data;
    }
    TFakeMachine& machine_;
    std::string key_, dirKey_;
    TFakeFile file_;
    bool committed_ = false, flushed_ = false;
};

class TFakeDirectory : public TDirectory {
public:
    TFakeDirectory(TFakeMachine& machine, std::string key) : m_(machine), key_(std::move(key)) {}

    std::string FinalPath() override {
        const auto it = m_.nodes_.find(key_);
        return it == m_.nodes_.end() ? std::string() : it->second.Path;
    }
    TEntryInfo Entry(const std::string& name) override {
        const TFakeMachine::TNode* n = Child(name);
        if (n && n->Unlisted) {
            const auto target = m_.nodes_.find(m_.Locate(n->LinkTarget, true));
            n = target == m_.nodes_.end() ? nullptr : &target->second;
        }
        if (!n) return {};
        const TEntryKind kind = !n->LinkTarget.empty()      ? TEntryKind::Link
                                : (n->Attr & faDirectory) ? TEntryKind::Directory
                                                          : TEntryKind::File;
        return {kind, n->Attr};
    }
    TOsResult OpenSubdirectory(const std::string& name, bool create,
                               std::unique_ptr<TDirectory>& out) override {
        out.reset();
        const TEntryInfo entry = Entry(name);
        if (entry.Kind == TEntryKind::Link) return {kErrorIsALink};
        if (entry.Kind == TEntryKind::File) return {kErrorDirectoryName};
        if (entry.Kind == TEntryKind::Missing) {
            if (!create) return {3};
            if (!m_.nodes_.count(key_)) return {3};
            m_.nodes_[ChildKey(name)] =
                TFakeMachine::TNode{FinalPath() + "\\" + name, faDirectory, nullptr, false};
        }
        const TFakeMachine::TNode* n = Child(name);
        out = std::make_unique<TFakeDirectory>(
            m_, n && n->Unlisted ? m_.Locate(n->LinkTarget, true) : ChildKey(name));
        return {};
    }
    TOsResult CreateTempFile(const std::string& name, std::unique_ptr<THeldFile>& out) override {
        out.reset();
        if (m_.BeforeCopy) m_.BeforeCopy(FinalPath() + "\\" + name);
        if (Child(name)) return {kErrorFileExists};
        if (!m_.nodes_.count(key_)) return {3};
        auto data = std::make_shared<TFakeMachine::TData>();
        if (key_.size() >= 2 && key_[1] == ':') {
            const auto space = m_.diskSpace_.find(key_[0]);
            if (space != m_.diskSpace_.end()) data->WriteLimit = space->second;
        }
        m_.nodes_[ChildKey(name)] =
            TFakeMachine::TNode{FinalPath() + "\\" + name, faArchive, data, false};
        out = std::make_unique<TFakeHeldFile>(m_, ChildKey(name), key_);
        return {};
    }
    TOsResult DeleteEntry(const std::string& name) override {
        const auto it = m_.nodes_.find(ChildKey(name));
        if (it == m_.nodes_.end()) return {2};
        const TFakeMachine::TNode& n = it->second;
        if (n.Locked || (n.Attr & faReadOnly) || ((n.Attr & faDirectory) && n.LinkTarget.empty()))
            return {kErrorAccessDenied};
        if (!n.LinkTarget.empty()) --m_.links_;
        m_.nodes_.erase(it);
        return {};
    }
    TOsResult LinkEntry(const std::string& name, const std::string& newName) override {
        return Duplicate(name, newName, true);
    }
    TOsResult RenameEntry(const std::string& from, const std::string& to) override {
        return m_.MoveEntry(ChildKey(from), key_, to);
    }
    TOsResult CopyEntry(const std::string& name, const std::string& newName) override {
        return Duplicate(name, newName, false);
    }
    std::optional<TFolderWriters> Writers() override {
        const auto it = m_.nodes_.find(key_);
        if (it == m_.nodes_.end() || (it->second.WritersSet && !it->second.Writers))
            return std::nullopt;
        if (it->second.Writers) return TFolderWriters{*it->second.Writers};
        return TFolderWriters{{kSystemSid, kAdministratorsSid}};
    }

private:
    std::string ChildKey(const std::string& name) const { return key_ + "\\" + TFakeMachine::Key(name); }
    const TFakeMachine::TNode* Child(const std::string& name) const {
        const auto it = m_.nodes_.find(ChildKey(name));
        return it == m_.nodes_.end() ? nullptr : &it->second;
    }
    TOsResult Replaceable(const std::string& name) {
        const TFakeMachine::TNode* t = Child(name);
        if (t && (t->Locked || (t->Attr & faDirectory) || (t->Attr & faReadOnly)))
            return {kErrorAccessDenied};
        return {};
    }
    // A hard link shares the bytes; a copy has its own.
    TOsResult Duplicate(const std::string& name, const std::string& newName, bool link) {
        const TFakeMachine::TNode* s = Child(name);
        if (!s || !s->Data || !s->LinkTarget.empty()) return {2};
        if (const TOsResult free = Replaceable(newName); !free) return free;
        TFakeMachine::TNode copy = *s;
        copy.Path = FinalPath() + "\\" + newName;
        copy.Locked = false;
        if (!link) copy.Data = std::make_shared<TFakeMachine::TData>(*s->Data);
        m_.nodes_[ChildKey(newName)] = copy;
        return {};
    }
    TFakeMachine& m_;
    std::string key_;
};

TOsResult TFakeMachine::MoveEntry(const std::string& fromKey, const std::string& dirKey,
                                  const std::string& name) {
    const auto from = nodes_.find(fromKey), dir = nodes_.find(dirKey);
    if (from == nodes_.end() || dir == nodes_.end()) return {kErrorNotFound};
    if (from->second.Locked) return {kErrorSharingViolation};
    const std::string target = dirKey + "\\" + Key(name);
    if (TNode* t = target == fromKey ? nullptr : Find(target)) {
        // A held file refuses the rename with access denied, as on Windows.
        if (t->Locked) {
            if (t->UnlockAfter > 0 && --t->UnlockAfter == 0) t->Locked = false;
            return {kErrorAccessDenied};
        }
        if ((t->Attr & faDirectory) || (t->Attr & faReadOnly)) return {kErrorAccessDenied};
    }
    TNode moved = from->second;
    nodes_.erase(from);
    moved.Path = dir->second.Path + "\\" + name;
    nodes_[target] = moved;
    return {};
}

TOsResult TFakeMachine::OpenDirectory(const std::string& path, std::unique_ptr<TDirectory>& out) {
    out.reset();
    const std::string key = Locate(path, true);
    const auto it = nodes_.find(key);
    if (it == nodes_.end()) return {kErrorPathNotFound};
    if (!(it->second.Attr & faDirectory)) return {kErrorDirectoryName};
    out = std::make_unique<TFakeDirectory>(*this, key);
    return {};
}

TOsResult TFakeMachine::OpenOutputFile(const std::string& path, TOutputFileInfo& out) {
    out = TOutputFileInfo();
    const std::string key = Locate(path);
    auto it = nodes_.find(key);
    if (it != nodes_.end() && it->second.Unlisted) it = nodes_.find(Locate(path, true));
    if (it != nodes_.end() && !it->second.LinkTarget.empty()) {
        out.IsLink = true;
        return {};
    }
    if (it == nodes_.end()) {
        if (!ParentIsDir(key)) return {kErrorPathNotFound};
        PutFile(path, kDefaultTime, faArchive);
        it = nodes_.find(key);
        out.Created = true;
    }
    TNode& n = it->second;
    if (n.Locked) return {kErrorSharingViolation};
    if ((n.Attr & faDirectory) || (n.Attr & faReadOnly)) return {kErrorAccessDenied};
    out.Links = 0;
    for (const auto& [k, other] : nodes_) out.Links += other.Data == n.Data;
    out.FinalPath = n.Path;
    out.GivenPath = path;
    out.File = std::make_unique<TFakeFile>(*this, n.Data, true, true);
    return {};
}

std::unique_ptr<TFileStream> TFakeMachine::OpenMappedModuleFile(const std::string& mappedName) {
    if (BeforeModuleOpen) BeforeModuleOpen();
    return OpenFile(UsablePath(mappedName), TOpenMode::ReadDenyWrite);
}

bool TFakeMachine::CreateDirWithSecurity(const std::string& path, const std::string& sddl) {
    if (!CreateDir(path)) return false;
    DirSecurity[path] = sddl;
    return true;
}

int64_t TFakeMachine::FreeDiskSpace(const std::string& dir) {
    if (dir.size() < 2 || dir[1] != ':') return -1;
    const auto space =
        diskSpace_.find(static_cast<char>(std::toupper(static_cast<unsigned char>(dir[0]))));
    return space == diskSpace_.end() ? -1 : static_cast<int64_t>(space->second);
}

// --- signed data and digests ---

namespace {
constexpr const char* kFakeSignedMagic = "FAKE-SIGNED-DATA";
}  // namespace

std::vector<uint8_t> TFakeMachine::FakeSignedData(const std::string& content,
                                                  const TSignerIdentity& signer,
                                                  bool signatureHolds) {
    const std::string key(signer.PublicKey.begin(), signer.PublicKey.end());
    const std::string text = std::string(kFakeSignedMagic) + "\n" + signer.Subject + "\n" +
                             signer.KeyAlgorithm + "\n" + key + "\n" +
                             (signatureHolds ? "holds" : "broken") + "\n" + content;
    // In a DER SEQUENCE's header, as real signed data comes.
    const std::string der = std::string{'\x30', '\x82', static_cast<char>(text.size() >> 8),
                                        static_cast<char>(text.size())} + text;
    return std::vector<uint8_t>(der.begin(), der.end());
}

TSignedData TFakeMachine::DecodeSignedData(const std::vector<uint8_t>& der, bool verify) {
    TSignedData out;
    std::string rest(der.begin() + std::min<size_t>(der.size(), 4), der.end());
    std::vector<std::string> fields;
    for (int i = 0; i < 5; ++i) {
        const size_t end = rest.find('\n');
        if (end == std::string::npos) {
            out.Detail = "not signed data";
            return out;
        }
        fields.push_back(rest.substr(0, end));
        rest.erase(0, end + 1);
    }
    if (fields[0] != kFakeSignedMagic) {
        out.Detail = "not signed data";
        return out;
    }
    out.Signer = {fields[1], fields[2], std::vector<uint8_t>(fields[3].begin(), fields[3].end())};
    out.Content = rest;
    const bool holds = fields[4] == "holds";
    out.Status = !verify || holds ? TSignedDataStatus::Verified : TSignedDataStatus::BadSignature;
    if (!holds) out.Detail = "the signature does not match";
    return out;
}

bool TFakeMachine::Sha256(TStream& stream, TSha256& digest, int64_t& size) {
    // Four FNV-1a lanes of different starts: any changed byte changes them all.
    uint64_t lanes[4] = {0xcbf29ce484222325ull, 0x84222325cbf29ce4ull, 0x1234567887654321ull,
                         0x0f1e2d3c4b5a6978ull};
    uint8_t buffer[4096];
    size = 0;
    while (const size_t got = stream.Read(buffer, sizeof buffer)) {
        for (size_t i = 0; i < got; ++i)
            for (int lane = 0; lane < 4; ++lane)
                lanes[lane] = (lanes[lane] ^ (buffer[i] + lane)) * 0x100000001b3ull;
        size += static_cast<int64_t>(got);
    }
    for (int i = 0; i < 32; ++i) digest[i] = static_cast<uint8_t>(lanes[i / 8] >> (8 * (i % 8)));
    return true;
}

}  // namespace oup::test
