// SPDX-License-Identifier: Apache-2.0
// The seal parser sees only the window's newest bytes. Whatever they are, a
// recognised trailer lies inside them, and the fields it hands out lie inside
// the trailer.
#include <algorithm>
#include <cstdint>
#include <cstdlib>

#include "decrypt/byte_ring.h"
#include "decrypt/seal_trailer.h"
#include "format/bytes.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  qve::ByteRing window(qve::kWindowSize);
  // Uneven pieces, so the ring wraps where the plaintext chunks would.
  std::size_t offset = 0;
  for (std::size_t piece = 1; offset < size; piece = piece * 3 + 1) {
    const std::size_t count = std::min(piece, size - offset);
    window.Append({data + offset, count});
    offset += count;
  }
  const std::size_t held = window.size();
  if (held != std::min(size, qve::kWindowSize)) std::abort();

  qve::Bytes keyId, signature;
  const std::uint32_t length = qve::ParseSeal(window.Contents(), keyId, signature);
  if (length == 0) return 0;
  if (length < qve::kShortestSealWindow || length > held) std::abort();
  if (8 + keyId.size() + 2 + signature.size() > length) std::abort();
  // The trailer is the last `length` bytes of the input and ends in its length.
  const std::uint8_t* trailer = data + size - length;
  if (trailer[length - 2] + 256u * trailer[length - 1] != length) std::abort();
  if (!std::equal(keyId.begin(), keyId.end(), trailer + 8)) std::abort();
  return 0;
}
