// Builds test inputs byte by byte, little-endian as the formats are.
#pragma once

#include <cstdint>
#include <span>
#include <string_view>

#include "crypto/bytes.h"

namespace qve::testing {

class ByteWriter {
 public:
  ByteWriter& U8(std::uint8_t v) {
    bytes_.push_back(v);
    return *this;
  }
  ByteWriter& U16(std::uint32_t v) { return U8(std::uint8_t(v)).U8(std::uint8_t(v >> 8)); }
  ByteWriter& U32(std::uint32_t v) { return U16(v & 0xFFFF).U16(v >> 16); }
  ByteWriter& Raw(std::span<const std::uint8_t> b) {
    bytes_.insert(bytes_.end(), b.begin(), b.end());
    return *this;
  }
  ByteWriter& Text(std::string_view s) {
    bytes_.insert(bytes_.end(), s.begin(), s.end());
    return *this;
  }
  ByteWriter& Fill(std::size_t count, std::uint8_t v) {
    bytes_.insert(bytes_.end(), count, v);
    return *this;
  }
  const Bytes& bytes() const { return bytes_; }
  Bytes Take() { return std::move(bytes_); }

 private:
  Bytes bytes_;
};

inline Bytes BytesOf(std::string_view s) { return Bytes(s.begin(), s.end()); }

}  // namespace qve::testing
