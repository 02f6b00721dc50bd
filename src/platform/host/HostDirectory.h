// Directories held open on Linux: openat with O_NOFOLLOW relative to a
// directory descriptor, renameat and linkat inside it, fsync, and final
// paths from /proc/self/fd, in Windows form ('/' shown as '\').
#pragma once
#include <memory>
#include <string>

#include "platform/Platform.h"

namespace oup::host {

// A stream over an open descriptor, which it closes (HostPlatform.cpp).
std::unique_ptr<TFileStream> FileFromDescriptor(int fd);
// A Windows path in the form Linux takes ('\' as '/').
std::string NativePath(const std::string& path);
// The Windows error code closest to an errno value.
uint32_t WindowsErrorOf(int error);

TOsResult OpenDirectory(const std::string& path, std::unique_ptr<TDirectory>& out);
TOsResult OpenOutputFile(const std::string& path, TOutputFileInfo& out);
std::string CurrentAccountSid();

}  // namespace oup::host
