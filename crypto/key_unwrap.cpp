// SPDX-License-Identifier: Apache-2.0
#include "crypto/key_unwrap.h"

#include <openssl/core_names.h>
#include <openssl/crypto.h>
#include <openssl/params.h>
#include <openssl/rsa.h>

namespace qve {

KeyBlockBuffer::~KeyBlockBuffer() { OPENSSL_cleanse(bytes.data(), bytes.size()); }

std::optional<std::span<const std::uint8_t>> UnwrapKeyBlock(const DecryptionKey& key,
                                                            std::span<const std::uint8_t> wrapped,
                                                            KeyBlockBuffer& out) {
  EVP_PKEY* pkey = key.pkey();
  if (pkey == nullptr) return std::nullopt;
  PkeyCtxPtr ctx(EVP_PKEY_CTX_new(pkey, nullptr));
  if (!ctx || EVP_PKEY_decrypt_init(ctx.get()) != 1 ||
      EVP_PKEY_CTX_set_rsa_padding(ctx.get(), RSA_PKCS1_PADDING) != 1)
    return std::nullopt;
#ifdef OSSL_ASYM_CIPHER_PARAM_IMPLICIT_REJECTION
  // Newer OpenSSL hands back random bytes for bad padding; a bad wrapped key
  // must be an error here.
  unsigned int implicitRejection = 0;
  const OSSL_PARAM params[] = {
      OSSL_PARAM_construct_uint(OSSL_ASYM_CIPHER_PARAM_IMPLICIT_REJECTION, &implicitRejection),
      OSSL_PARAM_construct_end()};
  if (EVP_PKEY_CTX_set_params(ctx.get(), params) != 1) return std::nullopt;
#endif
  out.bytes.resize(static_cast<std::size_t>(EVP_PKEY_get_size(pkey)));
  std::size_t length = out.bytes.size();
  if (EVP_PKEY_decrypt(ctx.get(), out.bytes.data(), &length, wrapped.data(), wrapped.size()) != 1)
    return std::nullopt;
  return std::span<const std::uint8_t>(out.bytes).first(length);
}

}  // namespace qve
