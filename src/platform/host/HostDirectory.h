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

TOsResult OpenDirectory(const std::string& path, std::unique_ptr<TDirectory>& out);
TOsResult OpenOutputFile(const std::string& path, TOutputFileInfo& out);
std::string CurrentAccountSid();

}  // namespace oup::host
