#include "tests/support/dev_keys.h"

#include "tools/writer/keys.h"

namespace qve::testing {

std::string DevKeyPath(const std::string& fileName) {
  return std::string(QVE_DEV_KEY_DIR) + "/" + fileName;
}

EVP_PKEY* DevDecryptionPublicKey() {
  static const PkeyPtr key = writer::LoadPublicKeyPem(DevKeyPath("decryption-public.pem"));
  return key.get();
}

EVP_PKEY* DevDecryptionPrivateKey() {
  static const PkeyPtr key = writer::LoadPrivateKeyPem(DevKeyPath("decryption-private.pem"));
  return key.get();
}

EVP_PKEY* DevVerificationPrivateKey() {
  static const PkeyPtr key = writer::LoadPrivateKeyPem(DevKeyPath("verification-private.pem"));
  return key.get();
}

EVP_PKEY* DevVerificationPublicKey() {
  static const PkeyPtr key = writer::LoadPublicKeyPem(DevKeyPath("verification-public.pem"));
  return key.get();
}

}  // namespace qve::testing
