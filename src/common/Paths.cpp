#include "common/Paths.h"

namespace oup {

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

}  // namespace oup
