// SPDX-License-Identifier: Apache-2.0
// The check of a signature block (format/signature_block.h): its signature
// over its own fields and the lines it covers, under the verification key,
// and its link to the chain.
#pragma once

#include <openssl/types.h>

#include <cstdint>
#include <optional>
#include <span>

#include "crypto/signature_check.h"
#include "format/signature_block.h"
#include "format/signed_log_format.h"

namespace qve {

// The key's signature check, bound on first use and copied for every block:
// binding costs more than the copy.
class VerifyContext {
 public:
  explicit VerifyContext(EVP_PKEY* publicKey) : key_(publicKey) {}

  // A check bound to the key. Throws std::runtime_error.
  SignatureCheck Fresh();

 private:
  EVP_PKEY* key_;
  SignatureCheck prepared_{ErrorQueue::Untouched};
};

// The check of one block, taking the covered lines after the block's own
// fields, in as many pieces as they come. Throws std::runtime_error naming
// the OpenSSL call that failed; a malformed block or a signature that does
// not verify is a result, not an error.
class BlockCheck {
 public:
  // Parses the block and, when it parses, starts its message: id | link | text.
  BlockCheck(std::span<const std::uint8_t> blockBytes, VerifyContext& key);

  // Whether the result depends on the covered lines at all.
  bool parsed() const { return stop_.status == BlockParseResult::Parsed; }
  // Where parsing stopped, and the fields read before (all when parsed).
  const BlockStop& stop() const { return stop_; }
  SignatureBlock& block() { return block_; }
  // Covered bytes: each pending line, then 0x00.
  void Add(std::span<const std::uint8_t> covered);
  BlockCheckResult Finish(std::span<const std::uint8_t> expectedLink);

 private:
  SignatureBlock block_;
  BlockStop stop_;
  std::optional<SignatureCheck> check_;
};

// The whole check at once, for covered lines held in memory: BlockCheck's
// steps, which the verifier takes line by line so as not to hold a block.
BlockCheckResult CheckSignatureBlock(std::span<const std::uint8_t> expectedLink,
                                     std::span<const std::uint8_t> covered,
                                     std::span<const std::uint8_t> blockBytes, VerifyContext& key);

}  // namespace qve
