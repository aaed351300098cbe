// SPDX-License-Identifier: Apache-2.0
#include "crypto/block_check.h"

#include <algorithm>
#include <stdexcept>

#include "crypto/digest.h"

namespace qve {

// The queue is left alone: the messages are fixed, whatever OpenSSL says.
SignatureCheck VerifyContext::Fresh() {
  if (!prepared_.bound()) {
    if (!prepared_.Start(key_)) throw std::runtime_error("EVP_DigestVerifyInit() failed.");
    prepared_.FinishOnlyOnce();
  }
  SignatureCheck copy(ErrorQueue::Untouched);
  if (!copy.StartLike(prepared_)) throw std::runtime_error("EVP_DigestVerifyInit() failed.");
  return copy;
}

BlockCheck::BlockCheck(std::span<const std::uint8_t> blockBytes, VerifyContext& key)
    : stop_(ParseSignatureBlockStop(blockBytes, block_)) {
  if (!parsed()) return;
  check_.emplace(key.Fresh());
  std::uint8_t id[4];
  for (int i = 0; i < 4; ++i) id[i] = std::uint8_t(block_.id >> (8 * i));
  Add(id);
  Add(block_.link);
  Add(std::span(reinterpret_cast<const std::uint8_t*>(block_.text.data()), block_.text.size()));
}

void BlockCheck::Add(std::span<const std::uint8_t> covered) {
  if (check_ && !check_->Update(covered))
    throw std::runtime_error("EVP_DigestVerifyUpdate() failed.");
}

BlockCheckResult BlockCheck::Finish(std::span<const std::uint8_t> expectedLink) {
  if (stop_.status == BlockParseResult::Empty) return BlockCheckResult::NoSignature;
  if (!parsed()) return BlockCheckResult::SignatureInvalid;
  const int verified = check_->Finish(block_.signature);
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
