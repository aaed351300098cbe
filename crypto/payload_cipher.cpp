// SPDX-License-Identifier: Apache-2.0
#include "crypto/payload_cipher.h"

#include <openssl/evp.h>

#include "format/container_format.h"

namespace qve {

namespace {

const EVP_CIPHER* Cipher() { return EVP_aes_256_cbc(); }

}  // namespace

PayloadDecryption::PayloadDecryption() : context_(EVP_CIPHER_CTX_new()) {}

bool PayloadDecryption::Start(std::span<const std::uint8_t> key, std::span<const std::uint8_t> iv) {
  if (key.size() < kPayloadKeyLength || iv.size() < kPayloadIvLength) return false;
  return context_ &&
         EVP_DecryptInit_ex(context_.get(), Cipher(), nullptr, key.data(), iv.data()) == 1;
}

bool PayloadDecryption::Update(std::span<const std::uint8_t> in, std::uint8_t* out, int& produced) {
  produced = 0;
  return context_ && EVP_DecryptUpdate(context_.get(), out, &produced, in.data(),
                                       static_cast<int>(in.size())) == 1;
}

bool PayloadDecryption::Final(std::uint8_t* out, int& produced) {
  produced = 0;
  return context_ && EVP_DecryptFinal_ex(context_.get(), out, &produced) == 1;
}

std::optional<PayloadDecryption> PayloadDecryption::CopyFrom(
    std::span<const std::uint8_t> iv) const {
  PayloadDecryption copy;
  if (!copy.context_ || !context_ || iv.size() < kPayloadIvLength ||
      EVP_CIPHER_CTX_copy(copy.context_.get(), context_.get()) != 1 ||
      EVP_DecryptInit_ex(copy.context_.get(), nullptr, nullptr, nullptr, iv.data()) != 1)
    return std::nullopt;
  return copy;
}

}  // namespace qve
