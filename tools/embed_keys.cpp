// SPDX-License-Identifier: Apache-2.0
// Build-time host tool: turns the configured key files into the C++ source
// that the library compiles in. It reads only the decryption private key and
// the verification public key, so no signing key can reach the library.
//
//   qve-embed-keys DECRYPTION_PRIVATE_PEM VERIFICATION_PUBLIC_PEM OUTPUT_CPP
#include <openssl/bn.h>
#include <openssl/core_names.h>
#include <openssl/evp.h>
#include <openssl/pem.h>

#include <cstdio>
#include <fstream>
#include <iostream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "format/container_format.h"

namespace {

struct FileCloser {
  void operator()(FILE* f) const { std::fclose(f); }
};
struct PkeyFree {
  void operator()(EVP_PKEY* k) const { EVP_PKEY_free(k); }
};
struct BnFree {
  void operator()(BIGNUM* b) const { BN_clear_free(b); }
};
using Pkey = std::unique_ptr<EVP_PKEY, PkeyFree>;

[[noreturn]] void Fail(const std::string& message) {
  std::cerr << "qve-embed-keys: " << message << "\n";
  std::exit(1);
}

Pkey ReadPem(const std::string& path, bool isPrivate) {
  std::unique_ptr<FILE, FileCloser> file(std::fopen(path.c_str(), "r"));
  if (!file) Fail("cannot open " + path);
  EVP_PKEY* key = isPrivate ? PEM_read_PrivateKey(file.get(), nullptr, nullptr, nullptr)
                            : PEM_read_PUBKEY(file.get(), nullptr, nullptr, nullptr);
  if (key == nullptr) Fail(path + " is not a " + (isPrivate ? "private" : "public") + " key PEM");
  if (EVP_PKEY_is_a(key, "RSA") != 1 ||
      static_cast<std::size_t>(EVP_PKEY_get_bits(key)) != 8 * qve::kBuiltInKeyBytes)
    Fail(path + " is not a " + std::to_string(8 * qve::kBuiltInKeyBytes) + "-bit RSA key");
  return Pkey(key);
}

// The component in BN_bn2mpi form, as the library reads it with BN_mpi2bn.
std::vector<unsigned char> Mpi(EVP_PKEY* key, const char* name, const std::string& path) {
  BIGNUM* raw = nullptr;
  if (EVP_PKEY_get_bn_param(key, name, &raw) != 1) Fail(path + " lacks component " + name);
  std::unique_ptr<BIGNUM, BnFree> value(raw);
  std::vector<unsigned char> out(static_cast<size_t>(BN_bn2mpi(value.get(), nullptr)));
  BN_bn2mpi(value.get(), out.data());
  return out;
}

void Emit(std::ostream& out, const std::string& name, const std::vector<unsigned char>& bytes) {
  out << "constexpr std::uint8_t k" << name << "Bytes[] = {";
  for (size_t i = 0; i < bytes.size(); ++i) {
    if (i % 12 == 0) out << "\n    ";
    char hex[8];
    std::snprintf(hex, sizeof hex, "0x%02x,", bytes[i]);
    out << hex;
  }
  out << "\n};\n";
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 4) Fail("usage: qve-embed-keys DECRYPTION_PRIVATE_PEM VERIFICATION_PUBLIC_PEM OUT");
  const std::string decryptionPath = argv[1], verificationPath = argv[2];
  Pkey decryption = ReadPem(decryptionPath, true);
  Pkey verification = ReadPem(verificationPath, false);

  struct Component {
    std::string name;
    std::vector<unsigned char> mpi;
  };
  const std::vector<Component> components = {
      {"DecryptionN", Mpi(decryption.get(), OSSL_PKEY_PARAM_RSA_N, decryptionPath)},
      {"DecryptionE", Mpi(decryption.get(), OSSL_PKEY_PARAM_RSA_E, decryptionPath)},
      {"DecryptionD", Mpi(decryption.get(), OSSL_PKEY_PARAM_RSA_D, decryptionPath)},
      {"DecryptionP", Mpi(decryption.get(), OSSL_PKEY_PARAM_RSA_FACTOR1, decryptionPath)},
      {"DecryptionQ", Mpi(decryption.get(), OSSL_PKEY_PARAM_RSA_FACTOR2, decryptionPath)},
      {"DecryptionDP", Mpi(decryption.get(), OSSL_PKEY_PARAM_RSA_EXPONENT1, decryptionPath)},
      {"DecryptionDQ", Mpi(decryption.get(), OSSL_PKEY_PARAM_RSA_EXPONENT2, decryptionPath)},
      {"VerificationN", Mpi(verification.get(), OSSL_PKEY_PARAM_RSA_N, verificationPath)},
      {"VerificationE", Mpi(verification.get(), OSSL_PKEY_PARAM_RSA_E, verificationPath)},
  };

  std::ostringstream out;
  out << "// Generated at build time by qve-embed-keys; do not edit.\n"
      << "#include \"crypto/built_in_keys.h\"\n\n"
      << "namespace qve::stored_keys {\nnamespace {\n\n";
  for (const auto& c : components) Emit(out, c.name, c.mpi);
  out << "\n}  // namespace\n\n";
  for (const auto& c : components)
    out << "const StoredComponent k" << c.name << "{k" << c.name << "Bytes, sizeof k" << c.name
        << "Bytes};\n";
  out << "\n}  // namespace qve::stored_keys\n";

  std::ofstream file(argv[3], std::ios::binary | std::ios::trunc);
  file << out.str();
  if (!file.flush()) Fail(std::string("cannot write ") + argv[3]);
  return 0;
}
