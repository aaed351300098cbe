// The committed development key set, as the writer side holds it.
#pragma once

#include <openssl/evp.h>

#include <string>

namespace qve::testing {

std::string DevKeyPath(const std::string& fileName);  // e.g. "decryption-public.pem"

// Loaded once per process; owned by the support library.
EVP_PKEY* DevDecryptionPublicKey();
EVP_PKEY* DevDecryptionPrivateKey();
EVP_PKEY* DevVerificationPrivateKey();
EVP_PKEY* DevVerificationPublicKey();

}  // namespace qve::testing
