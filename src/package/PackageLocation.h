// Where an appended package lives: behind an executable's image. The image
// ends at the largest PointerToRawData + SizeOfRawData over the section
// headers; an executable whose file is longer carries a package there.
#pragma once
#include <cstdint>
#include <optional>
#include <string>

#include "common/Stream.h"
#include "platform/Platform.h"

namespace oup {

// The end of a PE image, 0 for an image without sections. Reads the headers
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

// The image-end rule: an executable whose file size differs from its image
// end carries a package, which starts at the image end. The two compare as
// 32-bit numbers, as the updater's start-up always has.
std::optional<uint32_t> AppendedPackageStart(uint32_t imageEnd, int64_t fileSize);
// Where the package appended to the running executable (exePath, its own
// file) starts; nothing when the executable carries none.
std::optional<uint32_t> FindAppendedPackage(TPlatform& platform, const std::string& exePath);

}  // namespace oup
