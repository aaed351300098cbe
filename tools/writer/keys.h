// SPDX-License-Identifier: Apache-2.0
// Writer-side key handling: PEM files and the RSA operations that produce
// what the library reads (signatures, wrapped session keys). Never part of
// the library itself.
#pragma once

#include <span>
#include <string>

#include "crypto/openssl_ptr.h"
#include "format/bytes.h"

namespace qve::writer {

// Both throw UnusableInput naming the file when it is not a usable key.
PkeyPtr LoadPrivateKeyPem(const std::string& path);
PkeyPtr LoadPublicKeyPem(const std::string& path);

// RSASSA-PKCS1-v1_5 over SHA-256, as the library verifies, of a message
// given in pieces. Throws std::runtime_error when OpenSSL fails.
class MessageSigner {
 public:
  explicit MessageSigner(EVP_PKEY* privateKey);
  void Add(std::span<const std::uint8_t> bytes);
  Bytes Finish();

 private:
  MdCtxPtr ctx_;
};

// The same, of a message held whole.
Bytes SignMessage(EVP_PKEY* privateKey, std::span<const std::uint8_t> message);

// RSAES-PKCS1-v1_5 encryption to a public key.
Bytes EncryptPkcs1(EVP_PKEY* publicKey, std::span<const std::uint8_t> plaintext);

// Cryptographically random bytes.
Bytes RandomBytes(std::size_t count);

}  // namespace qve::writer
