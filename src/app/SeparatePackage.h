// Start-up's check of a separate package (a .oup file, not one appended to
// the program): whether the running program is signed, and then the
// package's signature by the rules of package/PackageSignature.h.
#pragma once
#include <memory>
#include <string>

#include "package/PackageSignature.h"
#include "platform/Platform.h"

namespace oup {

// Checks the package whose first volume is packagePath for the program at
// exePath (its own file). Raises EPackageSignature with the reason, and what
// opening the program's own file raises.
TPackageSignatureCheck CheckSeparatePackage(TPlatform& platform, const std::string& exePath,
                                            const std::string& packagePath,
                                            const TSignatureLog& log);

}  // namespace oup
