// SPDX-License-Identifier: Apache-2.0
// The library's two built-in RSA keys. Their components are compiled in, in
// OpenSSL's MPI form, from the PEM files chosen at configure time; a key
// object is built from them for one operation and released with it.
#pragma once

#include <openssl/evp.h>

#include <cstddef>
#include <cstdint>

#include "crypto/openssl_ptr.h"
#include "format/bytes.h"
#include "format/container_format.h"

namespace qve {

// One key component as stored: a 4-byte big-endian length, then the
// big-endian magnitude (with a leading 0x00 where the top bit is set).
struct StoredComponent {
  const std::uint8_t* bytes;
  std::size_t length;
};

namespace stored_keys {
extern const StoredComponent kDecryptionN, kDecryptionE, kDecryptionD, kDecryptionP, kDecryptionQ,
    kDecryptionDP, kDecryptionDQ;
extern const StoredComponent kVerificationN, kVerificationE;
}  // namespace stored_keys

// Reads a stored component with BN_mpi2bn; null if OpenSSL refuses it.
BignumPtr ReadMpi(const StoredComponent& component);

// The one routine that turns big numbers into a key. Takes ownership of every
// number. d, p, q, dP and dQ may be null (a public key); the CRT coefficient
// is computed as q^-1 mod p. On any OpenSSL failure pkey is left null, and a
// null key fails every operation that is handed it.
void SetRsaComponents(PkeyPtr& pkey, BignumPtr n, BignumPtr e, BignumPtr d, BignumPtr p,
                      BignumPtr q, BignumPtr dP, BignumPtr dQ);

// SHA-256 of the key's public half as DER SubjectPublicKeyInfo, which is what
// `openssl pkey -pubout -outform DER | sha256sum` gives for its PEM file;
// empty for a null key or when OpenSSL fails.
Bytes PublicKeyFingerprint(const EVP_PKEY* key);

class DecryptionKey {
 public:
  DecryptionKey();
  EVP_PKEY* pkey() const { return pkey_.get(); }
  const Bytes& keyId() const { return keyId_; }

 private:
  PkeyPtr pkey_;
  Bytes keyId_;
};

class VerificationKey {
 public:
  VerificationKey();
  EVP_PKEY* pkey() const { return pkey_.get(); }
  const Bytes& keyId() const { return keyId_; }

 private:
  Bytes keyId_;
  PkeyPtr pkey_;
};

}  // namespace qve
