// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <algorithm>
#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

namespace qve {

using Bytes = std::vector<std::uint8_t>;

// Text's bytes, seen in place, or copied where a Bytes is wanted.
struct TextBytes : std::span<const std::uint8_t> {
  using std::span<const std::uint8_t>::span;
  operator Bytes() const { return Bytes(begin(), end()); }
  friend bool operator==(const Bytes& bytes, const TextBytes& text) {
    return std::equal(bytes.begin(), bytes.end(), text.begin(), text.end());
  }
};

inline TextBytes BytesOf(std::string_view text) {
  return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

}  // namespace qve
