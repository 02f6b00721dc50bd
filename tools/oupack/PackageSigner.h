// Signing a package's manifest for oupack sign: a CMS SignedData in DER with
// the manifest inside, made with OpenSSL on Linux. The form is the one both
// Windows' and Wine's crypt32 verify: RSA with SHA-256, the signature over
// the content itself (no signed attributes, whose content digest Wine never
// compares), the signer's certificate and its chain carried along.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

namespace oup {

struct TSignerFiles {
    std::string Certificate;  // PEM: the signer's certificate
    std::string Key;          // PEM: its private key, unencrypted
    std::string Chain;        // PEM: certificates to carry along; may be empty
};

// The signed manifest. Raises Exception, naming the file, for a certificate
// or key that does not read, a certificate without the code-signing extended
// key usage, one whose key usage (where it has one) leaves out digital
// signatures, a key that is not RSA, and a key that is not the certificate's.
std::vector<uint8_t> SignManifest(const std::string& manifest, const TSignerFiles& files);

}  // namespace oup
