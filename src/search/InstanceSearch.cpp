#include "search/InstanceSearch.h"

namespace oup {

namespace {
enum : uint8_t { kReachedQueued = 1, kReachedTested = 2 };

bool IsDotEntry(const std::string& name) {
    const std::string trimmed = Trim(name);
    return trimmed == "." || trimmed == "..";
}
}  // namespace

TInstanceSearch::TInstanceSearch(TPlatform& platform, TInstanceSearchSetup setup)
    : platform_(platform),
      setup_(std::move(setup)),
      workDirKey_(platform.AnsiUpperCase(setup_.WorkDir)) {}

bool TInstanceSearch::IsInstanceDir(const std::string& path) {
    // The package is extracted into the work directory, program file and
    // all; it is never an installation.
    if (platform_.AnsiUpperCase(path) + "\\" == workDirKey_) return false;
    bool found = false;
    platform_.FindFiles(path + "\\" + setup_.ProgramFile, [&](const TSearchRec& r) {
        if (r.Attr & (faHidden | faSysFile)) return true;
        found = true;
        return false;
    });
    return found;
}

void TInstanceSearch::Reach(const std::string& path, bool test, bool queue) {
    uint8_t& state = reached_[platform_.AnsiUpperCase(path)];
    if (test && !(state & kReachedTested)) {
        state |= kReachedTested;
        if (IsInstanceDir(path) && OnFound) OnFound(path);
    }
    if (queue && !(state & kReachedQueued)) {
        state |= kReachedQueued;
        queue_.push_back(path);
    }
}

bool TInstanceSearch::Run(const std::vector<std::string>& roots) {
    queue_.clear();
    reached_.clear();
    position_ = 0;
    for (const std::string& root : roots)
        if (!SearchRoot(root)) return false;
    return true;
}

bool TInstanceSearch::SearchRoot(const std::string& root) {
    if (OnRoot) OnRoot(root);
    // Installations under the Windows directory are met before the rest of
    // the drive; the walk of the root later finds it already queued.
    if (AsciiUpperCase(root) == "C:" && !setup_.WindowsDir.empty())
        Reach(setup_.WindowsDir, false, true);
    Reach(root, true, true);
    if (Stop()) return false;

    while (position_ < queue_.size()) {
        if (Stop()) return false;
        // The queue grows while its entry is listed: work on a copy.
        const std::string dir = queue_[position_];
        platform_.FindFiles(dir + "\\*.*", [&](const TSearchRec& r) {
            if (r.Attr & (faHidden | faSysFile)) return true;
            if (!(r.Attr & faDirectory) || IsDotEntry(r.Name)) return true;
            const std::string sub = dir + "\\" + r.Name;
            if (!platform_.DirectoryExists(sub)) return true;
            // A junction or symbolic link may lead back up the tree: list
            // it, but do not walk into it.
            Reach(sub, true, !(r.Attr & faReparsePoint));
            if (OnDirectory) OnDirectory(sub);
            return true;
        });
        ++position_;
    }
    return true;
}

}  // namespace oup
