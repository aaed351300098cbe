// SPDX-License-Identifier: Apache-2.0
#include "format/stop_words.h"

#include <vector>

namespace qve {

std::string Hex(std::span<const std::uint8_t> bytes) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string out;
  for (const std::uint8_t byte : bytes) out += {kDigits[byte >> 4], kDigits[byte & 15]};
  return out;
}

std::string TagHex(std::uint64_t value, std::size_t size) {
  std::vector<std::uint8_t> bytes(size);
  for (std::size_t i = size; i-- > 0; value >>= 8) bytes[i] = static_cast<std::uint8_t>(value);
  return Hex(bytes);
}

}  // namespace qve
