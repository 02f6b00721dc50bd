// Who holds a file, as the Restart Manager of Windows tells.
#pragma once
#include <string>
#include <vector>

#include "platform/Platform.h"

namespace oup::win32 {

// The programs that hold the file open: each one's name as the Restart
// Manager gives it, its executable's file name when the process can still
// be asked (and is the one that was listed), and its id. Empty when the
// Restart Manager is missing or answers nothing. Only asks: the Restart
// Manager's shutdown is never called.
std::vector<TFileHolder> FileHolders(const std::string& path);

}  // namespace oup::win32
