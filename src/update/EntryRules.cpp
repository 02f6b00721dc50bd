#include "update/EntryRules.h"


namespace oup {

namespace {

bool IsLetter(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }

}  // namespace

bool IsAbsoluteTargetDir(const std::string& dir) {
    std::string path = dir;
    if (!path.empty() && path.back() == '\\') path.pop_back();
    path += '\\';
    if (path.size() >= 3 && IsLetter(path[0]) && path[1] == ':' && path[2] == '\\') return true;
    // \\server\share\ : a server and a share, each named. "\\.\" and "\\?\"
    // reach devices and raw paths, not shares.
    if (path.compare(0, 2, "\\\\") != 0) return false;
    const size_t shareStart = path.find('\\', 2);
    if (shareStart == 2 || shareStart == std::string::npos) return false;
    const std::string server = path.substr(2, shareStart - 2);
    if (server == "." || server == "?") return false;
    const size_t shareEnd = path.find('\\', shareStart + 1);
    return shareEnd != std::string::npos && shareEnd > shareStart + 1;
}

}  // namespace oup
