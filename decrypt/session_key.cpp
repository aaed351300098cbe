// SPDX-License-Identifier: Apache-2.0
#include "decrypt/session_key.h"

#include <algorithm>
#include <cstdint>
#include <optional>
#include <span>

#include "decrypt/crc32.h"
#include "format/byte_cursor.h"

namespace qve {

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
  const auto block = UnwrapKeyBlock(key, entry->wrappedKey, buffer);
  check.unwraps = block.has_value();
  if (!block) return check;
  check.keyMaterialLength = block->size() - std::min(block->size(), kKeyBlockCrcSize);
  check.crcMatches = KeyBlockIntact(*block);
  if (!check.crcMatches) return check;
  // Too little key material would have the cipher read its key from past the
  // block; such a block is refused rather than used.
  if (check.keyMaterialLength < kPayloadKeyLength) return check;

  check.ready = context.cipher.Start(*block, context.iv);
  return check;
}

bool UnwrapSessionKey(DecryptionContext& context, const DecryptionKey& key) {
  return OpenSessionKey(context, key).ready;
}

}  // namespace qve
