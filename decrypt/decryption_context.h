// The cipher state of one decryption, from the header to the last chunk.
#pragma once

#include <openssl/evp.h>

#include <istream>
#include <vector>

#include "crypto/bytes.h"
#include "crypto/openssl_ptr.h"
#include "decrypt/container_header.h"
#include "decrypt/stream_verifier.h"

namespace qve {

// The payload cipher: the container's IV is its IV, and its key is the first
// 32 bytes of the key block.
inline const EVP_CIPHER* PayloadCipher() { return EVP_aes_256_cbc(); }

struct DecryptionContext {
  explicit DecryptionContext(std::istream& input);
  DecryptionContext(const DecryptionContext&) = delete;
  DecryptionContext& operator=(const DecryptionContext&) = delete;

  std::istream& input;
  const EVP_CIPHER* cipher;
  CipherCtxPtr cipherContext;
  std::vector<RecipientEntry> recipients;
  Bytes iv;
  int blockSize;
  Bytes outputBuffer;
  StreamVerifier trailingVerifier;  // never bound: it only keeps the newest plaintext
};

}  // namespace qve
