// SPDX-License-Identifier: Apache-2.0
// The check of a signature block (format/signature_block.h): its signature
// over its own fields and the lines it covers, under the verification key,
// and its link to the chain.
#pragma once

#include <openssl/evp.h>

#include <cstdint>
#include <span>

#include "crypto/openssl_ptr.h"
#include "format/signature_block.h"
#include "format/signed_log_format.h"

namespace qve {

// The key's verification context, set up by EVP_DigestVerifyInit on first use
// and copied for every block: the set-up costs more than the copy.
class VerifyContext {
 public:
  explicit VerifyContext(EVP_PKEY* publicKey) : key_(publicKey) {}

  // A context ready for the message. Throws std::runtime_error.
  MdCtxPtr Fresh();

 private:
  EVP_PKEY* key_;
  MdCtxPtr prepared_;
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
  MdCtxPtr ctx_;
};

// The whole check at once, for covered lines held in memory: BlockCheck's
// steps, which the verifier takes line by line so as not to hold a block.
BlockCheckResult CheckSignatureBlock(std::span<const std::uint8_t> expectedLink,
                                     std::span<const std::uint8_t> covered,
                                     std::span<const std::uint8_t> blockBytes, VerifyContext& key);

}  // namespace qve
