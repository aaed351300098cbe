// SPDX-License-Identifier: Apache-2.0
// The writing counterpart of ByteCursor: the format encoders write every
// field through one of these, little-endian as the formats are. A declared
// length may be made to disagree with the bytes it counts and the output may
// be cut, so that malformed files are written field by field like good ones.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>
#include <utility>

#include "format/bytes.h"

namespace qve {

class ByteBuilder {
 public:
  ByteBuilder& U8(std::uint32_t value) { return LE(1, value); }
  ByteBuilder& U16LE(std::uint32_t value) { return LE(2, value); }
  ByteBuilder& U32LE(std::uint32_t value) { return LE(4, value); }

  ByteBuilder& Raw(std::span<const std::uint8_t> bytes) {
    bytes_.insert(bytes_.end(), bytes.begin(), bytes.end());
    return *this;
  }
  // Text as its bytes: a tag, or a text field.
  ByteBuilder& Tag(std::string_view text) {
    // Byte by byte: GCC 12 at -O3 reports a false overflow for a range insert here.
    for (const char c : text) bytes_.push_back(static_cast<std::uint8_t>(c));
    return *this;
  }

  // A length, then the field; `declared` replaces the true length.
  ByteBuilder& U16Prefixed(std::span<const std::uint8_t> field,
                           std::optional<std::uint32_t> declared = {}) {
    return U16LE(declared.value_or(static_cast<std::uint32_t>(field.size()))).Raw(field);
  }
  ByteBuilder& U32Prefixed(std::span<const std::uint8_t> field,
                           std::optional<std::uint32_t> declared = {}) {
    return U32LE(declared.value_or(static_cast<std::uint32_t>(field.size()))).Raw(field);
  }
  ByteBuilder& U32Prefixed(std::string_view text, std::optional<std::uint32_t> declared = {}) {
    return U32LE(declared.value_or(static_cast<std::uint32_t>(text.size()))).Tag(text);
  }

  std::size_t size() const { return bytes_.size(); }

  // The bytes written, the first `cutTo` of them when it is set.
  Bytes Take(std::optional<std::size_t> cutTo = {}) {
    if (cutTo) bytes_.resize(std::min(*cutTo, bytes_.size()));
    return std::move(bytes_);
  }

 private:
  ByteBuilder& LE(std::size_t width, std::uint32_t value) {
    for (std::size_t i = 0; i < width; ++i)
      bytes_.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
    return *this;
  }

  Bytes bytes_;
};

}  // namespace qve
