// The library digest (SHA-256), used by every digest and signature operation.
#pragma once

#include <openssl/evp.h>

#include <span>

#include "crypto/bytes.h"

namespace qve {

inline const EVP_MD* LibraryDigest() { return EVP_sha256(); }

// Throws std::runtime_error naming the OpenSSL call that failed.
Bytes ComputeDigest(std::span<const std::uint8_t> input);

}  // namespace qve
