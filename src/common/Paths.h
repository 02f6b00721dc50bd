// Windows path helpers ('\' and, where it matters, ':'), on text only: none
// of them asks the file system anything.
#pragma once
#include <string>

namespace oup {

std::string ExtractFilePath(const std::string& path);  // up to and including the last \ or :
std::string ExtractFileName(const std::string& path);  // after the last \ or :
std::string ExcludeTrailingBackslash(const std::string& path);
std::string IncludeTrailingBackslash(const std::string& path);
// The path with its extension replaced by ext (which starts with the dot),
// or ext appended when the name has none.
std::string ChangeFileExt(const std::string& path, const std::string& ext);

// A name that stays a file of its own inside the directory it is appended
// to: not empty, not only dots and blanks ("." and ".." above all), none of
// \ / : < > " | ? * or a control character, and no device name (CON, PRN,
// AUX, NUL, COM1..COM9, LPT1..LPT9, with any extension or letter case).
bool IsPlainFileName(const std::string& name);

}  // namespace oup
