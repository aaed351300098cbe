// SPDX-License-Identifier: Apache-2.0
// The cipher state of one decryption, from the header to the last chunk.
#pragma once

#include <openssl/evp.h>

#include <vector>

#include "crypto/openssl_ptr.h"
#include "decrypt/byte_ring.h"
#include "decrypt/container_header.h"
#include "format/bytes.h"
#include "format/container_format.h"

namespace qve {

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
