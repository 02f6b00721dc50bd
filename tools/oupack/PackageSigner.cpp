#include "PackageSigner.h"

#include <openssl/bio.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/pkcs7.h>
#include <openssl/x509v3.h>

#include <memory>

#include "common/Errors.h"
#include "platform/host/HostCrypto.h"

namespace oup {

namespace {

using TBio = std::unique_ptr<BIO, decltype(&BIO_free)>;
using TCertificate = std::unique_ptr<X509, decltype(&X509_free)>;
using TKey = std::unique_ptr<EVP_PKEY, decltype(&EVP_PKEY_free)>;
using TPkcs7 = std::unique_ptr<PKCS7, decltype(&PKCS7_free)>;

using host::OpenSslError;

std::string Quote(const std::string& s) { return "\"" + s + "\""; }

TBio OpenPem(const std::string& path) {
    TBio bio(BIO_new_file(path.c_str(), "rb"), &BIO_free);
    if (!bio) throw Exception("cannot open " + Quote(path) + ": " + OpenSslError());
    return bio;
}

// Every certificate of a PEM file, in order; at least one.
std::vector<TCertificate> ReadCertificates(const std::string& path) {
    const TBio bio = OpenPem(path);
    std::vector<TCertificate> certs;
    while (X509* cert = PEM_read_bio_X509(bio.get(), nullptr, nullptr, nullptr))
        certs.emplace_back(cert, &X509_free);
    ERR_clear_error();  // the end of the file reads as an error
    if (certs.empty()) throw Exception("no PEM certificate in " + Quote(path));
    return certs;
}

TKey ReadKey(const std::string& path) {
    const TBio bio = OpenPem(path);
    // A key that wants a passphrase is refused, not asked about: oupack
    // runs in build scripts, where nobody would answer.
    const auto noPassphrase = [](char*, int, int, void*) { return 0; };
    TKey key(PEM_read_bio_PrivateKey(bio.get(), nullptr, noPassphrase, nullptr), &EVP_PKEY_free);
    if (!key)
        throw Exception("cannot read a private key from " + Quote(path) +
                        " (a key protected by a passphrase is not taken): " + OpenSslError());
    return key;
}

// What the updater needs of the signer: a code-signing certificate with an
// RSA key (Wine's crypt32 verifies no other), that is this key's.
void CheckSigner(X509* cert, EVP_PKEY* key, const TSignerFiles& files) {
    const uint32_t flags = X509_get_extension_flags(cert);
    if (!(flags & EXFLAG_XKUSAGE) || !(X509_get_extended_key_usage(cert) & XKU_CODE_SIGN))
        throw Exception(Quote(files.Certificate) +
                        " is no code-signing certificate: its extended key usage does not name "
                        "code signing");
    // No key usage extension means no limit; one that is there must allow
    // the signature we are about to make.
    if ((flags & EXFLAG_KUSAGE) && !(X509_get_key_usage(cert) & KU_DIGITAL_SIGNATURE))
        throw Exception(Quote(files.Certificate) +
                        " may not sign: its key usage leaves out digital signatures");
    if (EVP_PKEY_get_base_id(key) != EVP_PKEY_RSA)
        throw Exception(Quote(files.Key) +
                        " is not an RSA key: the updater verifies RSA signatures only");
    if (X509_check_private_key(cert, key) != 1) {
        ERR_clear_error();
        throw Exception(Quote(files.Key) + " is not the key of " + Quote(files.Certificate));
    }
}

}  // namespace

std::vector<uint8_t> SignManifest(const std::string& manifest, const TSignerFiles& files) {
    ERR_clear_error();
    std::vector<TCertificate> certs = ReadCertificates(files.Certificate);
    const TKey key = ReadKey(files.Key);
    X509* cert = certs.front().get();
    CheckSigner(cert, key.get(), files);
    std::vector<TCertificate> chain;
    if (!files.Chain.empty()) chain = ReadCertificates(files.Chain);

    const int flags = PKCS7_BINARY | PKCS7_NOATTR | PKCS7_NOSMIMECAP;
    const TPkcs7 p7(PKCS7_sign(nullptr, nullptr, nullptr, nullptr, flags | PKCS7_PARTIAL),
                    &PKCS7_free);
    if (!p7 || !PKCS7_sign_add_signer(p7.get(), cert, key.get(), EVP_sha256(), flags))
        throw Exception("cannot sign: " + OpenSslError());
    for (const TCertificate& c : chain)
        if (!PKCS7_add_certificate(p7.get(), c.get()))
            throw Exception("cannot add " + Quote(files.Chain) + ": " + OpenSslError());
    const TBio content(BIO_new_mem_buf(manifest.data(), static_cast<int>(manifest.size())),
                       &BIO_free);
    if (!content || !PKCS7_final(p7.get(), content.get(), flags))
        throw Exception("cannot sign: " + OpenSslError());

    unsigned char* der = nullptr;
    const int length = i2d_PKCS7(p7.get(), &der);
    if (length <= 0) throw Exception("cannot encode the signature: " + OpenSslError());
    std::vector<uint8_t> out(der, der + length);
    OPENSSL_free(der);
    return out;
}

}  // namespace oup
