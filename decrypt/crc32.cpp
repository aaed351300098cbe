// SPDX-License-Identifier: Apache-2.0
#include "decrypt/crc32.h"

#include <array>
#include <span>

namespace qve {

namespace {

constexpr std::uint32_t kPolynomial = 0x04C11DB7;

std::uint32_t Reflect(std::uint32_t value, int bits) {
  std::uint32_t reflected = 0;
  for (int i = 0; i < bits; ++i) reflected |= ((value >> i) & 1u) << (bits - 1 - i);
  return reflected;
}

// Built from the polynomial in its written bit order, then reflected, so the
// table matches the reflected one the checksum is defined by.
std::array<std::uint32_t, 256> BuildTable() {
  std::array<std::uint32_t, 256> table{};
  for (std::uint32_t v = 0; v < 256; ++v) {
    std::uint32_t r = v << 24;
    for (int bit = 0; bit < 8; ++bit) r = (r & 0x80000000u) ? (r << 1) ^ kPolynomial : r << 1;
    table[Reflect(v, 8)] = Reflect(r, 32);
  }
  return table;
}

const std::array<std::uint32_t, 256>& Table() {
  // Built by the first caller; concurrent first callers wait for it.
  static const std::array<std::uint32_t, 256> table = BuildTable();
  return table;
}

}  // namespace

std::uint32_t Crc32Update(std::uint32_t crc, const std::uint8_t* bytes, std::size_t count) {
  const auto& table = Table();
  for (const std::uint8_t b : std::span(bytes, count)) crc = table[(b ^ crc) & 0xFF] ^ (crc >> 8);
  return crc;
}

}  // namespace qve
