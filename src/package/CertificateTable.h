// An executable's certificate table (the security directory): a list of
// WIN_CERTIFICATE entries, each a 32-bit length (header included), a 16-bit
// revision, a 16-bit type and the certificate's bytes, the next entry at the
// following multiple of 8. An Authenticode signature is the entry of type
// PKCS_SIGNED_DATA: a PKCS #7 SignedData whose signer is the publisher.
#pragma once
#include <cstdint>
#include <optional>
#include <vector>

#include "common/Errors.h"
#include "common/Stream.h"
#include "package/PackageLocation.h"

namespace oup {

// A table larger than this is no signature of ours to read.
inline constexpr uint32_t kMaxCertificateTable = 4u << 20;

class ECertificateTable : public Exception {
    using Exception::Exception;
};

// The table's bytes, read from the file at the offset and of the size the
// headers give; nothing when the headers name no table. Raises
// ECertificateTable for a table too large or one the file does not hold.
std::optional<std::vector<uint8_t>> ReadCertificateTable(TStream& file,
                                                         const TImageHeaders& headers);

// The SignedData of the table's first PKCS_SIGNED_DATA entry; nothing when
// the table holds none. Raises ECertificateTable for an entry whose length
// leaves the table or is shorter than its header.
std::optional<std::vector<uint8_t>> AuthenticodeSignedData(const std::vector<uint8_t>& table);

}  // namespace oup
