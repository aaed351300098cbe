// SPDX-License-Identifier: Apache-2.0
// Unwrapping a container's key block with the built-in decryption key.
#pragma once

#include <cstdint>
#include <optional>
#include <span>

#include "crypto/built_in_keys.h"
#include "format/bytes.h"

namespace qve {

// Holds an unwrapped key block. It is wiped before its memory is released,
// so the session key does not outlive the decryption in freed memory.
struct KeyBlockBuffer {
  Bytes bytes;
  KeyBlockBuffer() = default;
  KeyBlockBuffer(const KeyBlockBuffer&) = delete;
  KeyBlockBuffer& operator=(const KeyBlockBuffer&) = delete;
  ~KeyBlockBuffer();
};

// The key block that RSAES-PKCS1-v1_5 decryption of a wrapped key gives, held
// in `out`; nothing when OpenSSL refuses it. The error queue is left alone.
std::optional<std::span<const std::uint8_t>> UnwrapKeyBlock(const DecryptionKey& key,
                                                            std::span<const std::uint8_t> wrapped,
                                                            KeyBlockBuffer& out);

}  // namespace qve
