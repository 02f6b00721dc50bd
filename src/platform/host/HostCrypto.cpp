#include "platform/host/HostCrypto.h"

#include <openssl/bio.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/objects.h>
#include <openssl/pkcs7.h>
#include <openssl/x509.h>

#include <climits>
#include <memory>
#include <string>

namespace oup::host {

namespace {

using TPkcs7 = std::unique_ptr<PKCS7, decltype(&PKCS7_free)>;
using TBio = std::unique_ptr<BIO, decltype(&BIO_free)>;
using TDigestContext = std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)>;

// The short names Windows gives the attributes of a name, so both sides
// show a signer alike.
std::string AttributeName(const ASN1_OBJECT* object) {
    switch (OBJ_obj2nid(object)) {
        case NID_stateOrProvinceName:
            return "S";
        case NID_pkcs9_emailAddress:
            return "E";
        case NID_undef:
            break;
        default:
            return OBJ_nid2sn(OBJ_obj2nid(object));
    }
    char oid[80];
    OBJ_obj2txt(oid, sizeof oid, object, 1);
    return oid;
}

// A value quoted as Windows quotes it where it holds a separator.
std::string QuotedValue(const std::string& value) {
    const bool quote = value.empty() || value.find_first_of(",+=\"\n<>#;") != std::string::npos ||
                       value.front() == ' ' || value.back() == ' ';
    if (!quote) return value;
    std::string out = "\"";
    for (char c : value) out += c == '"' ? std::string("\"\"") : std::string(1, c);
    return out + "\"";
}

// "CN=..., O=..., C=..": the most specific part first, as Windows writes a
// name with CERT_X500_NAME_STR | CERT_NAME_STR_REVERSE_FLAG.
std::string NameText(const X509_NAME* name) {
    std::string text;
    for (int i = X509_NAME_entry_count(name) - 1; i >= 0; --i) {
        const X509_NAME_ENTRY* entry = X509_NAME_get_entry(name, i);
        unsigned char* utf8 = nullptr;
        const int length = ASN1_STRING_to_UTF8(&utf8, X509_NAME_ENTRY_get_data(entry));
        std::string value;
        if (length >= 0) value.assign(reinterpret_cast<char*>(utf8), static_cast<size_t>(length));
        OPENSSL_free(utf8);
        if (!text.empty()) text += ", ";
        text += AttributeName(X509_NAME_ENTRY_get_object(entry)) + "=" + QuotedValue(value);
    }
    return text;
}

bool ReadSigner(X509* cert, TSignerIdentity& signer) {
    const ASN1_OBJECT* algorithm = nullptr;
    const unsigned char* key = nullptr;
    int keyLength = 0;
    if (!X509_PUBKEY_get0_param(const_cast<ASN1_OBJECT**>(&algorithm), &key, &keyLength, nullptr,
                                X509_get_X509_PUBKEY(cert)) ||
        keyLength <= 0)
        return false;
    char oid[80];
    OBJ_obj2txt(oid, sizeof oid, algorithm, 1);
    signer.Subject = NameText(X509_get_subject_name(cert));
    signer.KeyAlgorithm = oid;
    signer.PublicKey.assign(key, key + keyLength);
    return true;
}

}  // namespace

std::string OpenSslError() {
    const unsigned long code = ERR_get_error();
    ERR_clear_error();
    if (code == 0) return "no reason given";
    char text[256];
    ERR_error_string_n(code, text, sizeof text);
    return text;
}

TSignedData DecodeSignedData(const std::vector<uint8_t>& der, bool verify) {
    ERR_clear_error();
    if (der.size() > size_t(LONG_MAX))
        return TSignedData::Failure(TSignedDataStatus::Malformed, "too large");
    const unsigned char* p = der.data();
    const TPkcs7 p7(d2i_PKCS7(nullptr, &p, static_cast<long>(der.size())), &PKCS7_free);
    if (!p7)
        return TSignedData::Failure(TSignedDataStatus::Malformed, "not PKCS #7: " + OpenSslError());
    if (p != der.data() + der.size())
        return TSignedData::Failure(TSignedDataStatus::Malformed, "bytes behind the signed data");
    if (!PKCS7_type_is_signed(p7.get()) || !p7->d.sign)
        return TSignedData::Failure(TSignedDataStatus::Malformed, "not SignedData");
    STACK_OF(PKCS7_SIGNER_INFO)* signers = PKCS7_get_signer_info(p7.get());
    const int count = signers ? sk_PKCS7_SIGNER_INFO_num(signers) : 0;
    if (count != 1)
        return TSignedData::Failure(TSignedDataStatus::Malformed,
                                    std::to_string(count) + " signers, not one");
    PKCS7_SIGNER_INFO* info = sk_PKCS7_SIGNER_INFO_value(signers, 0);
    X509* cert = info->issuer_and_serial ? X509_find_by_issuer_and_serial(
                                               p7->d.sign->cert, info->issuer_and_serial->issuer,
                                               info->issuer_and_serial->serial)
                                         : nullptr;
    TSignedData out;
    if (!cert || !ReadSigner(cert, out.Signer))
        return TSignedData::Failure(TSignedDataStatus::Malformed, "no certificate of the signer");

    const PKCS7* inner = p7->d.sign->contents;
    const bool haveData = inner && PKCS7_type_is_data(inner) && inner->d.data;
    if (haveData)
        out.Content.assign(reinterpret_cast<const char*>(ASN1_STRING_get0_data(inner->d.data)),
                           static_cast<size_t>(ASN1_STRING_length(inner->d.data)));
    if (verify) {
        if (!haveData) return TSignedData::Failure(TSignedDataStatus::Malformed, "no data inside");
        // Signed attributes would put a digest of the content between the
        // signature and the content; not every crypt32 compares that digest.
        const STACK_OF(X509_ATTRIBUTE)* attributes = PKCS7_get_signed_attributes(info);
        if (attributes && sk_X509_ATTRIBUTE_num(attributes) > 0)
            return TSignedData::Failure(TSignedDataStatus::Unsupported, "signed attributes");
        const TBio sink(BIO_new(BIO_s_mem()), &BIO_free);
        // The certificate is taken as the message carries it: whose key it
        // is, the caller compares.
        if (!sink || PKCS7_verify(p7.get(), nullptr, nullptr, nullptr, sink.get(),
                                  PKCS7_NOVERIFY | PKCS7_BINARY) != 1)
            return TSignedData::Failure(TSignedDataStatus::BadSignature, OpenSslError());
    }
    out.Status = TSignedDataStatus::Verified;
    return out;
}

bool Sha256(TStream& stream, TSha256& digest, int64_t& size) {
    const TDigestContext context(EVP_MD_CTX_new(), &EVP_MD_CTX_free);
    if (!context || EVP_DigestInit_ex(context.get(), EVP_sha256(), nullptr) != 1) return false;
    std::vector<uint8_t> buffer(1 << 16);
    size = 0;
    while (const size_t got = stream.Read(buffer.data(), buffer.size())) {
        if (EVP_DigestUpdate(context.get(), buffer.data(), got) != 1) return false;
        size += static_cast<int64_t>(got);
    }
    unsigned int length = 0;
    return EVP_DigestFinal_ex(context.get(), digest.data(), &length) == 1 &&
           length == digest.size();
}

}  // namespace oup::host
