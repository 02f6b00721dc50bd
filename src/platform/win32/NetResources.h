// The connected network disk resources, from mpr.dll, which is no KnownDLL:
// it is loaded from the system directory at run time (TSystemLibrary), never
// imported.
#pragma once
#include <string>
#include <vector>

namespace oup::win32 {

// Remote names of the connected network disk resources, as one enumeration
// call into a zeroed 16 KiB buffer returns them (what does not fit is left
// out); none when mpr.dll or its calls cannot be had.
std::vector<std::string> ConnectedDiskResources();

}  // namespace oup::win32
