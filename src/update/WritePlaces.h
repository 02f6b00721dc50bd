// Where the update run writes. An elevated run writes into folders that
// standard users may change while it works, so each place is resolved once:
// every installation folder, the Windows and system directories and a fixed
// target directory are opened as directory handles with their final paths
// when first needed, and every folder below them is reached from that handle
// one plain name at a time, never through a link. A folder or file whose
// final path leaves the place it was reached from fails its entry before any
// byte is written.
#pragma once
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/Platform.h"

namespace oup {

inline constexpr const char* kThroughALinkText = "reaches outside the installation through a link";
inline constexpr const char* kClimbsOutText = "climbs out of the folder it names";

// The place a target directory lies in, and the folders below it.
struct TTargetBase {
    enum TKind { Installation, SystemDir, WindowsDir, Fixed };
    TKind Kind = Fixed;
    std::string Path;                // the place as the run names it
    std::vector<std::string> Below;  // folder names below it, in order
    // A part that climbs out (".."), names a stream or a device: nothing
    // below such a place may be reached. (A name with a character no file
    // name has is left to the system to refuse.)
    bool Climbs = false;
};

// The place an expanded target directory belongs to: the installation when
// it is the installation folder or below it, else the system directory, else
// the Windows directory, else the target directory is a place of its own.
TTargetBase ChooseTargetBase(TPlatform& platform, const std::string& targetDir,
                             const std::string& installationDir, const std::string& windowsDir,
                             const std::string& systemDir);

// Whether path is the folder base or lies inside it. Both are final paths
// (no trailing backslash); letter case is ignored, as the file system does.
bool IsAtOrBelow(TPlatform& platform, const std::string& path, const std::string& base);

// A final path as the rules compare it: without "\\?\" and a trailing backslash.
std::string NormalFinalPath(const std::string& finalPath);

// Whether a folder admits write to no one but SYSTEM, the Administrators,
// TrustedInstaller and the running account: only then can a file in it be
// left for Windows to rename at the next start, when the rename resolves
// its paths again after any user could have swapped the folder for a link.
bool OnlyAdministratorsMayWrite(const std::optional<TFolderWriters>& writers,
                                const std::string& account);

// One installation met twice (by its path and through a link to it): the
// final paths are the same.
class TInstallationSet {
public:
    // Adds an installation with its final path (empty: unknown, never the
    // same as another); returns the installation added earlier with the same
    // final path, or empty.
    std::string Add(TPlatform& platform, const std::string& dir, const std::string& finalPath);

private:
    std::map<std::string, std::string> byFinalPath_;
};

// Opens dir and returns its final path; empty when it cannot be opened.
std::string FinalPathOfDirectory(TPlatform& platform, const std::string& dir);

// The places of one run, each opened once when it is first needed and held
// until the run ends.
class TWritePlaces {
public:
    TWritePlaces(TPlatform& platform, std::string windowsDir, std::string systemDir);

    struct TPlace {
        TDirectory* Dir = nullptr;          // the target directory, held open
        std::unique_ptr<TDirectory> Owned;  // it, when it lies below its place
        std::string FinalPath;            // its final path
        std::string BaseFinalPath;        // the final path of its place
    };
    // Opens the target directory of an entry from its place, creating the
    // folders that are missing. False, with the reason, when a folder on
    // the way is a link or resolves outside the place, or cannot be made.
    // Without create, a missing folder fails it; created collects the final
    // paths of the folders made, in order.
    bool Reach(const std::string& installationDir, const std::string& targetDir, TPlace& place,
               std::string& reason, bool create = true,
               std::vector<std::string>* created = nullptr);
    // The final path of an installation folder, opened now if it was not
    // yet; empty when it cannot be opened.
    std::string InstallationFinalPath(const std::string& installationDir);

private:
    struct TBase {
        std::unique_ptr<TDirectory> Dir;  // null: it could not be opened
        std::string FinalPath;
    };
    TBase& Open(const std::string& path, bool create);

    TPlatform& platform_;
    std::string windowsDir_, systemDir_;
    std::map<std::string, TBase> bases_;  // by the upper-cased path
};

}  // namespace oup
