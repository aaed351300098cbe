// SPDX-License-Identifier: Apache-2.0
#include "crypto/block_check.h"

#include <algorithm>
#include <stdexcept>

#include "crypto/digest.h"
#include "crypto/openssl_ptr.h"

namespace qve {

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
