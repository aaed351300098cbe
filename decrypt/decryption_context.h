// The cipher state of one decryption, from the header to the last chunk.
#pragma once

#include <openssl/evp.h>

#include <vector>

#include "crypto/bytes.h"
#include "crypto/openssl_ptr.h"
#include "decrypt/byte_ring.h"
#include "decrypt/container_header.h"

namespace qve {

// The payload cipher: the container's IV is its IV, and its key is the first
// 32 bytes of the key block.
inline const EVP_CIPHER* PayloadCipher() { return EVP_aes_256_cbc(); }

struct DecryptionContext {
  DecryptionContext() = default;
  DecryptionContext(const DecryptionContext&) = delete;
  DecryptionContext& operator=(const DecryptionContext&) = delete;

  const EVP_CIPHER* cipher = PayloadCipher();
  CipherCtxPtr cipherContext{EVP_CIPHER_CTX_new()};
  std::vector<RecipientEntry> recipients;
  Bytes iv;
  int blockSize = EVP_CIPHER_get_block_size(cipher);
  Bytes outputBuffer;
  ByteRing trailingWindow{kWindowSize};  // the newest plaintext
};

}  // namespace qve
