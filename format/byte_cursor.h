// SPDX-License-Identifier: Apache-2.0
// A bounds-checked read cursor: every field of the library's formats is read
// through one of these, so no reader does its own index arithmetic. The
// bytes come from a span (ByteCursor) or from any other source that can hand
// out the next n bytes; the rules of reading a field are written once, here.
// The cursor counts the bytes it has read, so a parser can say where it
// stopped (format/parse_stop.h).
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>
#include <utility>

namespace qve {

// Where a length-prefixed read stopped.
enum class FieldRead {
  Read,
  NoLength,   // fewer bytes left than the length takes
  OverLimit,  // the length is above the field's limit
  Short,      // fewer bytes left than the length says
};

// Bytes read as one big-endian number, as a tag is shown.
inline std::uint64_t BigEndianValue(std::span<const std::uint8_t> bytes) {
  std::uint64_t value = 0;
  for (const std::uint8_t b : bytes) value = (value << 8) | b;
  return value;
}
inline std::uint64_t BigEndianValue(std::string_view text) {
  return BigEndianValue({reinterpret_cast<const std::uint8_t*>(text.data()), text.size()});
}

// Source: `bool Take(std::size_t n, std::span<const std::uint8_t>* out)`,
// true with the next n bytes; false when fewer are left, with `*out` the
// bytes there were. A cursor whose read failed is not read again.
template <typename Source>
class BasicByteCursor {
 public:
  explicit BasicByteCursor(Source source, std::uint64_t offset = 0)
      : source_(std::move(source)), offset_(offset) {}

  bool ReadU8(std::uint32_t* out) { return ReadLE(1, out); }
  bool ReadU16LE(std::uint32_t* out) { return ReadLE(2, out); }
  bool ReadU32LE(std::uint32_t* out) { return ReadLE(4, out); }

  bool ReadBytes(std::size_t n, std::span<const std::uint8_t>* out) {
    if (!source_.Take(n, out)) {
      delivered_ = out->size();
      return false;
    }
    offset_ += n;
    return true;
  }

  bool Skip(std::size_t n) {
    std::span<const std::uint8_t> ignored;
    return ReadBytes(n, &ignored);
  }

  // Bytes read so far, from where the cursor started counting.
  std::uint64_t offset() const { return offset_; }
  // How many bytes the last failed read found.
  std::size_t delivered() const { return delivered_; }
  // Only for sources that know their size.
  std::size_t remaining() const { return source_.remaining(); }

  // The next bytes, when they spell `tag`.
  bool ReadTag(std::string_view tag) {
    std::span<const std::uint8_t> bytes;
    return ReadBytes(tag.size(), &bytes) && std::equal(bytes.begin(), bytes.end(), tag.begin());
  }

  // A length, then that many bytes, the length at most `limit`. `*length` is
  // the length read, where there was one.
  FieldRead ReadU16Prefixed(std::span<const std::uint8_t>* field, std::uint32_t limit = 0xFFFF,
                            std::uint32_t* length = nullptr) {
    return ReadPrefixed(2, limit, field, length);
  }
  FieldRead ReadU32Prefixed(std::span<const std::uint8_t>* field, std::uint32_t limit = 0xFFFFFFFF,
                            std::uint32_t* length = nullptr) {
    return ReadPrefixed(4, limit, field, length);
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

  FieldRead ReadPrefixed(std::size_t width, std::uint32_t limit,
                         std::span<const std::uint8_t>* field, std::uint32_t* lengthOut) {
    std::uint32_t length = 0;
    if (!ReadLE(width, &length)) return FieldRead::NoLength;
    if (lengthOut != nullptr) *lengthOut = length;
    if (length > limit) return FieldRead::OverLimit;
    return ReadBytes(length, field) ? FieldRead::Read : FieldRead::Short;
  }

  Source source_;
  std::uint64_t offset_;
  std::size_t delivered_ = 0;
};

// Bytes in memory; a failed read consumes nothing.
class SpanSource {
 public:
  // Implicit, so that a cursor is made from a span.
  SpanSource(std::span<const std::uint8_t> data) : data_(data) {}

  bool Take(std::size_t n, std::span<const std::uint8_t>* out) {
    if (n > data_.size()) {
      *out = data_;
      return false;
    }
    *out = data_.first(n);
    data_ = data_.subspan(n);
    return true;
  }

  std::size_t remaining() const { return data_.size(); }

 private:
  std::span<const std::uint8_t> data_;
};

using ByteCursor = BasicByteCursor<SpanSource>;

}  // namespace qve
