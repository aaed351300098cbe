// SPDX-License-Identifier: Apache-2.0
// CRC-32 of IEEE 802.3 (as zlib computes it), which guards the key block.
#pragma once

#include <cstddef>
#include <cstdint>

namespace qve {

inline constexpr std::uint32_t kCrc32Start = 0xFFFFFFFF;

// One step over `count` bytes. Applies neither the start value nor the final
// inversion: Crc32Update(kCrc32Start, ...) ^ 0xFFFFFFFF is the checksum.
std::uint32_t Crc32Update(std::uint32_t crc, const std::uint8_t* bytes, std::size_t count);

}  // namespace qve
