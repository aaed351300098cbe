// SPDX-License-Identifier: Apache-2.0
#include "decrypt/container_header.h"

#include <algorithm>

namespace qve {

namespace {

// The header straight from the container stream: it is read no further
// than its last byte, where the payload begins. A read is short when fewer
// bytes arrive or the stream fails.
class StreamSource {
 public:
  explicit StreamSource(std::istream& input) : input_(input) {}

  bool Take(std::size_t n, std::span<const std::uint8_t>* out) {
    buffer_.resize(n);
    input_.read(reinterpret_cast<char*>(buffer_.data()), static_cast<std::streamsize>(n));
    const auto got = static_cast<std::size_t>(std::max<std::streamsize>(input_.gcount(), 0));
    *out = std::span<const std::uint8_t>(buffer_).first(std::min(got, n));
    return !input_.fail() && got == n;
  }

 private:
  std::istream& input_;
  Bytes buffer_;  // the bytes of the last read
};

using HeaderCursor = BasicByteCursor<StreamSource>;

bool ReadRecipient(HeaderCursor& cursor, HeaderStop& stop,
                   std::vector<RecipientEntry>& recipients) {
  const std::uint64_t at = cursor.offset();
  std::uint32_t tag = 0;
  if (!cursor.ReadU8(&tag)) {
    stop.Cut(HeaderStatus::Truncated, HeaderField::Tag, at, 0);
    return false;
  }
  if (tag != kRecipientTag) {
    stop.Refuse(HeaderStatus::BadRecipientTag, HeaderField::Tag, at, tag, kRecipientTag);
    return false;
  }
  // A length that is missing or over its limit makes the length invalid;
  // fewer bytes than it says truncate the header.
  constexpr auto kCut = HeaderStatus::Truncated;
  std::span<const std::uint8_t> field;
  if (!ReadFieldOrStop(cursor, 2, kMaxKeyIdLength, stop, HeaderField::KeyIdLength,
                       HeaderField::KeyId, HeaderStatus::KeyIdLengthInvalid,
                       HeaderStatus::KeyIdLengthInvalid, kCut, &field))
    return false;
  RecipientEntry& entry =
      recipients.emplace_back(RecipientEntry{Bytes(field.begin(), field.end()), {}});
  if (!ReadFieldOrStop(cursor, 2, kMaxWrappedKeyLength, stop, HeaderField::WrappedKeyLength,
                       HeaderField::WrappedKey, HeaderStatus::WrappedKeyLengthInvalid,
                       HeaderStatus::WrappedKeyLengthInvalid, kCut, &field))
    return false;
  entry.wrappedKey.assign(field.begin(), field.end());
  return true;
}

}  // namespace

HeaderParse ReadHeaderStop(std::istream& input, std::span<std::uint8_t> iv,
                           std::vector<RecipientEntry>& recipients) {
  HeaderParse parse;
  HeaderStop& stop = parse.stop;
  HeaderCursor cursor(StreamSource{input});
  constexpr auto kUnreadable = HeaderStatus::MagicVersionOrIvUnreadable;

  std::span<const std::uint8_t> magic;
  if (!cursor.ReadBytes(kContainerMagic.size(), &magic)) {
    stop.Cut(kUnreadable, HeaderField::Magic, 0, cursor.delivered());
    return parse;
  }
  if (!StartsWithContainerMagic(magic)) {
    stop.Refuse(kUnreadable, HeaderField::Magic, 0, BigEndianValue(magic),
                BigEndianValue(kContainerMagic));
    return parse;
  }

  std::uint32_t value = 0;
  std::uint64_t at = cursor.offset();
  if (!cursor.ReadU16LE(&value)) {
    stop.Cut(kUnreadable, HeaderField::Version, at, cursor.delivered());
    return parse;
  }
  parse.version = value;
  if (value != kContainerVersion) {
    stop.Refuse(HeaderStatus::VersionUnsupported, HeaderField::Version, at, value,
                kContainerVersion);
    return parse;
  }

  at = cursor.offset();
  if (!cursor.ReadU8(&value)) {
    stop.Cut(HeaderStatus::Truncated, HeaderField::RecipientCount, at, 0);
    return parse;
  }
  parse.count = value;
  if (value > kMaxRecipients) {
    stop.Refuse(HeaderStatus::TooManyRecipients, HeaderField::RecipientCount, at, value,
                kMaxRecipients);
    return parse;
  }

  recipients.clear();
  recipients.reserve(value);
  for (std::uint32_t i = 0; i < *parse.count; ++i) {
    parse.recordOffsets.push_back(cursor.offset());
    if (!ReadRecipient(cursor, stop, recipients)) {
      stop.record = i + 1;
      return parse;
    }
  }

  at = cursor.offset();
  std::span<const std::uint8_t> ivBytes;
  if (!cursor.ReadBytes(iv.size(), &ivBytes)) {
    stop.Cut(kUnreadable, HeaderField::Iv, at, cursor.delivered(), iv.size());
    return parse;
  }
  std::copy(ivBytes.begin(), ivBytes.end(), iv.begin());
  parse.end = cursor.offset();
  return parse;
}

HeaderStatus ReadHeader(std::istream& input, std::span<std::uint8_t> iv,
                        std::vector<RecipientEntry>& recipients) {
  return ReadHeaderStop(input, iv, recipients).stop.status;
}

}  // namespace qve
