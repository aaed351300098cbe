// SPDX-License-Identifier: Apache-2.0
#include "decrypt/session_key.h"

#include <openssl/core_names.h>
#include <openssl/crypto.h>
#include <openssl/params.h>
#include <openssl/rsa.h>

#include <algorithm>
#include <cstdint>
#include <optional>
#include <span>

#include "decrypt/crc32.h"
#include "format/byte_cursor.h"

namespace qve {

std::optional<std::span<const std::uint8_t>> UnwrapKeyBlock(EVP_PKEY* key, const Bytes& wrapped,
                                                            KeyBlockBuffer& out) {
  if (key == nullptr) return std::nullopt;
  PkeyCtxPtr ctx(EVP_PKEY_CTX_new(key, nullptr));
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
  out.bytes.resize(static_cast<std::size_t>(EVP_PKEY_get_size(key)));
  std::size_t length = out.bytes.size();
  if (EVP_PKEY_decrypt(ctx.get(), out.bytes.data(), &length, wrapped.data(), wrapped.size()) != 1)
    return std::nullopt;
  return std::span<const std::uint8_t>(out.bytes).first(length);
}

bool KeyBlockIntact(std::span<const std::uint8_t> block) {
  if (block.size() < kKeyBlockCrcSize) return false;
  const auto material = block.first(block.size() - kKeyBlockCrcSize);
  std::uint32_t stored = 0;
  ByteCursor(block.last(kKeyBlockCrcSize)).ReadU32LE(&stored);
  const std::uint32_t computed =
      Crc32Update(kCrc32Start, material.data(), material.size()) ^ 0xFFFFFFFFu;
  return stored == computed;
}

SessionKeyCheck OpenSessionKey(DecryptionContext& context, const DecryptionKey& key) {
  SessionKeyCheck check;
  const auto entry =
      std::find_if(context.recipients.begin(), context.recipients.end(),
                   [&](const RecipientEntry& candidate) { return candidate.keyId == key.keyId(); });
  if (entry == context.recipients.end()) return check;
  check.record = static_cast<std::size_t>(entry - context.recipients.begin());

  KeyBlockBuffer buffer;
  const auto block = UnwrapKeyBlock(key.pkey(), entry->wrappedKey, buffer);
  check.unwraps = block.has_value();
  if (!block) return check;
  check.keyMaterialLength = block->size() - std::min(block->size(), kKeyBlockCrcSize);
  check.crcMatches = KeyBlockIntact(*block);
  if (!check.crcMatches) return check;
  // Too little key material would have the cipher read its key from past the
  // block; such a block is refused rather than used.
  if (check.keyMaterialLength < PayloadKeyLength()) return check;

  check.ready =
      context.cipherContext && EVP_DecryptInit_ex(context.cipherContext.get(), context.cipher,
                                                  nullptr, block->data(), context.iv.data()) == 1;
  return check;
}

bool UnwrapSessionKey(DecryptionContext& context, const DecryptionKey& key) {
  return OpenSessionKey(context, key).ready;
}

}  // namespace qve
