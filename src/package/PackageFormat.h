// Where a package lives: behind an executable's image, or in a package file
// and its volumes. Also a read-only walk over a package's records for the
// tools (listing, checking a package before it is appended).
#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

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

// What a walk over a package finds.
struct TPackageListEntry {
    std::string Name;
    int32_t Date = 0;
    int64_t Size = 0;  // uncompressed
    int Blocks = 0;
    int StoredBlocks = 0;  // blocks kept unchanged (negative BlockSize)
    int FirstVolume = 1;
    int LastVolume = 1;
};
struct TPackageSummary {
    std::string Title;
    int32_t TotalSize = 0;
    int32_t FileCount = 0;
    int EmptyRecords = 0;
    int Volumes = 1;
    std::vector<TPackageListEntry> Entries;
};

// Walks every record of a package from the stream's current position,
// inflating each block to learn the sizes. path is the first volume's file,
// used to find further volumes; empty for a stream that must be a single
// volume. Raises Exception with a plain description on any damage, and the
// stream layer's errors for a package that ends early.
TPackageSummary ListPackage(TPlatform& platform, TStream& input, const std::string& path);

}  // namespace oup
