// The container header:
//
//   "QVES" | version u16 (=1) | N u8 (<=32)
//   | N x ( 'P' | K u16 (<=16384) | keyId[K] | W u16 (<=4096) | wrappedKey[W] )
//   | IV | payload to the end of the file
#pragma once

#include <cstdint>
#include <istream>
#include <span>
#include <vector>

#include "crypto/bytes.h"

namespace qve {

inline constexpr std::uint32_t kContainerVersion = 1;
inline constexpr std::uint32_t kMaxRecipients = 32;
inline constexpr std::uint8_t kRecipientTag = 0x50;
inline constexpr std::uint32_t kMaxKeyIdLength = 16384;
inline constexpr std::uint32_t kMaxWrappedKeyLength = 4096;

struct RecipientEntry {
  Bytes keyId;
  Bytes wrappedKey;
};

// Where reading stopped. Callers only tell Complete from the rest.
enum class HeaderStatus : int {
  Complete = 0,
  MagicVersionOrIvUnreadable = 1,
  VersionUnsupported = 2,
  Truncated = 3,
  TooManyRecipients = 4,
  BadRecipientTag = 5,
  KeyIdLengthInvalid = 6,
  WrappedKeyLengthInvalid = 7,
};

// Reads from the start of the container up to the first payload byte, where
// the stream is left on success. The IV is read into all of `iv`. Entries
// appended before a failure stay in `recipients`.
HeaderStatus ReadHeader(std::istream& input, std::span<std::uint8_t> iv,
                        std::vector<RecipientEntry>& recipients);

}  // namespace qve
