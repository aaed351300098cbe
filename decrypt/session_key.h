// SPDX-License-Identifier: Apache-2.0
// Finds the recipient record meant for the built-in decryption key, unwraps
// the key block it carries and sets the payload cipher up with it.
//
// Key block: key material | CRC-32 of the material, least significant byte first.
#pragma once

#include <cstdint>
#include <optional>
#include <span>

#include "crypto/built_in_keys.h"
#include "crypto/key_unwrap.h"
#include "decrypt/decryption_context.h"

namespace qve {

// At least the 4 CRC bytes, and the CRC matches the material before them.
bool KeyBlockIntact(std::span<const std::uint8_t> block);

// How far opening the session key got. Never the key material itself.
struct SessionKeyCheck {
  std::optional<std::size_t> record;  // the record used, from 0; none names the key
  bool unwraps = false;
  bool crcMatches = false;
  std::size_t keyMaterialLength = 0;  // the block less its CRC
  bool ready = false;                 // the cipher is set up with it
};

// Only the first record naming the key is tried, whatever follows it.
SessionKeyCheck OpenSessionKey(DecryptionContext& context, const DecryptionKey& key);

// True when context.cipher is ready to decrypt the payload.
bool UnwrapSessionKey(DecryptionContext& context, const DecryptionKey& key);

}  // namespace qve
