// SPDX-License-Identifier: Apache-2.0
// The name of an enumerator from a table indexed by its value.
#pragma once

#include <cstddef>
#include <cstdint>

namespace qve {

template <std::size_t N>
const char* NameOf(const char* const (&names)[N], std::int64_t value, const char* unknown) {
  return value >= 0 && static_cast<std::size_t>(value) < N ? names[value] : unknown;
}

}  // namespace qve
