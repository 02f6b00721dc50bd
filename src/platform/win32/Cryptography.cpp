#include "platform/win32/Cryptography.h"

#include <cstdio>
#include <cstring>
#include <string>

#include "platform/win32/SystemLibrary.h"
#include "platform/win32/WinApi.h"

#include <bcrypt.h>
#include <wincrypt.h>

namespace oup::win32 {

namespace {

constexpr DWORD kEncoding = X509_ASN_ENCODING | PKCS_7_ASN_ENCODING;

// Runs a clean-up when the scope is left, however it is left.
template <typename TAction>
class TCleanup {
public:
    explicit TCleanup(TAction action) : action_(action) {}
    ~TCleanup() { action_(); }
    TCleanup(const TCleanup&) = delete;
    TCleanup& operator=(const TCleanup&) = delete;

private:
    TAction action_;
};

template <typename TFunction>
TFunction Find(const TSystemLibrary& library, const char* name) {
    return library.Function<TFunction>(name);
}

// The functions of crypt32.dll this file calls.
struct TCrypt32 {
    TSystemLibrary Library{L"crypt32.dll"};
    decltype(&::CryptMsgOpenToDecode) MsgOpenToDecode =
        Find<decltype(&::CryptMsgOpenToDecode)>(Library, "CryptMsgOpenToDecode");
    decltype(&::CryptMsgUpdate) MsgUpdate =
        Find<decltype(&::CryptMsgUpdate)>(Library, "CryptMsgUpdate");
    decltype(&::CryptMsgGetParam) MsgGetParam =
        Find<decltype(&::CryptMsgGetParam)>(Library, "CryptMsgGetParam");
    decltype(&::CryptMsgControl) MsgControl =
        Find<decltype(&::CryptMsgControl)>(Library, "CryptMsgControl");
    decltype(&::CryptMsgClose) MsgClose =
        Find<decltype(&::CryptMsgClose)>(Library, "CryptMsgClose");
    decltype(&::CertOpenStore) OpenStore =
        Find<decltype(&::CertOpenStore)>(Library, "CertOpenStore");
    decltype(&::CertCloseStore) CloseStore =
        Find<decltype(&::CertCloseStore)>(Library, "CertCloseStore");
    decltype(&::CertGetSubjectCertificateFromStore) GetSubjectCertificate =
        Find<decltype(&::CertGetSubjectCertificateFromStore)>(Library,
                                                              "CertGetSubjectCertificateFromStore");
    decltype(&::CertFreeCertificateContext) FreeCertificate =
        Find<decltype(&::CertFreeCertificateContext)>(Library, "CertFreeCertificateContext");
    decltype(&::CertNameToStrA) NameToStr =
        Find<decltype(&::CertNameToStrA)>(Library, "CertNameToStrA");

    bool Complete() const {
        return MsgOpenToDecode && MsgUpdate && MsgGetParam && MsgControl && MsgClose && OpenStore &&
               CloseStore && GetSubjectCertificate && FreeCertificate && NameToStr;
    }
};

std::string ErrorCode(const char* call) {
    char text[64];
    std::snprintf(text, sizeof text, "%s failed with 0x%08lX", call, ::GetLastError());
    return text;
}

// A parameter of the message, of whatever size it comes in; false when the
// message has none.
bool MessageParam(const TCrypt32& c, HCRYPTMSG message, DWORD param, std::vector<BYTE>& out) {
    DWORD size = 0;
    if (!c.MsgGetParam(message, param, 0, nullptr, &size)) return false;
    out.assign(size, 0);
    if (size == 0) return true;
    if (!c.MsgGetParam(message, param, 0, out.data(), &size)) return false;
    out.resize(size);
    return true;
}

std::string SubjectText(const TCrypt32& c, CERT_NAME_BLOB* name) {
    const DWORD type = CERT_X500_NAME_STR | CERT_NAME_STR_REVERSE_FLAG;
    const DWORD size = c.NameToStr(X509_ASN_ENCODING, name, type, nullptr, 0);
    if (size <= 1) return std::string();
    std::string text(size, '\0');
    c.NameToStr(X509_ASN_ENCODING, name, type, text.data(), size);
    text.resize(size - 1);  // the terminating zero
    return text;
}

}  // namespace

TSignedData DecodeSignedData(const std::vector<uint8_t>& der, bool verify) {
    const TCrypt32 c;
    if (!c.Complete())
        return TSignedData::Failure(TSignedDataStatus::Unsupported, "crypt32.dll cannot be loaded");
    if (der.empty() || der.size() > MAXDWORD)
        return TSignedData::Failure(TSignedDataStatus::Malformed, "empty");

    const HCRYPTMSG message = c.MsgOpenToDecode(kEncoding, 0, 0, 0, nullptr, nullptr);
    if (!message)
        return TSignedData::Failure(TSignedDataStatus::Unsupported,
                                    ErrorCode("CryptMsgOpenToDecode"));
    const TCleanup closeMessage([&] { c.MsgClose(message); });
    if (!c.MsgUpdate(message, der.data(), static_cast<DWORD>(der.size()), TRUE))
        return TSignedData::Failure(TSignedDataStatus::Malformed, ErrorCode("CryptMsgUpdate"));

    DWORD value = 0, size = sizeof value;
    if (!c.MsgGetParam(message, CMSG_TYPE_PARAM, 0, &value, &size) || value != CMSG_SIGNED)
        return TSignedData::Failure(TSignedDataStatus::Malformed, "not SignedData");
    size = sizeof value;
    if (!c.MsgGetParam(message, CMSG_SIGNER_COUNT_PARAM, 0, &value, &size) || value != 1)
        return TSignedData::Failure(TSignedDataStatus::Malformed,
                                    std::to_string(value) + " signers, not one");

    // The signer's certificate among those the message carries, by the
    // issuer and serial number its signer information names.
    std::vector<BYTE> signerInfo;
    if (!MessageParam(c, message, CMSG_SIGNER_CERT_INFO_PARAM, signerInfo) || signerInfo.empty())
        return TSignedData::Failure(TSignedDataStatus::Malformed,
                                    ErrorCode("CMSG_SIGNER_CERT_INFO_PARAM"));
    const HCERTSTORE store =
        c.OpenStore(CERT_STORE_PROV_MSG, kEncoding, 0, 0, static_cast<const void*>(message));
    if (!store)
        return TSignedData::Failure(TSignedDataStatus::Malformed, ErrorCode("CertOpenStore"));
    const TCleanup closeStore([&] { c.CloseStore(store, 0); });
    const PCCERT_CONTEXT cert =
        c.GetSubjectCertificate(store, kEncoding, reinterpret_cast<PCERT_INFO>(signerInfo.data()));
    if (!cert)
        return TSignedData::Failure(TSignedDataStatus::Malformed, "no certificate of the signer");
    const TCleanup freeCert([&] { c.FreeCertificate(cert); });

    TSignedData out;
    const CERT_PUBLIC_KEY_INFO& key = cert->pCertInfo->SubjectPublicKeyInfo;
    out.Signer.Subject = SubjectText(c, &cert->pCertInfo->Subject);
    out.Signer.KeyAlgorithm = key.Algorithm.pszObjId ? key.Algorithm.pszObjId : "";
    out.Signer.PublicKey.assign(key.PublicKey.pbData, key.PublicKey.pbData + key.PublicKey.cbData);

    std::vector<BYTE> bytes;
    const bool haveContent = MessageParam(c, message, CMSG_CONTENT_PARAM, bytes);
    if (haveContent) out.Content.assign(bytes.begin(), bytes.end());
    if (verify) {
        std::vector<BYTE> type;
        if (!haveContent || !MessageParam(c, message, CMSG_INNER_CONTENT_TYPE_PARAM, type) ||
            type.empty() || type.back() != 0 ||
            std::strcmp(reinterpret_cast<const char*>(type.data()), szOID_RSA_data) != 0)
            return TSignedData::Failure(TSignedDataStatus::Malformed, "no data inside");
        // With signed attributes the signature covers a digest of the
        // content, and Wine's crypt32 never compares that digest with the
        // content: only a signature over the content itself is taken.
        std::vector<BYTE> attributes;
        if (MessageParam(c, message, CMSG_SIGNER_AUTH_ATTR_PARAM, attributes) &&
            attributes.size() >= sizeof(CRYPT_ATTRIBUTES) &&
            reinterpret_cast<const CRYPT_ATTRIBUTES*>(attributes.data())->cAttr > 0)
            return TSignedData::Failure(TSignedDataStatus::Unsupported, "signed attributes");
        CMSG_CTRL_VERIFY_SIGNATURE_EX_PARA para{};
        para.cbSize = sizeof para;
        para.dwSignerIndex = 0;
        para.dwSignerType = CMSG_VERIFY_SIGNER_CERT;
        para.pvSigner = const_cast<CERT_CONTEXT*>(cert);
        if (!c.MsgControl(message, 0, CMSG_CTRL_VERIFY_SIGNATURE_EX, &para))
            return TSignedData::Failure(TSignedDataStatus::BadSignature,
                                        ErrorCode("CryptMsgControl"));
    }
    out.Status = TSignedDataStatus::Verified;
    return out;
}

bool Sha256(TStream& stream, TSha256& digest, int64_t& size) {
    const TSystemLibrary bcrypt(L"bcrypt.dll");
    const auto open =
        Find<decltype(&::BCryptOpenAlgorithmProvider)>(bcrypt, "BCryptOpenAlgorithmProvider");
    const auto closeProvider =
        Find<decltype(&::BCryptCloseAlgorithmProvider)>(bcrypt, "BCryptCloseAlgorithmProvider");
    const auto create = Find<decltype(&::BCryptCreateHash)>(bcrypt, "BCryptCreateHash");
    const auto hashData = Find<decltype(&::BCryptHashData)>(bcrypt, "BCryptHashData");
    const auto finish = Find<decltype(&::BCryptFinishHash)>(bcrypt, "BCryptFinishHash");
    const auto destroy = Find<decltype(&::BCryptDestroyHash)>(bcrypt, "BCryptDestroyHash");
    if (!open || !closeProvider || !create || !hashData || !finish || !destroy) return false;

    BCRYPT_ALG_HANDLE algorithm = nullptr;
    if (!BCRYPT_SUCCESS(open(&algorithm, BCRYPT_SHA256_ALGORITHM, nullptr, 0))) return false;
    const TCleanup closeAlgorithm([&] { closeProvider(algorithm, 0); });
    // Windows 7 on: CNG keeps the hash object itself when given no buffer.
    BCRYPT_HASH_HANDLE hash = nullptr;
    if (!BCRYPT_SUCCESS(create(algorithm, &hash, nullptr, 0, nullptr, 0, 0))) return false;
    const TCleanup destroyHash([&] { destroy(hash); });

    std::vector<uint8_t> buffer(1 << 16);
    size = 0;
    while (const size_t got = stream.Read(buffer.data(), buffer.size())) {
        if (!BCRYPT_SUCCESS(hashData(hash, buffer.data(), static_cast<ULONG>(got), 0)))
            return false;
        size += static_cast<int64_t>(got);
    }
    return BCRYPT_SUCCESS(finish(hash, digest.data(), static_cast<ULONG>(digest.size()), 0));
}

}  // namespace oup::win32
