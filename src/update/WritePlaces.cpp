#include "update/WritePlaces.h"

#include <algorithm>

#include "common/Paths.h"

namespace oup {

namespace {

constexpr const char* kSystemSid = "S-1-5-18";
constexpr const char* kAdministratorsSid = "S-1-5-32-544";
constexpr const char* kTrustedInstallerSid =
    "S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464";

// "D:" is the current directory of drive D; its root is "D:\".
std::string OpenablePath(const std::string& dir) {
    return dir.size() == 2 && dir[1] == ':' ? dir + "\\" : dir;
}

// The part of path below base ("" when it is base), or nothing when path
// does not lie there.
std::optional<std::string> Below(TPlatform& platform, const std::string& path,
                                 const std::string& base) {
    const std::string b = platform.AnsiUpperCase(ExcludeTrailingBackslash(base));
    const std::string p = platform.AnsiUpperCase(path);
    if (b.empty() || p.compare(0, b.size(), b) != 0) return std::nullopt;
    if (p.size() == b.size()) return std::string();
    if (p[b.size()] != '\\') return std::nullopt;
    return path.substr(b.size() + 1);
}

}  // namespace

std::string NormalFinalPath(const std::string& finalPath) {
    std::string path = finalPath;
    if (path.compare(0, 8, "\\\\?\\UNC\\") == 0)
        path = "\\\\" + path.substr(8);
    else if (path.compare(0, 4, "\\\\?\\") == 0)
        path = path.substr(4);
    while (path.size() > 2 && path.back() == '\\') path.pop_back();
    return path;
}

bool IsAtOrBelow(TPlatform& platform, const std::string& path, const std::string& base) {
    return !path.empty() && Below(platform, NormalFinalPath(path), NormalFinalPath(base));
}

TTargetBase ChooseTargetBase(TPlatform& platform, const std::string& targetDir,
                             const std::string& installationDir, const std::string& windowsDir,
                             const std::string& systemDir) {
    const std::string dir = ExcludeTrailingBackslash(targetDir);
    TTargetBase base;
    std::optional<std::string> rest;
    // The system directory lies inside the Windows directory: the longer first.
    const std::pair<TTargetBase::TKind, std::string> candidates[] = {
        {TTargetBase::Installation, installationDir},
        {TTargetBase::SystemDir, systemDir},
        {TTargetBase::WindowsDir, windowsDir}};
    for (const auto& [kind, path] : candidates) {
        if (path.empty() || !(rest = Below(platform, dir, path))) continue;
        base.Kind = kind;
        base.Path = ExcludeTrailingBackslash(path);
        break;
    }
    if (!rest) {
        base.Kind = TTargetBase::Fixed;
        base.Path = dir;
        return base;
    }
    size_t start = 0;
    while (start <= rest->size()) {
        size_t end = rest->find('\\', start);
        if (end == std::string::npos) end = rest->size();
        const std::string name = rest->substr(start, end - start);
        // Windows drops empty parts and "." before it opens anything.
        if (!name.empty() && name != ".") {
            const bool refusedBySystem = name.find_first_of("<>\"|?*") != std::string::npos;
            if (!refusedBySystem && !IsPlainFileName(name)) base.Climbs = true;
            base.Below.push_back(name);
        }
        start = end + 1;
    }
    return base;
}

bool OnlyAdministratorsMayWrite(const std::optional<TFolderWriters>& writers,
                                const std::string& account) {
    if (!writers) return false;  // rights that cannot be read admit anyone
    return std::all_of(writers->Sids.begin(), writers->Sids.end(), [&](const std::string& sid) {
        return sid == kSystemSid || sid == kAdministratorsSid || sid == kTrustedInstallerSid ||
               (!account.empty() && sid == account);
    });
}

std::string TInstallationSet::Add(TPlatform& platform, const std::string& dir,
                                  const std::string& finalPath) {
    if (finalPath.empty()) return std::string();
    const std::string key = platform.AnsiUpperCase(NormalFinalPath(finalPath));
    const auto [it, added] = byFinalPath_.emplace(key, dir);
    return added ? std::string() : it->second;
}

std::string FinalPathOfDirectory(TPlatform& platform, const std::string& dir) {
    std::unique_ptr<TDirectory> opened;
    if (!platform.OpenDirectory(OpenablePath(dir), opened) || !opened) return std::string();
    return NormalFinalPath(opened->FinalPath());
}

TWritePlaces::TWritePlaces(TPlatform& platform, std::string windowsDir, std::string systemDir)
    : platform_(platform), windowsDir_(std::move(windowsDir)), systemDir_(std::move(systemDir)) {}

TWritePlaces::TBase& TWritePlaces::Open(const std::string& path, bool create) {
    const std::string key = platform_.AnsiUpperCase(ExcludeTrailingBackslash(path));
    auto it = bases_.find(key);
    if (it != bases_.end()) return it->second;
    TBase base;
    // A fixed target directory is the package's own choice of place and is
    // made where it is missing, as the package names it.
    if (create && !platform_.DirectoryExists(path)) {
        try {
            platform_.ForceDirectories(path);
        } catch (const Exception&) {
            // Opening it fails just below.
        }
    }
    if (platform_.OpenDirectory(OpenablePath(path), base.Dir) && base.Dir)
        base.FinalPath = NormalFinalPath(base.Dir->FinalPath());
    if (base.FinalPath.empty()) base.Dir.reset();
    return bases_.emplace(key, std::move(base)).first->second;
}

std::string TWritePlaces::InstallationFinalPath(const std::string& installationDir) {
    return Open(installationDir, false).FinalPath;
}

bool TWritePlaces::Reach(const std::string& installationDir, const std::string& targetDir,
                         TPlace& place, std::string& reason, bool create,
                         std::vector<std::string>* created) {
    const TTargetBase target =
        ChooseTargetBase(platform_, targetDir, installationDir, windowsDir_, systemDir_);
    if (target.Climbs) {
        reason = kClimbsOutText;
        return false;
    }
    TBase& base = Open(target.Path, target.Kind == TTargetBase::Fixed);
    if (!base.Dir) {
        reason = "the folder \"" + target.Path + "\" cannot be opened";
        return false;
    }
    place.BaseFinalPath = base.FinalPath;
    place.FinalPath = base.FinalPath;
    std::unique_ptr<TDirectory> current;
    TDirectory* at = base.Dir.get();
    for (const std::string& name : target.Below) {
        std::unique_ptr<TDirectory> next;
        const bool missing = at->Entry(name).Kind == TEntryKind::Missing;
        const TOsResult opened = at->OpenSubdirectory(name, create, next);
        if (!opened || !next) {
            reason = opened.Error == kErrorIsALink
                         ? kThroughALinkText
                         : "the folder \"" + place.FinalPath + "\\" + name + "\" cannot be made";
            return false;
        }
        // A link the checks of the handle miss still resolves elsewhere.
        place.FinalPath = NormalFinalPath(next->FinalPath());
        if (!IsAtOrBelow(platform_, place.FinalPath, base.FinalPath)) {
            reason = kThroughALinkText;
            return false;
        }
        if (missing && created) created->push_back(place.FinalPath);
        current = std::move(next);
        at = current.get();
    }
    place.Owned = std::move(current);
    place.Dir = place.Owned ? place.Owned.get() : base.Dir.get();
    return true;
}

}  // namespace oup
