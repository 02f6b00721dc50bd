#include "app/SeparatePackage.h"

#include "package/PackageLocation.h"

namespace oup {

namespace {

// THE PROGRAM'S OWN FILE, for its certificate table. This is the one place
// start-up opens it for the signature check: opened by its path here, it is
// to become the handle start-up holds on the file that runs.
std::unique_ptr<TFileStream> OpenOwnFile(TPlatform& platform, const std::string& exePath) {
    return platform.OpenFile(exePath, TOpenMode::ReadShared);
}

}  // namespace

TPackageSignatureCheck CheckSeparatePackage(TPlatform& platform, const std::string& exePath,
                                            const std::string& packagePath,
                                            const TSignatureLog& log) {
    // A program whose own file cannot be read cannot tell whether it is
    // signed: that ends start-up, it never counts as unsigned.
    const std::unique_ptr<TFileStream> own = OpenOwnFile(platform, exePath);
    const std::optional<TSignerIdentity> publisher =
        ProgramPublisher(platform, *own, GetImageHeaders(platform), own->Size(), log);
    if (publisher) log("This program is signed by " + publisher->Subject);
    return CheckPackageSignature(platform, packagePath, publisher ? &*publisher : nullptr, log);
}

}  // namespace oup
