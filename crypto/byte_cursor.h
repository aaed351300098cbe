// A bounds-checked read cursor over a byte string: every length-prefixed
// field of the library's formats is read through one of these, so no reader
// does its own index arithmetic.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace qve {

class ByteCursor {
 public:
  explicit ByteCursor(std::span<const std::uint8_t> data) : data_(data) {}

  std::size_t remaining() const { return data_.size(); }

  bool ReadU16LE(std::uint32_t* out) { return ReadLE(2, out); }
  bool ReadU32LE(std::uint32_t* out) { return ReadLE(4, out); }

  // Takes the next n bytes; fails, consuming nothing, when fewer are left.
  bool ReadBytes(std::size_t n, std::span<const std::uint8_t>* out) {
    if (n > data_.size()) return false;
    *out = data_.first(n);
    data_ = data_.subspan(n);
    return true;
  }

  bool Skip(std::size_t n) {
    std::span<const std::uint8_t> ignored;
    return ReadBytes(n, &ignored);
  }

 private:
  bool ReadLE(std::size_t width, std::uint32_t* out) {
    std::span<const std::uint8_t> bytes;
    if (!ReadBytes(width, &bytes)) return false;
    std::uint32_t value = 0;
    for (std::size_t i = width; i-- > 0;) value = (value << 8) | bytes[i];
    *out = value;
    return true;
  }

  std::span<const std::uint8_t> data_;
};

}  // namespace qve
