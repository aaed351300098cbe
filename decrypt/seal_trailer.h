// SPDX-License-Identifier: Apache-2.0
// The seal trailer (layout in format/container_format.h), the last L bytes of
// the decrypted data, found from its end.
#pragma once

#include <cstdint>
#include <span>

#include "format/bytes.h"
#include "format/container_format.h"
#include "format/parse_stop.h"

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

// Where recognising the trailer stopped, offsets in the plaintext; `length`
// is L once the trailer is Found.
struct SealStop : ParseStop<SealStatus, SealField> {
  std::uint32_t length = 0;

  bool operator==(const SealStop&) const = default;
};

// Looks for the trailer at the end of `window`, the newest bytes of the
// decrypted data, whose first byte is plaintext byte `windowStart`. keyId
// and signature are copied out as they are read; a trailer longer than the
// window is never recognised.
SealStop ParseSealStop(std::span<const std::uint8_t> window, std::uint64_t windowStart,
                       Bytes& keyId, Bytes& signature);

// The reader the decryption calls: L, or 0 when the window ends in no trailer.
std::uint32_t ParseSeal(std::span<const std::uint8_t> window, Bytes& keyId, Bytes& signature);

}  // namespace qve
