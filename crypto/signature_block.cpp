#include "crypto/signature_block.h"

#include <algorithm>
#include <stdexcept>

#include "crypto/byte_cursor.h"
#include "crypto/digest.h"
#include "crypto/openssl_ptr.h"

namespace qve {

BlockParseResult ParseSignatureBlock(std::span<const std::uint8_t> bytes, SignatureBlock& block) {
  if (bytes.empty()) return BlockParseResult::Empty;
  if (bytes.size() == 1) return BlockParseResult::OneByte;
  ByteCursor cursor(bytes);
  if (!cursor.ReadTag("QV")) return BlockParseResult::BadMagic;

  if (!cursor.ReadU32LE(&block.version)) return BlockParseResult::VersionTruncated;
  if (block.version != kSignatureBlockVersion) return BlockParseResult::VersionUnsupported;
  if (!cursor.ReadU32LE(&block.id)) return BlockParseResult::IdTruncated;

  // A missing length truncates the block; a length over the limit or past
  // the end makes the field invalid.
  std::span<const std::uint8_t> field;
  FieldRead read = cursor.ReadU32Prefixed(&field, kMaxBlockTextLength);
  if (read != FieldRead::Read)
    return read == FieldRead::NoLength ? BlockParseResult::TextLengthTruncated
                                       : BlockParseResult::TextInvalid;
  block.text.assign(field.begin(), field.end());
  read = cursor.ReadU32Prefixed(&field, kMaxBlockLinkLength);
  if (read != FieldRead::Read)
    return read == FieldRead::NoLength ? BlockParseResult::LinkLengthTruncated
                                       : BlockParseResult::LinkInvalid;
  block.link.assign(field.begin(), field.end());
  read = cursor.ReadU32Prefixed(&field, kMaxBlockSignatureLength);
  if (read != FieldRead::Read)
    return read == FieldRead::NoLength ? BlockParseResult::SignatureLengthTruncated
                                       : BlockParseResult::SignatureInvalid;
  block.signature.assign(field.begin(), field.end());
  return BlockParseResult::Parsed;
}

BlockCheckResult CheckSignatureBlock(std::span<const std::uint8_t> expectedLink,
                                     SignedLines& pendingLines,
                                     std::span<const std::uint8_t> blockBytes,
                                     EVP_PKEY* publicKey) {
  SignatureBlock block;
  switch (ParseSignatureBlock(blockBytes, block)) {
    case BlockParseResult::Parsed:
      break;
    case BlockParseResult::Empty:
      return BlockCheckResult::NoSignature;
    default:
      return BlockCheckResult::SignatureInvalid;
  }
  const std::span<const std::uint8_t> message = pendingLines.MessageFor(block);

  MdCtxPtr ctx(EVP_MD_CTX_new());
  if (!ctx || EVP_DigestVerifyInit(ctx.get(), nullptr, LibraryDigest(), nullptr, publicKey) != 1)
    throw std::runtime_error("EVP_DigestVerifyInit() failed.");
  if (EVP_DigestVerifyUpdate(ctx.get(), message.data(), message.size()) != 1)
    throw std::runtime_error("EVP_DigestVerifyUpdate() failed.");
  const int verified =
      EVP_DigestVerifyFinal(ctx.get(), block.signature.data(), block.signature.size());
  if (verified != 0 && verified != 1) throw std::runtime_error("EVP_DigestVerifyFinal() failed.");
  if (verified == 0) return BlockCheckResult::SignatureInvalid;

  const bool linked =
      std::equal(block.link.begin(), block.link.end(), expectedLink.begin(), expectedLink.end());
  return linked ? BlockCheckResult::Valid : BlockCheckResult::LinkMismatch;
}

}  // namespace qve
