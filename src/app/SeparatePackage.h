// Start-up's check of a separate package (a .oup file, not one appended to
// the program): whether the running program is signed, and then the
// package's signature by the rules of package/PackageSignature.h.
#pragma once
#include <memory>
#include <string>

#include "package/PackageSignature.h"
#include "package/RunningImage.h"
#include "platform/Platform.h"

namespace oup {

// Checks the package whose first volume is packagePath for the running
// program, whose certificate table is read through the one handle start-up
// holds on its file. Raises EPackageSignature with the reason.
TPackageSignatureCheck CheckSeparatePackage(TPlatform& platform, TRunningImage& program,
                                            const std::string& packagePath,
                                            const TSignatureLog& log);

}  // namespace oup
