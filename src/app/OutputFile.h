// Files the program writes a record into (the log, a report) under a name
// an administrator gave. Run elevated, a name in a folder that users may
// write to can be made to lead elsewhere: a link to a script that another
// task runs, or a second name (a hard link) of a system file. Such a file is
// refused, never written through.
#pragma once
#include <memory>
#include <string>

#include "platform/Platform.h"

namespace oup {

// Opens path for writing, positioned at its start, creating it when missing
// (with rights for the system, the administrators and this account only).
// Raises EFOpenError naming what (e.g. "log file") and the reason when it
// cannot be opened, or when its last part is a link, it has more than one
// name, or it resolves to another path than the one given. finalPath, when
// given, receives the path the file resolves to (without "\\?\").
std::unique_ptr<TFileStream> OpenOutputFileSafely(TPlatform& platform, const std::string& path,
                                                  const std::string& what,
                                                  std::string* finalPath = nullptr);

}  // namespace oup
