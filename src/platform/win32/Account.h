// Who this process runs as, and what that asks of the directories it makes:
// an elevated administrator or SYSTEM unpacks where no standard user's
// program may reach, and SYSTEM or session 0 shows no windows.
#pragma once
#include <cstdint>
#include <string>

namespace oup::win32 {

// The account in S-1-5-... form; empty when the token cannot be read.
std::string CurrentUserSid();
// An administrator's full (elevated) token, or LocalSystem.
bool IsElevatedProcess();
// LocalSystem, or a process in session 0, where no user's desktop is.
bool RunsWithoutUserSession();
// Creates one directory with a security descriptor in SDDL (its DACL, and
// a mandatory label in its SACL, which needs no privilege up to the
// process's own integrity level).
bool CreateDirectoryWithSddl(const std::string& path, const std::string& sddl);
// Bytes this account may still write on the volume of dir (quotas
// included); -1 when the system cannot tell.
int64_t FreeBytesFor(const std::string& dir);

}  // namespace oup::win32
