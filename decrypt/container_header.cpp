#include "decrypt/container_header.h"

#include <algorithm>

#include "crypto/byte_cursor.h"

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
    if (input_.fail() || input_.gcount() != static_cast<std::streamsize>(n)) return false;
    *out = buffer_;
    return true;
  }

 private:
  std::istream& input_;
  Bytes buffer_;  // the bytes of the last read
};

using HeaderCursor = BasicByteCursor<StreamSource>;

HeaderStatus ReadRecipient(HeaderCursor& cursor, std::vector<RecipientEntry>& recipients) {
  std::uint32_t tag = 0;
  if (!cursor.ReadU8(&tag)) return HeaderStatus::Truncated;
  if (tag != kRecipientTag) return HeaderStatus::BadRecipientTag;

  // A length that is missing or over its limit makes the length invalid;
  // fewer bytes than it says truncate the header.
  std::span<const std::uint8_t> field;
  FieldRead read = cursor.ReadU16Prefixed(&field, kMaxKeyIdLength);
  if (read != FieldRead::Read)
    return read == FieldRead::Short ? HeaderStatus::Truncated : HeaderStatus::KeyIdLengthInvalid;
  RecipientEntry& entry =
      recipients.emplace_back(RecipientEntry{Bytes(field.begin(), field.end()), {}});

  read = cursor.ReadU16Prefixed(&field, kMaxWrappedKeyLength);
  if (read != FieldRead::Read)
    return read == FieldRead::Short ? HeaderStatus::Truncated
                                    : HeaderStatus::WrappedKeyLengthInvalid;
  entry.wrappedKey.assign(field.begin(), field.end());
  return HeaderStatus::Complete;
}

}  // namespace

HeaderStatus ReadHeader(std::istream& input, std::span<std::uint8_t> iv,
                        std::vector<RecipientEntry>& recipients) {
  HeaderCursor cursor(StreamSource{input});
  std::uint32_t version = 0;
  if (!cursor.ReadTag("QVES") || !cursor.ReadU16LE(&version))
    return HeaderStatus::MagicVersionOrIvUnreadable;
  if (version != kContainerVersion) return HeaderStatus::VersionUnsupported;

  std::uint32_t count = 0;
  if (!cursor.ReadU8(&count)) return HeaderStatus::Truncated;
  if (count > kMaxRecipients) return HeaderStatus::TooManyRecipients;

  recipients.clear();
  recipients.reserve(count);
  for (std::uint32_t i = 0; i < count; ++i) {
    const HeaderStatus status = ReadRecipient(cursor, recipients);
    if (status != HeaderStatus::Complete) return status;
  }

  std::span<const std::uint8_t> ivBytes;
  if (!cursor.ReadBytes(iv.size(), &ivBytes)) return HeaderStatus::MagicVersionOrIvUnreadable;
  std::copy(ivBytes.begin(), ivBytes.end(), iv.begin());
  return HeaderStatus::Complete;
}

}  // namespace qve
