// A separate package's signature: PACKAGE.sig beside its first volume, a CMS
// SignedData whose content is the package's manifest (PackageManifest.h).
// The rules, which the updater and oupack check share:
//  - a program signed with Authenticode takes only a package its own
//    publisher signed: the .sig must be there, verify, and come from the
//    key that signed the program;
//  - an unsigned program checks a .sig that is there for integrity only
//    (anyone can sign), and takes a package without one as it always has;
//  - a signed package's volumes must each match the manifest in size and
//    SHA-256, checked through handles that deny writing and deleting, which
//    the restore then reads, so nothing can change between check and read.
#pragma once
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "common/Errors.h"
#include "package/PackageLocation.h"
#include "package/PackageManifest.h"
#include "package/PackageReader.h"
#include "platform/Platform.h"

namespace oup {

// Why a package is refused; the message is one of the texts below.
class EPackageSignature : public Exception {
    using Exception::Exception;
};
inline constexpr const char* kNotSignedText = "the package is not signed";
inline constexpr const char* kWrongSignerText =
    "the package was signed by %s, not by the publisher of this program";
inline constexpr const char* kVolumeMismatchText = "volume %s does not match its signature";
inline constexpr const char* kSignatureBrokenText = "the package's signature does not verify";
inline constexpr const char* kSignatureUnreadableText = "the package's signature cannot be read";
inline constexpr const char* kOwnSignatureUnreadableText =
    "the signature of this program cannot be read";
// Log lines of a package that is taken without a publisher to compare.
inline constexpr const char* kUnsignedPackageLogText =
    "The package is not signed: no signature file %s";
inline constexpr const char* kIntegrityOnlyLogText =
    "signature checked for integrity only: this program is not signed";

// A signature file larger than this is no signature of ours.
inline constexpr size_t kMaxSignatureFile = 1u << 20;

// The signature file of the package whose first volume is packagePath.
std::string SignatureFilePath(const std::string& packagePath);

// One volume, opened so that nobody may write, rename or delete it, and
// found to match the manifest.
struct TCheckedVolume {
    int Number = 1;
    std::string Path;
    std::unique_ptr<TFileStream> File;
};

struct TPackageSignatureCheck {
    bool Signed = false;  // a signature file was there and everything matched
    bool IntegrityOnly = false;  // signed, and checked with no publisher to compare
    TSignerIdentity Signer;
    TPackageManifest Manifest;
    std::vector<TCheckedVolume> Volumes;  // open, for the restore to read
    // The volumes for TBackupFile::RestoreVolumes; valid while this lives.
    TOpenVolumes OpenVolumes() const;
};

using TSignatureLog = std::function<void(const std::string& line)>;

// Checks the package whose first volume is packagePath against its signature
// file. publisher: the key that signed the running program, or nothing for
// an unsigned program (or a tool, which has no publisher). Without a
// signature file the result is unsigned (a publisher raises instead), and
// nothing is opened. Raises EPackageSignature with the reason; log gets the
// details an administrator needs (sizes and digests, the crypto's own word).
TPackageSignatureCheck CheckPackageSignature(TPlatform& platform, const std::string& packagePath,
                                             const TSignerIdentity* publisher,
                                             const TSignatureLog& log);

// Whether two signers hold the same key.
bool SameKey(const TSignerIdentity& a, const TSignerIdentity& b);

// The publisher of an executable: the signer of the Authenticode signature
// in its certificate table, read through the executable's own open file
// (headers: its parsed headers, fileSize: the file's size). Nothing for an
// unsigned executable; raises EPackageSignature (kOwnSignatureUnreadableText)
// for a signature whose signer cannot be read.
std::optional<TSignerIdentity> ProgramPublisher(TPlatform& platform, TStream& file,
                                                const TImageHeaders& headers, int64_t fileSize,
                                                const TSignatureLog& log);

}  // namespace oup
