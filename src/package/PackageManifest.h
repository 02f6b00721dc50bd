// The manifest a package's signature file carries: what the package is (its
// program and version, from its script) and, for each volume in order, the
// file's name, size and SHA-256. A short text of our own, one field a line:
//
//   oupdate-package-manifest 1
//   program Ledger 3
//   version 3.2.0
//   volume 70123 <64 hex digits> ledger.oup
//   volume 5310 <64 hex digits> ledger.002
//
// Lines end with LF alone. The reader takes nothing else: a signature file is
// input like any other, and its content was made by oupack sign, so anything
// unexpected is refused rather than guessed at.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "common/Errors.h"
#include "platform/Platform.h"

namespace oup {

inline constexpr const char* kManifestFormatLine = "oupdate-package-manifest 1";
// Limits: far above any real package, low enough that no input can claim much.
inline constexpr size_t kMaxManifestSize = 64 * 1024;
inline constexpr size_t kMaxManifestVolumes = 999;  // .002 to .999 and the first
inline constexpr size_t kMaxManifestField = 255;    // a name, a program name, a version

struct TManifestVolume {
    std::string Name;  // the file's name when it was signed
    int64_t Size = 0;
    TSha256 Digest{};
};

struct TPackageManifest {
    std::string ProgramName;
    std::string ProgramVersion;
    std::vector<TManifestVolume> Volumes;  // in order, the first volume first
};

// A manifest that does not read; the message names the line and the fault.
class EManifestError : public Exception {
    using Exception::Exception;
};

// The manifest's text. Raises EManifestError for what the reader would refuse
// (a field with a control character, too many volumes, a name that is no
// plain file name), so a signature is never made over an unreadable manifest.
std::string WriteManifest(const TPackageManifest& manifest);
// Reads a manifest; raises EManifestError.
TPackageManifest ReadManifest(const std::string& text);

// The number of the volume that a manifest names at index (0-based): 1 for
// the first, and for a later one the three digits of its extension.
int ManifestVolumeNumber(const TPackageManifest& manifest, size_t index);

// A digest as 64 lower-case hex digits.
std::string DigestHex(const TSha256& digest);

}  // namespace oup
