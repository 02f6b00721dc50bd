// What a file entry of the update script may name. The update run refuses an
// entry that breaks these rules before it reads or writes anything for it,
// and a tool that checks packages asks the same questions.
#pragma once
#include <string>

namespace oup {

// A name that stays a file of its own inside the directory it is appended
// to: not empty, not only dots and blanks ("." and ".." above all), none of
// \ / : < > " | ? * or a control character, and no device name (CON, PRN,
// AUX, NUL, COM1..COM9, LPT1..LPT9, with any extension or letter case).
bool IsPlainFileName(const std::string& name);

// Whether a target directory, macros expanded, names one absolute place:
// "X:\..." or "\\server\share\...". The run drops one trailing backslash and
// joins the file name with a backslash, so "D:\" and "D:" (an installation
// at a drive root) are absolute, while "", "C:foo" and "\foo" are not.
bool IsAbsoluteTargetDir(const std::string& dir);

}  // namespace oup
