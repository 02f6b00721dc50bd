// Signed data and SHA-256 with the system's own crypto: crypt32 decodes and
// verifies CMS messages, CNG (bcrypt) hashes. Neither is a KnownDLL, so both
// are loaded from the system directory at run time (TSystemLibrary).
#pragma once
#include <cstdint>
#include <vector>

#include "platform/Platform.h"

namespace oup::win32 {

// TPlatform::DecodeSignedData.
TSignedData DecodeSignedData(const std::vector<uint8_t>& der, bool verify);
// TPlatform::Sha256.
bool Sha256(TStream& stream, TSha256& digest, int64_t& size);

}  // namespace oup::win32
