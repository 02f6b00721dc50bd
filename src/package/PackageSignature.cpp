#include "package/PackageSignature.h"

#include "common/Paths.h"
#include "package/CertificateTable.h"

namespace oup {

namespace {

[[noreturn]] void Refuse(const std::string& reason) { throw EPackageSignature(reason); }

std::string SizeAndDigest(int64_t size, const TSha256& digest) {
    return std::to_string(size) + " bytes, SHA-256 " + DigestHex(digest);
}

// The signature file's bytes, through a handle nobody may write meanwhile.
std::vector<uint8_t> ReadSignatureFile(TPlatform& platform, const std::string& path,
                                       const TSignatureLog& log) {
    try {
        const auto file = platform.OpenFile(path, TOpenMode::ReadDenyWrite);
        const int64_t size = file->Size();
        if (size < 0 || size > int64_t(kMaxSignatureFile)) {
            log("Signature file " + path + " is larger than 1 MiB");
            Refuse(kSignatureUnreadableText);
        }
        std::vector<uint8_t> bytes(static_cast<size_t>(size));
        file->ReadBuffer(bytes.data(), bytes.size());
        return bytes;
    } catch (const EInOutError& e) {
        log("Signature file " + path + ": " + e.what());
        Refuse(kSignatureUnreadableText);
    }
}

// Whether the bytes are one DER value (a SEQUENCE of definite length) and
// nothing more: crypt32 would read past bytes behind it, OpenSSL refuses
// them, and both sides must take the same files.
bool IsOneDerSequence(const std::vector<uint8_t>& bytes) {
    if (bytes.size() < 2 || bytes[0] != 0x30) return false;
    size_t header = 2;
    uint64_t length = bytes[1];
    if (length & 0x80) {
        const size_t digits = length & 0x7F;
        if (digits == 0 || digits > 4 || bytes.size() < 2 + digits) return false;
        length = 0;
        for (size_t i = 0; i < digits; ++i) length = length << 8 | bytes[2 + i];
        header += digits;
    }
    return header + length == bytes.size();
}

// Opens one volume the manifest names and holds it against changes while it
// is compared with the manifest.
TCheckedVolume CheckVolume(TPlatform& platform, const std::string& packagePath,
                           const TPackageManifest& manifest, size_t index,
                           const TSignatureLog& log) {
    const TManifestVolume& signedVolume = manifest.Volumes[index];
    TCheckedVolume v;
    v.Number = ManifestVolumeNumber(manifest, index);
    const auto mismatch = [&](const std::string& detail) {
        log("Volume " + (v.Path.empty() ? signedVolume.Name : v.Path) + ": " + detail +
            "; signed: " + SizeAndDigest(signedVolume.Size, signedVolume.Digest));
        Refuse(FormatMessage(kVolumeMismatchText,
                             {v.Path.empty() ? signedVolume.Name : ExtractFileName(v.Path)}));
    };
    TSha256 digest{};
    int64_t size = 0;
    try {
        // Named as the restore names it: beside the first, by its extension.
        v.Path = index == 0 ? packagePath
                            : platform.SiblingPath(packagePath, signedVolume.Name.substr(
                                                                    signedVolume.Name.size() - 4));
        if (v.Path.empty()) mismatch("no such file");
        v.File = platform.OpenFile(v.Path, TOpenMode::ReadDenyWrite);
        if (!platform.Sha256(*v.File, digest, size)) {
            log("No SHA-256 on this system");
            Refuse(kSignatureUnreadableText);
        }
    } catch (const EInOutError& e) {
        mismatch(e.what());
    }
    if (size != signedVolume.Size || digest != signedVolume.Digest)
        mismatch(SizeAndDigest(size, digest));
    return v;
}

}  // namespace

std::string SignatureFilePath(const std::string& packagePath) { return packagePath + ".sig"; }

TOpenVolumes TPackageSignatureCheck::OpenVolumes() const {
    TOpenVolumes volumes;
    for (const TCheckedVolume& v : Volumes) volumes.Add(v.Number, *v.File);
    return volumes;
}

bool SameKey(const TSignerIdentity& a, const TSignerIdentity& b) {
    return !a.PublicKey.empty() && a.KeyAlgorithm == b.KeyAlgorithm && a.PublicKey == b.PublicKey;
}

TPackageSignatureCheck CheckPackageSignature(TPlatform& platform, const std::string& packagePath,
                                             const TSignerIdentity* publisher,
                                             const TSignatureLog& log) {
    TPackageSignatureCheck check;
    const std::string sigPath = SignatureFilePath(packagePath);
    if (!platform.FileExists(sigPath)) {
        if (publisher) Refuse(kNotSignedText);
        log(FormatMessage(kUnsignedPackageLogText, {sigPath}));
        return check;
    }

    const std::vector<uint8_t> der = ReadSignatureFile(platform, sigPath, log);
    if (!IsOneDerSequence(der)) {
        log("Signature file " + sigPath + " is not one DER value");
        Refuse(kSignatureUnreadableText);
    }
    const TSignedData sig = platform.DecodeSignedData(der, true);
    if (sig.Status != TSignedDataStatus::Verified) {
        log("Signature file " + sigPath + ": " + sig.Detail);
        Refuse(sig.Status == TSignedDataStatus::BadSignature ? kSignatureBrokenText
                                                            : kSignatureUnreadableText);
    }
    // Whose it is comes before what it says: a stranger's manifest is of no
    // interest, however it reads.
    if (publisher && !SameKey(sig.Signer, *publisher))
        Refuse(FormatMessage(kWrongSignerText, {sig.Signer.Subject}));
    try {
        check.Manifest = ReadManifest(sig.Content);
    } catch (const EManifestError& e) {
        log("Signature file " + sigPath + ": " + e.what());
        Refuse(kSignatureUnreadableText);
    }
    for (size_t i = 0; i < check.Manifest.Volumes.size(); ++i)
        check.Volumes.push_back(CheckVolume(platform, packagePath, check.Manifest, i, log));

    check.Signed = true;
    check.IntegrityOnly = !publisher;
    check.Signer = sig.Signer;
    const size_t n = check.Volumes.size();
    log("Package signed by " + sig.Signer.Subject + " for " + check.Manifest.ProgramName + " " +
        check.Manifest.ProgramVersion + ": " + std::to_string(n) + (n == 1 ? " volume" : " volumes") +
        ", every volume matches");
    if (!publisher) log(kIntegrityOnlyLogText);
    return check;
}

std::optional<TSignerIdentity> ProgramPublisher(TPlatform& platform, TStream& file,
                                                const TImageHeaders& headers, int64_t fileSize,
                                                const TSignatureLog& log) {
    // Signed as far as the loader and the appended-package rule are
    // concerned: a table behind the image that ends the file.
    if (!ReadImageTrail(headers, fileSize, file, "this program").Signed) return std::nullopt;
    try {
        const auto table = ReadCertificateTable(file, headers);
        const auto signedData = table ? AuthenticodeSignedData(*table) : std::nullopt;
        if (!signedData) throw ECertificateTable("no Authenticode signature in the certificate table");
        const TSignedData own = platform.DecodeSignedData(*signedData, false);
        if (own.Status != TSignedDataStatus::Verified) throw ECertificateTable(own.Detail);
        return own.Signer;
    } catch (const ECertificateTable& e) {
        // Signed, but by nobody we can name: no package can be matched to it.
        log(std::string("Own signature: ") + e.what());
        Refuse(kOwnSignatureUnreadableText);
    }
}

}  // namespace oup
