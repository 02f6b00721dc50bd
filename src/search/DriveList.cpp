// The drive list: every local fixed drive, and the network shares reachable
// through the machine's connected network disk resources, all ticked.
#include <algorithm>

#include "app/Update.h"

namespace oup {

std::vector<std::string> ListConnectedShares(TPlatform& platform) {
    return platform.ConnectedDiskResources();
}

namespace {

class TDriveListBuilder {
public:
    TDriveListBuilder(TPlatform& platform, TListView& list) : platform_(platform), list_(list) {}

    // Adds an item unless one with the same caption, ignoring letter case,
    // is already there: the same share must not be searched twice.
    void Add(const std::string& caption) {
        const std::string key = platform_.AnsiUpperCase(caption);
        if (std::find(keys_.begin(), keys_.end(), key) != keys_.end()) return;
        keys_.push_back(key);
        list_.AddItem(caption, true);
    }

private:
    TPlatform& platform_;
    TListView& list_;
    std::vector<std::string> keys_;
};

}  // namespace

void TUpdate::FillDriveList() {
    TListView& list = *Controls.driveliste;
    TDriveListBuilder builder(Platform, list);

    // Roots named on the command line take the place of the drives.
    if (!CommandLine.Dirs.empty()) {
        for (const std::string& dir : CommandLine.Dirs) builder.Add(dir);
        return;
    }

    const std::vector<std::string> shares = ListConnectedShares(Platform);
    for (char letter = 'A'; letter <= 'Z'; ++letter) {
        const std::string drive = std::string(1, letter) + ":";
        if (Platform.GetDriveType(drive + "\\") == dtFixed) builder.Add(drive);
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
                if (Platform.GetDriveType(probe) == dtRemote && Platform.DirectoryExists(probe))
                    builder.Add(prefix + letter);
            }
        }
        previous = prefix;
        // The connected share itself, whatever its last character.
        const std::string own = ExcludeTrailingBackslash(share);
        if (Platform.DirectoryExists(own + "\\")) builder.Add(own);
    }
}

}  // namespace oup
