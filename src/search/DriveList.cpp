// The drive list: every local fixed drive, and the network shares reachable
// through the machine's connected network disk resources.
#include "search/DriveList.h"

#include <algorithm>

namespace oup {

std::vector<std::string> ListConnectedShares(TPlatform& platform) {
    return platform.ConnectedDiskResources();
}

std::vector<std::string> UniqueRoots(TPlatform& platform, const std::vector<std::string>& roots) {
    std::vector<std::string> out, keys;
    for (const std::string& root : roots) {
        std::string key = platform.AnsiUpperCase(root);
        if (std::find(keys.begin(), keys.end(), key) != keys.end()) continue;
        keys.push_back(std::move(key));
        out.push_back(root);
    }
    return out;
}

std::vector<std::string> DriveList(TPlatform& platform) {
    std::vector<std::string> items;
    const std::vector<std::string> shares = ListConnectedShares(platform);
    for (char letter = 'A'; letter <= 'Z'; ++letter) {
        const std::string drive = std::string(1, letter) + ":";
        if (platform.GetDriveType(drive + "\\") == dtFixed) items.push_back(drive);
    }

    std::string previous;
    for (const std::string& share : shares) {
        if (share.empty()) continue;
        // Servers with one-letter shares (\\server\c, \\server\d ...) are
        // probed for all of them through the name without its last letter.
        const std::string prefix = share.substr(0, share.size() - 1);
        if (prefix != previous) {
            for (char letter = 'A'; letter <= 'Z'; ++letter) {
                const std::string probe = prefix + letter + "\\";
                if (platform.GetDriveType(probe) == dtRemote && platform.DirectoryExists(probe))
                    items.push_back(prefix + letter);
            }
        }
        previous = prefix;
        // The connected share itself, whatever its last character.
        const std::string own = ExcludeTrailingBackslash(share);
        if (platform.DirectoryExists(own + "\\")) items.push_back(own);
    }
    return UniqueRoots(platform, items);
}

}  // namespace oup
