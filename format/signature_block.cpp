// SPDX-License-Identifier: Apache-2.0
#include "format/signature_block.h"

#include "format/byte_cursor.h"

namespace qve {

BlockStop ParseSignatureBlockStop(std::span<const std::uint8_t> bytes, SignatureBlock& block) {
  using R = BlockParseResult;
  BlockStop stop;
  if (bytes.empty()) {
    stop.Cut(R::Empty, BlockField::None, 0, 0);
    return stop;
  }
  ByteCursor cursor(bytes);
  std::span<const std::uint8_t> magic;
  if (!cursor.ReadBytes(kBlockMagic.size(), &magic)) {
    stop.Cut(R::OneByte, BlockField::Magic, 0, cursor.delivered());
    return stop;
  }
  if (BigEndianValue(magic) != BigEndianValue(kBlockMagic)) {
    stop.Refuse(R::BadMagic, BlockField::Magic, 0, BigEndianValue(magic),
                BigEndianValue(kBlockMagic));
    return stop;
  }

  std::uint64_t at = cursor.offset();
  if (!cursor.ReadU32LE(&block.version)) {
    stop.Cut(R::VersionTruncated, BlockField::Version, at, cursor.delivered());
    return stop;
  }
  if (block.version != kSignatureBlockVersion) {
    stop.Refuse(R::VersionUnsupported, BlockField::Version, at, block.version,
                kSignatureBlockVersion);
    return stop;
  }
  at = cursor.offset();
  if (!cursor.ReadU32LE(&block.id)) {
    stop.Cut(R::IdTruncated, BlockField::Id, at, cursor.delivered());
    return stop;
  }

  // A missing length truncates the block; a length over the limit or past
  // the end makes the field invalid.
  std::span<const std::uint8_t> field;
  if (!ReadFieldOrStop(cursor, 4, kMaxBlockTextLength, stop, BlockField::TextLength,
                       BlockField::Text, R::TextLengthTruncated, R::TextInvalid, R::TextInvalid,
                       &field))
    return stop;
  block.text.assign(field.begin(), field.end());
  if (!ReadFieldOrStop(cursor, 4, kMaxBlockLinkLength, stop, BlockField::LinkLength,
                       BlockField::Link, R::LinkLengthTruncated, R::LinkInvalid, R::LinkInvalid,
                       &field))
    return stop;
  block.link.assign(field.begin(), field.end());
  if (!ReadFieldOrStop(cursor, 4, kMaxBlockSignatureLength, stop, BlockField::SignatureLength,
                       BlockField::Signature, R::SignatureLengthTruncated, R::SignatureInvalid,
                       R::SignatureInvalid, &field))
    return stop;
  block.signature.assign(field.begin(), field.end());
  return stop;
}

BlockParseResult ParseSignatureBlock(std::span<const std::uint8_t> bytes, SignatureBlock& block) {
  return ParseSignatureBlockStop(bytes, block).status;
}

}  // namespace qve
