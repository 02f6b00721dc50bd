// <windows.h> for code that also sees the program's own headers. Windows
// maps names such as DeleteFile or MessageBox to their A/W functions with
// macros, which would silently rename the platform seam's methods and the
// message helpers in any file that includes both. The program always calls
// the A functions by their full names, so the short macros are dropped here.
#pragma once
#include <windows.h>
#include <winnetwk.h>

#undef CopyFile
#undef DeleteFile
#undef FormatMessage
#undef GetDriveType
#undef MessageBox
#undef QueryDosDevice
