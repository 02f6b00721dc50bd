// Fuzzes every reader of a package's signature over arbitrary bytes: the
// manifest reader, the certificate table's entries, OpenSSL's decoding and
// verification as the host platform drives it, and the whole check of a
// signature file on the fake machine (whose signed data is its own
// stand-in, so the fuzzer reaches the manifest and the volumes behind it).
//
// Each must give an answer or its own error, read nothing outside the bytes
// and leave no file open; a manifest that reads must write back the same.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "package/CertificateTable.h"
#include "package/PackageManifest.h"
#include "package/PackageSignature.h"
#include "platform/host/HostCrypto.h"
#include "support/FakeMachine.h"

namespace {

using namespace oup;

[[noreturn]] void Finding(const char* what) {
    std::fprintf(stderr, "finding: %s\n", what);
    std::abort();
}

void Manifest(const std::string& text) {
    try {
        const TPackageManifest m = ReadManifest(text);
        if (WriteManifest(m) != text) Finding("a manifest that reads writes back otherwise");
        for (size_t i = 1; i < m.Volumes.size(); ++i)
            if (ManifestVolumeNumber(m, i) < 2) Finding("a later volume without its number");
    } catch (const EManifestError&) {
    }
}

void Table(const std::vector<uint8_t>& bytes) {
    try {
        const auto signedData = AuthenticodeSignedData(bytes);
        if (signedData && signedData->size() > bytes.size()) Finding("an entry larger than its table");
    } catch (const ECertificateTable&) {
    }
}

void Decode(const std::vector<uint8_t>& bytes) {
    for (const bool verify : {false, true}) {
        const TSignedData d = host::DecodeSignedData(bytes, verify);
        if (d.Status == TSignedDataStatus::Verified && d.Signer.PublicKey.empty())
            Finding("decoded without the signer's key");
        if (d.Status != TSignedDataStatus::Verified && d.Detail.empty()) Finding("refused without a word");
    }
}

void Check(const std::vector<uint8_t>& bytes) {
    test::TFakeMachine m;
    m.AddDrive('C');
    m.AddFile("C:\\p\\x.oup", "volume one");
    m.AddFile("C:\\p\\x.002", "volume two");
    m.AddFile("C:\\p\\x.oup.sig", std::string(bytes.begin(), bytes.end()));
    const TSignerIdentity publisher{"CN=Seed", "1.2.840.113549.1.1.1", {'k', 'e', 'y'}};
    for (const TSignerIdentity* who : {static_cast<const TSignerIdentity*>(nullptr), &publisher}) {
        try {
            const TPackageSignatureCheck check =
                CheckPackageSignature(m, "C:\\p\\x.oup", who, [](const std::string&) {});
            if (!check.Signed || check.Volumes.size() != check.Manifest.Volumes.size())
                Finding("a signature taken without its volumes");
        } catch (const EPackageSignature&) {
        }
        if (m.OpenCount() != 0) Finding("a file left open");
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::vector<uint8_t> bytes(data, data + size);
    Manifest(std::string(bytes.begin(), bytes.end()));
    Table(bytes);
    Decode(bytes);
    Check(bytes);
    return 0;
}
