// SPDX-License-Identifier: Apache-2.0
// Decryption of a container's payload with the format's cipher (AES-256-CBC)
// under its session key.
#pragma once

#include <cstdint>
#include <optional>
#include <span>

#include "crypto/openssl_ptr.h"

namespace qve {

class PayloadDecryption {
 public:
  PayloadDecryption();

  // False when the key (its first kPayloadKeyLength bytes are used) or the
  // IV is refused; the key must hold at least that many bytes.
  bool Start(std::span<const std::uint8_t> key, std::span<const std::uint8_t> iv);
  // Each step writes `produced` bytes to `out`, which holds the input's
  // length plus one block, and says whether OpenSSL accepted it. Final is
  // refused when the padding is not valid.
  bool Update(std::span<const std::uint8_t> in, std::uint8_t* out, int& produced);
  bool Final(std::uint8_t* out, int& produced);

  // The same key from another IV on, for decrypting the last blocks alone.
  // Nothing when OpenSSL refuses.
  std::optional<PayloadDecryption> CopyFrom(std::span<const std::uint8_t> iv) const;

 private:
  CipherCtxPtr context_;
};

}  // namespace qve
