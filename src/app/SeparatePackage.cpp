#include "app/SeparatePackage.h"

#include "package/PackageLocation.h"

namespace oup {

TPackageSignatureCheck CheckSeparatePackage(TPlatform& platform, TRunningImage& program,
                                            const std::string& packagePath,
                                            const TSignatureLog& log) {
    const std::optional<TSignerIdentity> publisher =
        ProgramPublisher(platform, program.File(), program.Headers(), program.FileSize(), log);
    if (publisher) log("This program is signed by " + publisher->Subject);
    return CheckPackageSignature(platform, packagePath, publisher ? &*publisher : nullptr, log);
}

}  // namespace oup
