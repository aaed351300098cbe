// SPDX-License-Identifier: Apache-2.0
#include "crypto/signature_block.h"

#include <algorithm>
#include <stdexcept>

#include "crypto/digest.h"
#include "crypto/openssl_ptr.h"
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

MdCtxPtr VerifyContext::Fresh() {
  if (!prepared_) {
    MdCtxPtr ctx(EVP_MD_CTX_new());
    if (!ctx || EVP_DigestVerifyInit(ctx.get(), nullptr, LibraryDigest(), nullptr, key_) != 1)
      throw std::runtime_error("EVP_DigestVerifyInit() failed.");
    // Each copy is finished once, so OpenSSL need not copy it again to finish.
    EVP_MD_CTX_set_flags(ctx.get(), EVP_MD_CTX_FLAG_FINALISE);
    prepared_ = std::move(ctx);
  }
  MdCtxPtr copy(EVP_MD_CTX_new());
  if (!copy || EVP_MD_CTX_copy_ex(copy.get(), prepared_.get()) != 1)
    throw std::runtime_error("EVP_DigestVerifyInit() failed.");
  return copy;
}

BlockCheck::BlockCheck(std::span<const std::uint8_t> blockBytes, VerifyContext& key)
    : stop_(ParseSignatureBlockStop(blockBytes, block_)) {
  if (!parsed()) return;
  ctx_ = key.Fresh();
  std::uint8_t id[4];
  for (int i = 0; i < 4; ++i) id[i] = std::uint8_t(block_.id >> (8 * i));
  Add(id);
  Add(block_.link);
  Add(std::span(reinterpret_cast<const std::uint8_t*>(block_.text.data()), block_.text.size()));
}

void BlockCheck::Add(std::span<const std::uint8_t> covered) {
  if (ctx_ && EVP_DigestVerifyUpdate(ctx_.get(), covered.data(), covered.size()) != 1)
    throw std::runtime_error("EVP_DigestVerifyUpdate() failed.");
}

BlockCheckResult BlockCheck::Finish(std::span<const std::uint8_t> expectedLink) {
  if (stop_.status == BlockParseResult::Empty) return BlockCheckResult::NoSignature;
  if (!parsed()) return BlockCheckResult::SignatureInvalid;
  const int verified =
      EVP_DigestVerifyFinal(ctx_.get(), block_.signature.data(), block_.signature.size());
  if (verified != 0 && verified != 1) throw std::runtime_error("EVP_DigestVerifyFinal() failed.");
  if (verified == 0) return BlockCheckResult::SignatureInvalid;
  const bool linked =
      std::equal(block_.link.begin(), block_.link.end(), expectedLink.begin(), expectedLink.end());
  return linked ? BlockCheckResult::Valid : BlockCheckResult::LinkMismatch;
}

BlockCheckResult CheckSignatureBlock(std::span<const std::uint8_t> expectedLink,
                                     std::span<const std::uint8_t> covered,
                                     std::span<const std::uint8_t> blockBytes, VerifyContext& key) {
  BlockCheck check(blockBytes, key);
  check.Add(covered);
  return check.Finish(expectedLink);
}

}  // namespace qve
