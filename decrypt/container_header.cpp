#include "decrypt/container_header.h"

#include <algorithm>
#include <array>
#include <string_view>

#include "crypto/byte_cursor.h"

namespace qve {

namespace {

constexpr std::string_view kMagic = "QVES";

// A field is unreadable when fewer bytes arrive or the stream fails.
bool ReadExact(std::istream& input, std::span<std::uint8_t> out) {
  input.read(reinterpret_cast<char*>(out.data()), static_cast<std::streamsize>(out.size()));
  return !input.fail() && input.gcount() == static_cast<std::streamsize>(out.size());
}

bool ReadU8(std::istream& input, std::uint32_t* value) {
  std::array<std::uint8_t, 1> bytes;
  if (!ReadExact(input, bytes)) return false;
  *value = bytes[0];
  return true;
}

bool ReadU16(std::istream& input, std::uint32_t* value) {
  std::array<std::uint8_t, 2> bytes;
  return ReadExact(input, bytes) && ByteCursor(bytes).ReadU16LE(value);
}

HeaderStatus ReadRecipient(std::istream& input, std::vector<RecipientEntry>& recipients) {
  std::uint32_t tag = 0;
  if (!ReadU8(input, &tag)) return HeaderStatus::Truncated;
  if (tag != kRecipientTag) return HeaderStatus::BadRecipientTag;

  std::uint32_t keyIdLength = 0;
  if (!ReadU16(input, &keyIdLength) || keyIdLength > kMaxKeyIdLength)
    return HeaderStatus::KeyIdLengthInvalid;
  Bytes keyId(keyIdLength);
  if (!ReadExact(input, keyId)) return HeaderStatus::Truncated;
  RecipientEntry& entry = recipients.emplace_back(RecipientEntry{std::move(keyId), {}});

  std::uint32_t wrappedKeyLength = 0;
  if (!ReadU16(input, &wrappedKeyLength) || wrappedKeyLength > kMaxWrappedKeyLength)
    return HeaderStatus::WrappedKeyLengthInvalid;
  entry.wrappedKey.resize(wrappedKeyLength);
  if (!ReadExact(input, entry.wrappedKey)) return HeaderStatus::Truncated;
  return HeaderStatus::Complete;
}

}  // namespace

HeaderStatus ReadHeader(std::istream& input, std::span<std::uint8_t> iv,
                        std::vector<RecipientEntry>& recipients) {
  std::array<std::uint8_t, 4> magic;
  if (!ReadExact(input, magic) || !std::equal(magic.begin(), magic.end(), kMagic.begin()))
    return HeaderStatus::MagicVersionOrIvUnreadable;

  std::uint32_t version = 0;
  if (!ReadU16(input, &version)) return HeaderStatus::MagicVersionOrIvUnreadable;
  if (version != kContainerVersion) return HeaderStatus::VersionUnsupported;

  std::uint32_t count = 0;
  if (!ReadU8(input, &count)) return HeaderStatus::Truncated;
  if (count > kMaxRecipients) return HeaderStatus::TooManyRecipients;

  recipients.clear();
  recipients.reserve(count);
  for (std::uint32_t i = 0; i < count; ++i) {
    const HeaderStatus status = ReadRecipient(input, recipients);
    if (status != HeaderStatus::Complete) return status;
  }

  if (!ReadExact(input, iv)) return HeaderStatus::MagicVersionOrIvUnreadable;
  return HeaderStatus::Complete;
}

}  // namespace qve
