// The seal trailer, the last L bytes of the decrypted data, found from its end:
//
//   "Seal" | version u16 (=1) | K u16 | keyId[K] | G u16 | signature[G]
//   | (skipped) | "Seal" | L u16
#pragma once

#include <cstdint>
#include <span>

#include "crypto/bytes.h"

namespace qve {

// What the trailer says, carried from the decryption to the signature check
// of the output.
struct SealInfo {
  std::uint32_t length = 0;  // 0: no trailer recognised
  Bytes keyId;
  Bytes signature;

  void Clear() {
    length = 0;
    keyId.clear();
    signature.clear();
  }
};

// The trailer length L, with keyId and signature copied out of `window`, the
// newest bytes of the decrypted data; 0 when they do not end in a trailer. A
// trailer longer than the window is never recognised.
std::uint32_t ParseSeal(std::span<const std::uint8_t> window, Bytes& keyId, Bytes& signature);

}  // namespace qve
