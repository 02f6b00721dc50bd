#include "update/EntryRules.h"

#include "common/Text.h"

namespace oup {

namespace {

bool IsLetter(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }

// Windows opens a device for these whatever extension follows, and ignores
// blanks before the extension: "nul.txt" and "CON .log" are devices too.
bool IsDeviceName(const std::string& name) {
    std::string base = name.substr(0, name.find('.'));
    while (!base.empty() && base.back() == ' ') base.pop_back();
    base = AsciiUpperCase(base);
    if (base == "CON" || base == "PRN" || base == "AUX" || base == "NUL") return true;
    return base.size() == 4 && (base.compare(0, 3, "COM") == 0 || base.compare(0, 3, "LPT") == 0) &&
           base[3] >= '1' && base[3] <= '9';
}

}  // namespace

bool IsPlainFileName(const std::string& name) {
    // Windows drops trailing dots and blanks, so "..." or ". ." would name
    // the directory itself or its parent.
    if (name.find_first_not_of(". ") == std::string::npos) return false;
    if (name.find_first_of("\\/:<>\"|?*") != std::string::npos) return false;
    for (const char c : name)
        if (static_cast<unsigned char>(c) < 32) return false;
    return !IsDeviceName(name);
}

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
