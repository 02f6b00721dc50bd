#include "package/CertificateTable.h"

namespace oup {

namespace {
constexpr size_t kEntryHeader = 8;              // dwLength, wRevision, wCertificateType
constexpr uint16_t kPkcsSignedData = 0x0002;    // WIN_CERT_TYPE_PKCS_SIGNED_DATA
}  // namespace

std::optional<std::vector<uint8_t>> ReadCertificateTable(TStream& file,
                                                         const TImageHeaders& headers) {
    if (headers.CertificateOffset == 0 || headers.CertificateSize == 0) return std::nullopt;
    if (headers.CertificateSize > kMaxCertificateTable)
        throw ECertificateTable("the certificate table is larger than 4 MiB");
    std::vector<uint8_t> table(headers.CertificateSize);
    try {
        file.SetPosition(headers.CertificateOffset);
        file.ReadBuffer(table.data(), table.size());
    } catch (const EInOutError&) {
        throw ECertificateTable("the certificate table lies beyond the end of the file");
    }
    return table;
}

std::optional<std::vector<uint8_t>> AuthenticodeSignedData(const std::vector<uint8_t>& table) {
    size_t at = 0;
    while (table.size() - at >= kEntryHeader) {
        const uint8_t* p = table.data() + at;
        const uint32_t length =
            uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
        const uint16_t type = static_cast<uint16_t>(p[6] | p[7] << 8);
        if (length < kEntryHeader || length > table.size() - at)
            throw ECertificateTable("a certificate entry's length does not fit the table");
        if (type == kPkcsSignedData)
            return std::vector<uint8_t>(p + kEntryHeader, p + length);
        // The next entry starts at the next multiple of 8; past the end, none.
        const size_t next = (static_cast<size_t>(length) + 7) & ~size_t(7);
        if (next >= table.size() - at) break;
        at += next;
    }
    return std::nullopt;
}

}  // namespace oup
