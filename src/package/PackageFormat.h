// Where a package lives: behind an executable's image, or in a package file
// and its volumes.
#pragma once
#include <cstdint>
#include <optional>
#include <string>

#include "common/Stream.h"
#include "package/PackageReader.h"
#include "platform/Platform.h"

namespace oup {

class TBackupFile;

// The end of a PE image: the largest PointerToRawData + SizeOfRawData over
// the section headers, 0 for an image without sections. Reads the headers
// from offset 0 of the stream; nothing when they are cut short.
std::optional<uint32_t> ReadImageEnd(TStream& headers);
// The same, read from the start of an executable file; nothing when the file
// cannot be opened or its headers are cut short.
std::optional<uint32_t> ImageEndOfFile(TPlatform& platform, const std::string& path);
// Whether the stream starts with a DOS header whose PE signature is in place.
bool IsPortableExecutable(TStream& headers);

// Where the running executable's image ends and an appended package starts.
// Uses the loader's mapped headers when the platform has them (their first
// page is always mapped), else the module's file; 0 when neither can be read.
uint32_t GetImageEnd(TPlatform& platform);

// Restores the package appended to the running executable (exePath, its own
// file) into workDir. A failure to open the file reaches the caller; every
// other failure is swallowed. Returns whether the restore succeeded.
bool ExtractAppendedPackage(TPlatform& platform, TBackupFile& backupFile, const std::string& exePath,
                            const std::string& workDir);

}  // namespace oup
