// Finds the recipient record meant for the built-in decryption key, unwraps
// the key block it carries and sets the payload cipher up with it.
//
// Key block: key material | CRC-32 of the material, least significant byte first.
#pragma once

#include <openssl/crypto.h>

#include <cstdint>
#include <optional>
#include <span>

#include "crypto/built_in_keys.h"
#include "decrypt/decryption_context.h"

namespace qve {

// Holds an unwrapped key block. It is wiped before its memory is released,
// so the session key does not outlive the decryption in freed memory.
struct KeyBlockBuffer {
  Bytes bytes;
  ~KeyBlockBuffer() { OPENSSL_cleanse(bytes.data(), bytes.size()); }
};

// The key block that RSAES-PKCS1-v1_5 decryption of a wrapped key gives, held
// in `out`; nothing when OpenSSL refuses it.
std::optional<std::span<const std::uint8_t>> UnwrapKeyBlock(EVP_PKEY* key, const Bytes& wrapped,
                                                            KeyBlockBuffer& out);

// At least the 4 CRC bytes, and the CRC matches the material before them.
bool KeyBlockIntact(std::span<const std::uint8_t> block);

// True when context.cipherContext is ready to decrypt the payload. Only the
// first record naming the key is tried, whatever follows it.
bool UnwrapSessionKey(DecryptionContext& context, const DecryptionKey& key);

}  // namespace qve
