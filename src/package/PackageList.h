// A read-only walk over a package's records for the tools: listing a package,
// and checking one before it is appended to the updater.
#pragma once
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "common/Stream.h"
#include "platform/Platform.h"

namespace oup {

// What a walk over a package finds.
struct TPackageListEntry {
    std::string Name;
    int32_t Date = 0;
    int64_t Size = 0;  // uncompressed
    int Blocks = 0;
    int StoredBlocks = 0;  // blocks kept unchanged (negative BlockSize)
    int FirstVolume = 1;
    int LastVolume = 1;
    bool Kept = false;    // the caller asked for the content
    std::string Content;  // uncompressed, when kept
};
struct TPackageSummary {
    std::string Title;
    int32_t TotalSize = 0;
    int32_t FileCount = 0;
    int EmptyRecords = 0;
    int Volumes = 1;
    // The files read, the first volume first; empty for a lone stream.
    std::vector<std::string> VolumePaths;
    std::vector<TPackageListEntry> Entries;
};

// Walks every record of a package from the stream's current position,
// inflating each block to learn the sizes. path is the first volume's file,
// used to find further volumes; empty for a stream that must be a single
// volume. Raises Exception with a plain description on any damage, and the
// stream layer's errors for a package that ends early. keep, when given,
// is asked for each entry's stored name; the entries it wants keep their
// content in memory (the package tool reads the steering files so).
TPackageSummary ListPackage(TPlatform& platform, TStream& input, const std::string& path,
                            const std::function<bool(const std::string& name)>& keep = {});

}  // namespace oup
