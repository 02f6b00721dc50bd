// Where an appended package lives: behind an executable's image. The image
// ends at the largest PointerToRawData + SizeOfRawData over the section
// headers; an executable whose file is longer carries a package there,
// unless what follows the image is only its Authenticode signature.
#pragma once
#include <cstdint>
#include <optional>
#include <string>

#include "common/Errors.h"
#include "common/Stream.h"
#include "platform/Platform.h"

namespace oup {

// The header fields that tell what lies behind an image.
struct TImageHeaders {
    uint32_t ImageEnd = 0;  // 0 for an image without sections
    // The security directory (data directory 4): the file offset and size of
    // the certificate table. Read only from a PE32 optional header (Magic
    // 0x10B) with more than 4 data directories; 0 and 0 otherwise.
    uint32_t CertificateOffset = 0;
    uint32_t CertificateSize = 0;
    // Where in the file the security directory entry and the PE checksum
    // lie; 0 when the headers have no security directory.
    uint32_t SecurityEntryAt = 0;
    uint32_t CheckSumAt = 0;
};

// Reads the headers from offset 0 of the stream; nothing when the section
// table is cut short. Every field is bounds-checked.
std::optional<TImageHeaders> ReadImageHeaders(TStream& headers);
// The end of a PE image alone.
std::optional<uint32_t> ReadImageEnd(TStream& headers);
// The same, read from the start of an executable file; nothing when the file
// cannot be opened or its headers are cut short.
std::optional<uint32_t> ImageEndOfFile(TPlatform& platform, const std::string& path);
// Whether the stream starts with a DOS header whose PE signature is in place.
bool IsPortableExecutable(TStream& headers);

// An executable that was changed after it was signed: bytes follow its
// certificate table.
class EChangedAfterSigning : public Exception {
    using Exception::Exception;
};
inline constexpr const char* kChangedAfterSigningText =
    "\"%s\" was changed after it was signed: it has %s behind its signature. Append the "
    "package first and sign the result.";

// What lies behind an executable's image.
struct TImageTrail {
    std::optional<uint32_t> PackageStart;  // a package starts there (the image end)
    bool Signed = false;                   // the file ends with its certificate table
    uint32_t CertificateOffset = 0;        // where that table starts, when signed
};

// The image-end rule over an executable file of fileSize bytes, for the
// headers read from it; `file` is read only for the alignment in front of a
// certificate table. A table that starts at or after the image end and ends
// the file is no package: a file whose only trailing bytes are the table and
// up to 7 zero bytes before it carries none; a package between the image end
// and the table (appended, then signed) starts at the image end. A security
// entry that points outside the file or into the image counts as no
// signature. Raises EChangedAfterSigning (naming `name`) when bytes follow
// the table. A negative fileSize (a size that could not be had) never means
// a package.
TImageTrail ReadImageTrail(const TImageHeaders& headers, int64_t fileSize, TStream& file,
                           const std::string& name);

// The running executable's headers: the loader's mapped ones when the
// platform has them (their first page is always mapped), else the module's
// file; all 0 when neither can be read.
TImageHeaders GetImageHeaders(TPlatform& platform);
// Where the running executable's image ends and an appended package starts.
uint32_t GetImageEnd(TPlatform& platform);

// The plain image-end rule: an executable whose file size differs from its
// image end carries a package, which starts at the image end. The two compare
// as 32-bit numbers, as the updater's start-up always has; a size of -1 (the
// query failed) means none.
std::optional<uint32_t> AppendedPackageStart(uint32_t imageEnd, int64_t fileSize);
// Where the package appended to the running executable (exePath, its own
// file, named in messages) starts; nothing when the executable carries
// none. The file is opened as TRunningImage does (package/RunningImage.h);
// a caller that reads the package too keeps a TRunningImage instead, so
// that both come from one handle. Raises EChangedAfterSigning,
// EImageFileChanged, and EFOpenError when the file cannot be opened.
std::optional<uint32_t> FindAppendedPackage(TPlatform& platform, const std::string& exePath);

}  // namespace oup
