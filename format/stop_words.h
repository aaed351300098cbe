// SPDX-License-Identifier: Apache-2.0
// Where a parser stopped (a ParseStop), in words, the same for every format:
// the field, then what was wrong with it. The diagnoses say it so, and the
// commands print it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

namespace qve {

// A tag's bytes, read big-endian, as hex digits.
std::string TagHex(std::uint64_t value, std::size_t size);

// `within` is what ended inside the field ("file", "block"); a tag is shown
// in hex, the rest of `tagSize` bytes; content is a field of bytes after its
// length; an exact field has one allowed value, the others an upper limit.
template <typename Stop>
std::string Problem(const Stop& stop, const std::string& field, bool isTag, std::size_t tagSize,
                    bool isContent, bool isExact, const char* within = "file") {
  if (stop.cut) {
    if (isContent)
      return field + ": " + std::to_string(stop.value) + " bytes, " + std::to_string(stop.left) +
             " left";
    return field + " cut short by the end of the " + within;
  }
  if (isTag)
    return field + " " + TagHex(stop.value, tagSize) + ", expected " + TagHex(stop.limit, tagSize);
  return field + " " + std::to_string(stop.value) + (isExact ? ", expected " : ", at most ") +
         std::to_string(stop.limit);
}

}  // namespace qve
