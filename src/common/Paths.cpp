#include "common/Paths.h"

#include "common/Text.h"

namespace oup {

namespace {

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

std::string ExtractFilePath(const std::string& path) {
    const size_t p = path.find_last_of("\\:");
    return p == std::string::npos ? std::string() : path.substr(0, p + 1);
}

std::string ExtractFileName(const std::string& path) {
    const size_t p = path.find_last_of("\\:");
    return p == std::string::npos ? path : path.substr(p + 1);
}

std::string ExcludeTrailingBackslash(const std::string& path) {
    if (!path.empty() && path.back() == '\\') return path.substr(0, path.size() - 1);
    return path;
}

std::string IncludeTrailingBackslash(const std::string& path) {
    if (path.empty() || path.back() != '\\') return path + '\\';
    return path;
}

std::string ChangeFileExt(const std::string& path, const std::string& ext) {
    const size_t p = path.find_last_of(".\\/:");
    if (p == std::string::npos || path[p] != '.') return path + ext;
    return path.substr(0, p) + ext;
}

bool IsPlainFileName(const std::string& name) {
    // Windows drops trailing dots and blanks, so "..." or ". ." would name
    // the directory itself or its parent.
    if (name.find_first_not_of(". ") == std::string::npos) return false;
    if (name.find_first_of("\\/:<>\"|?*") != std::string::npos) return false;
    for (const char c : name)
        if (static_cast<unsigned char>(c) < 32) return false;
    return !IsDeviceName(name);
}

}  // namespace oup
