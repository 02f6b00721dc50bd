// What a file entry of the update script may name. The update run refuses an
// entry that breaks these rules before it reads or writes anything for it,
// and a tool that checks packages asks the same questions.
#pragma once
#include <string>

#include "common/Paths.h"  // IsPlainFileName

namespace oup {

// Whether a target directory, macros expanded, names one absolute place:
// "X:\..." or "\\server\share\...". The run drops one trailing backslash and
// joins the file name with a backslash, so "D:\" and "D:" (an installation
// at a drive root) are absolute, while "", "C:foo" and "\foo" are not.
bool IsAbsoluteTargetDir(const std::string& dir);

}  // namespace oup
