// SPDX-License-Identifier: Apache-2.0
#include "cli/build_description.h"

#include <openssl/crypto.h>

#include "cli/escape.h"
#include "crypto/built_in_keys.h"

namespace qve::cli {

namespace {

std::string KeyLine(const std::string& role, const Bytes& keyId, const EVP_PKEY* key) {
  const Bytes fingerprint = PublicKeyFingerprint(key);
  return "\n  " + role + " " + Hex(keyId) + ", public key SHA-256 " +
         (fingerprint.empty() ? std::string("unavailable") : Hex(fingerprint));
}

}  // namespace

std::string BuildDescription(const std::string& program) {
  std::string text = program + " " QVE_VERSION "\n";
  text += OpenSSL_version(OPENSSL_VERSION);
  // Decided at configure time from the key files' contents.
  text += QVE_DEVELOPMENT_KEYS ? "\nbuilt-in keys: development keys, insecure" : "\nbuilt-in keys:";
  const DecryptionKey decryption;
  const VerificationKey verification;
  text += KeyLine("decryption key", decryption.keyId(), decryption.pkey());
  text += KeyLine("verification key", verification.keyId(), verification.pkey());
  return text + "\nlicence: Apache-2.0";
}

}  // namespace qve::cli
