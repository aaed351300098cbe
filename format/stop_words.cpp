// SPDX-License-Identifier: Apache-2.0
#include "format/stop_words.h"

namespace qve {

std::string TagHex(std::uint64_t value, std::size_t size) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string out(2 * size, '0');
  for (std::size_t i = out.size(); i-- > 0; value >>= 4) out[i] = kDigits[value & 15];
  return out;
}

}  // namespace qve
