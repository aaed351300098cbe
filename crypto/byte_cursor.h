// A bounds-checked read cursor: every field of the library's formats is read
// through one of these, so no reader does its own index arithmetic. The
// bytes come from a span (ByteCursor) or from any other source that can hand
// out the next n bytes; the rules of reading a field are written once, here.
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

// Source: `bool Take(std::size_t n, std::span<const std::uint8_t>* out)`,
// true with the next n bytes, false when fewer are left. A cursor whose read
// failed is not read again.
template <typename Source>
class BasicByteCursor {
 public:
  explicit BasicByteCursor(Source source) : source_(std::move(source)) {}

  bool ReadU8(std::uint32_t* out) { return ReadLE(1, out); }
  bool ReadU16LE(std::uint32_t* out) { return ReadLE(2, out); }
  bool ReadU32LE(std::uint32_t* out) { return ReadLE(4, out); }

  bool ReadBytes(std::size_t n, std::span<const std::uint8_t>* out) { return source_.Take(n, out); }

  bool Skip(std::size_t n) {
    std::span<const std::uint8_t> ignored;
    return ReadBytes(n, &ignored);
  }

  // Only for sources that know their size.
  std::size_t remaining() const { return source_.remaining(); }

  // The next bytes, when they spell `tag`.
  bool ReadTag(std::string_view tag) {
    std::span<const std::uint8_t> bytes;
    return ReadBytes(tag.size(), &bytes) && std::equal(bytes.begin(), bytes.end(), tag.begin());
  }

  // A length, then that many bytes, the length at most `limit`.
  FieldRead ReadU16Prefixed(std::span<const std::uint8_t>* field, std::uint32_t limit = 0xFFFF) {
    return ReadPrefixed(2, limit, field);
  }
  FieldRead ReadU32Prefixed(std::span<const std::uint8_t>* field,
                            std::uint32_t limit = 0xFFFFFFFF) {
    return ReadPrefixed(4, limit, field);
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
                         std::span<const std::uint8_t>* field) {
    std::uint32_t length = 0;
    if (!ReadLE(width, &length)) return FieldRead::NoLength;
    if (length > limit) return FieldRead::OverLimit;
    return ReadBytes(length, field) ? FieldRead::Read : FieldRead::Short;
  }

  Source source_;
};

// Bytes in memory; a failed read consumes nothing.
class SpanSource {
 public:
  // Implicit, so that a cursor is made from a span.
  SpanSource(std::span<const std::uint8_t> data) : data_(data) {}

  bool Take(std::size_t n, std::span<const std::uint8_t>* out) {
    if (n > data_.size()) return false;
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
