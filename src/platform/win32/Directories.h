// Directories held open on Windows: a folder opened once by handle
// (FILE_FLAG_BACKUP_SEMANTICS) with its final path, and every entry below it
// opened relative to that handle (NtCreateFile with a RootDirectory) without
// following a reparse point; temporary files marked for deletion until they
// are renamed into place by handle; and output files (the log) that are
// refused when their name leads elsewhere.
#pragma once
#include <memory>
#include <string>

#include "platform/Platform.h"
#include "platform/win32/Handle.h"

namespace oup::win32 {

// A stream over an open file handle (Win32Platform.cpp).
std::unique_ptr<TFileStream> FileFromHandle(TFileHandle handle);

TOsResult OpenDirectory(const std::string& path, std::unique_ptr<TDirectory>& out);
TOsResult OpenOutputFile(const std::string& path, TOutputFileInfo& out);

}  // namespace oup::win32
