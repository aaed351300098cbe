// SPDX-License-Identifier: Apache-2.0
#include "decrypt/seal_trailer.h"

namespace qve {

namespace {

// A tag at the cursor: false when it is cut short or spells something else.
bool ReadSealTag(ByteCursor& cursor, SealStop& stop, SealStatus status, SealField field,
                 std::uint64_t at) {
  std::span<const std::uint8_t> bytes;
  if (!cursor.ReadBytes(kSealTag.size(), &bytes)) {
    stop.Cut(status, field, at, cursor.delivered());
    return false;
  }
  if (BigEndianValue(bytes) != BigEndianValue(kSealTag)) {
    stop.Refuse(status, field, at, BigEndianValue(bytes), BigEndianValue(kSealTag));
    return false;
  }
  return true;
}

}  // namespace

SealStop ParseSealStop(std::span<const std::uint8_t> window, std::uint64_t windowStart,
                       Bytes& keyId, Bytes& signature) {
  SealStop stop;
  const std::size_t size = window.size();
  if (size < kShortestSealWindow) {
    stop.Refuse(SealStatus::WindowTooShort, SealField::None, windowStart, size,
                kShortestSealWindow);
    return stop;
  }

  const std::uint64_t closingAt = windowStart + size - kSealClosingSize;
  ByteCursor closing(window.last(kSealClosingSize), closingAt);
  if (!ReadSealTag(closing, stop, SealStatus::NoClosingTag, SealField::ClosingTag, closingAt))
    return stop;
  std::uint32_t length = 0;
  const std::uint64_t lengthAt = closing.offset();
  closing.ReadU16LE(&length);
  if (length == 0 || length > size) {
    stop.Refuse(SealStatus::LengthInvalid, SealField::Length, lengthAt, length, size);
    return stop;
  }

  // The fields run from the opening tag to the end of the data; the closing
  // tag bounds nothing.
  const std::uint64_t trailerAt = windowStart + size - length;
  ByteCursor trailer(window.last(length), trailerAt);
  if (!ReadSealTag(trailer, stop, SealStatus::NoOpeningTag, SealField::OpeningTag, trailerAt))
    return stop;
  const std::uint64_t versionAt = trailer.offset();
  std::uint32_t version = 0;
  if (!trailer.ReadU16LE(&version)) {
    stop.Cut(SealStatus::VersionUnsupported, SealField::Version, versionAt, trailer.delivered());
    return stop;
  }
  if (version != kSealVersion) {
    stop.Refuse(SealStatus::VersionUnsupported, SealField::Version, versionAt, version,
                kSealVersion);
    return stop;
  }
  // Each field is copied out as soon as it is read.
  std::span<const std::uint8_t> field;
  constexpr auto kKeyId = SealStatus::KeyIdInvalid;
  if (!ReadFieldOrStop(trailer, 2, 0xFFFF, stop, SealField::KeyIdLength, SealField::KeyId, kKeyId,
                       kKeyId, kKeyId, &field))
    return stop;
  keyId.assign(field.begin(), field.end());
  constexpr auto kSignature = SealStatus::SignatureInvalid;
  if (!ReadFieldOrStop(trailer, 2, 0xFFFF, stop, SealField::SignatureLength, SealField::Signature,
                       kSignature, kSignature, kSignature, &field))
    return stop;
  signature.assign(field.begin(), field.end());
  stop.status = SealStatus::Found;
  stop.length = length;
  return stop;
}

std::uint32_t ParseSeal(std::span<const std::uint8_t> window, Bytes& keyId, Bytes& signature) {
  return ParseSealStop(window, 0, keyId, signature).length;
}

}  // namespace qve
