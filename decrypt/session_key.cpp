#include "decrypt/session_key.h"

#include <openssl/core_names.h>
#include <openssl/crypto.h>
#include <openssl/params.h>
#include <openssl/rsa.h>

#include <algorithm>
#include <cstdint>
#include <optional>
#include <span>

#include "crypto/byte_cursor.h"
#include "decrypt/crc32.h"

namespace qve {

namespace {

constexpr std::size_t kCrcSize = 4;

}  // namespace

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
  if (block.size() < kCrcSize) return false;
  const auto material = block.first(block.size() - kCrcSize);
  std::uint32_t stored = 0;
  ByteCursor(block.last(kCrcSize)).ReadU32LE(&stored);
  const std::uint32_t computed =
      Crc32Update(kCrc32Start, material.data(), material.size()) ^ 0xFFFFFFFFu;
  return stored == computed;
}

bool UnwrapSessionKey(DecryptionContext& context, const DecryptionKey& key) {
  const auto entry =
      std::find_if(context.recipients.begin(), context.recipients.end(),
                   [&](const RecipientEntry& candidate) { return candidate.keyId == key.keyId(); });
  if (entry == context.recipients.end()) return false;

  KeyBlockBuffer buffer;
  const auto block = UnwrapKeyBlock(key.pkey(), entry->wrappedKey, buffer);
  if (!block || !KeyBlockIntact(*block)) return false;
  // Too little key material would have the cipher read its key from past the
  // block; such a block is refused rather than used.
  const auto keyLength = static_cast<std::size_t>(EVP_CIPHER_get_key_length(context.cipher));
  if (block->size() - kCrcSize < keyLength) return false;

  return context.cipherContext &&
         EVP_DecryptInit_ex(context.cipherContext.get(), context.cipher, nullptr, block->data(),
                            context.iv.data()) == 1;
}

}  // namespace qve
