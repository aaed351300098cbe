// SPDX-License-Identifier: Apache-2.0
#include "tools/writer/keys.h"

#include "tools/writer/unusable_input.h"

#include <openssl/pem.h>
#include <openssl/rand.h>
#include <openssl/rsa.h>

#include <cstdio>
#include <memory>
#include <stdexcept>

namespace qve::writer {

namespace {

struct FileCloser {
  void operator()(FILE* f) const { std::fclose(f); }
};

PkeyPtr LoadPem(const std::string& path, bool isPrivate) {
  std::unique_ptr<FILE, FileCloser> file(std::fopen(path.c_str(), "r"));
  if (!file) throw UnusableInput("cannot open key file " + path);
  EVP_PKEY* key = isPrivate ? PEM_read_PrivateKey(file.get(), nullptr, nullptr, nullptr)
                            : PEM_read_PUBKEY(file.get(), nullptr, nullptr, nullptr);
  if (key == nullptr || EVP_PKEY_is_a(key, "RSA") != 1) {
    EVP_PKEY_free(key);
    throw UnusableInput(path + " is not an RSA " + (isPrivate ? "private" : "public") +
                        " key in PEM form");
  }
  return PkeyPtr(key);
}

[[noreturn]] void Fail(const char* what) { throw std::runtime_error(what); }

}  // namespace

PkeyPtr LoadPrivateKeyPem(const std::string& path) { return LoadPem(path, true); }
PkeyPtr LoadPublicKeyPem(const std::string& path) { return LoadPem(path, false); }

MessageSigner::MessageSigner(EVP_PKEY* privateKey) : ctx_(EVP_MD_CTX_new()) {
  if (!ctx_ || EVP_DigestSignInit(ctx_.get(), nullptr, EVP_sha256(), nullptr, privateKey) != 1)
    Fail("EVP_DigestSignInit failed: is the signing key an RSA private key?");
}

void MessageSigner::Add(std::span<const std::uint8_t> bytes) {
  if (EVP_DigestSignUpdate(ctx_.get(), bytes.data(), bytes.size()) != 1)
    Fail("EVP_DigestSignUpdate failed");
}

Bytes MessageSigner::Finish() {
  std::size_t length = 0;
  if (EVP_DigestSignFinal(ctx_.get(), nullptr, &length) != 1) Fail("EVP_DigestSignFinal failed");
  Bytes signature(length);
  if (EVP_DigestSignFinal(ctx_.get(), signature.data(), &length) != 1)
    Fail("EVP_DigestSignFinal failed");
  signature.resize(length);
  return signature;
}

Bytes SignMessage(EVP_PKEY* privateKey, std::span<const std::uint8_t> message) {
  MessageSigner signer(privateKey);
  signer.Add(message);
  return signer.Finish();
}

Bytes EncryptPkcs1(EVP_PKEY* publicKey, std::span<const std::uint8_t> plaintext) {
  PkeyCtxPtr ctx(EVP_PKEY_CTX_new(publicKey, nullptr));
  if (!ctx || EVP_PKEY_encrypt_init(ctx.get()) != 1 ||
      EVP_PKEY_CTX_set_rsa_padding(ctx.get(), RSA_PKCS1_PADDING) != 1)
    Fail("EVP_PKEY_encrypt_init failed");
  size_t length = 0;
  if (EVP_PKEY_encrypt(ctx.get(), nullptr, &length, plaintext.data(), plaintext.size()) != 1)
    Fail("EVP_PKEY_encrypt (size) failed");
  Bytes out(length);
  if (EVP_PKEY_encrypt(ctx.get(), out.data(), &length, plaintext.data(), plaintext.size()) != 1)
    Fail("EVP_PKEY_encrypt failed: plaintext too long for the key?");
  out.resize(length);
  return out;
}

Bytes RandomBytes(std::size_t count) {
  Bytes out(count);
  if (count > 0 && RAND_bytes(out.data(), static_cast<int>(count)) != 1) Fail("RAND_bytes failed");
  return out;
}

}  // namespace qve::writer
