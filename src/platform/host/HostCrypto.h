// Signed data and SHA-256 on Linux, with OpenSSL's libcrypto, so that the
// package tool reports a package's signature as the updater would read it.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "platform/Platform.h"

namespace oup::host {

// TPlatform::DecodeSignedData: the same rules as the Win32 side.
TSignedData DecodeSignedData(const std::vector<uint8_t>& der, bool verify);
// TPlatform::Sha256.
bool Sha256(TStream& stream, TSha256& digest, int64_t& size);
// OpenSSL's own words for its last error, and its queue emptied.
std::string OpenSslError();

}  // namespace oup::host
