// The running program's own file, opened once at start-up and read only
// through that one handle: the image end, the appended package and the
// certificate table all come from it, and no path of it is opened again (the
// file at a path may be another one by then).
//
// Run as administrator or as SYSTEM from a folder a standard user can write
// to (Downloads, a staging folder), the program's file can be renamed away
// while it runs and another put at its path: one with the same headers and
// another package behind them. So the file is opened by the name the system
// gives for the mapped image, with writing and deletion (so renaming) denied
// to others, and that name is asked again afterwards: the same name twice
// means the handle holds the mapped file, since nothing can rename it away
// while the handle is open. Then its code, with the base relocations applied,
// must be the code that runs (which is what tells a swap where the system's
// name does not follow a rename, as under Wine).
#pragma once
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "common/Errors.h"
#include "common/Stream.h"
#include "package/PackageLocation.h"
#include "platform/Platform.h"

namespace oup {

// The program's own file is not the file the running image was mapped from.
class EImageFileChanged : public Exception {
    using Exception::Exception;
};
inline constexpr const char* kImageRenamedText =
    "\"%s\" is not the file this program runs from: it was renamed or replaced while the "
    "program started. Start it again from a folder that only administrators can change.";
inline constexpr const char* kImageCodeText =
    "\"%s\" is not the file this program runs from: %s. Start it again from a folder that "
    "only administrators can change.";

class TRunningImage {
public:
    // Opens the running program's file and proves it is the mapped one.
    // path names it in messages (it is never opened). Raises
    // EImageFileChanged when it is not the mapped file, and EFOpenError
    // when it cannot be opened.
    TRunningImage(TPlatform& platform, std::string path);
    TRunningImage(const TRunningImage&) = delete;
    TRunningImage& operator=(const TRunningImage&) = delete;

    const std::string& Path() const { return path_; }
    // The one handle, for the package and the certificate table
    // (package/CertificateTable.h). Its position is whoever reads last's: seek first.
    TFileStream& File() { return *file_; }
    int64_t FileSize() const { return fileSize_; }
    // The mapped headers where the platform has them, else the file's.
    const TImageHeaders& Headers() const { return headers_; }
    // What lies behind the image (see ReadImageTrail); raises
    // EChangedAfterSigning for bytes behind a signature.
    TImageTrail Trail();
    // Where the appended package starts; nothing when there is none.
    std::optional<uint32_t> PackageStart() { return Trail().PackageStart; }

private:
    std::string path_;
    std::unique_ptr<TFileStream> file_;
    int64_t fileSize_ = -1;
    TImageHeaders headers_;
};

}  // namespace oup
