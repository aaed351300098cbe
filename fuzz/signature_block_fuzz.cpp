// SPDX-License-Identifier: Apache-2.0
// A hostile block may be refused, never crash the parser or the check, and
// never make the check throw with the built-in key.
#include <cstdint>
#include <cstdlib>

#include "crypto/block_check.h"
#include "crypto/built_in_keys.h"
#include "crypto/digest.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const qve::VerificationKey key;
  static const qve::Bytes emptyDigest = qve::ComputeDigest({});
  const std::span<const std::uint8_t> block(data, size);

  qve::SignatureBlock parsed;
  const auto code = qve::ParseSignatureBlock(block, parsed);
  if (code == qve::BlockParseResult::Parsed &&
      (parsed.text.size() > qve::kMaxBlockTextLength ||
       parsed.link.size() > qve::kMaxBlockLinkLength ||
       parsed.signature.size() > qve::kMaxBlockSignatureLength))
    std::abort();

  static qve::VerifyContext context(key.pkey());
  const qve::Bytes covered = {'a', 0x00, 0x00};  // the lines "a" and ""
  const auto result = qve::CheckSignatureBlock(emptyDigest, covered, block, context);
  // Nobody but the holder of the signing key can make a block that verifies.
  if (result == qve::BlockCheckResult::Valid || result == qve::BlockCheckResult::LinkMismatch)
    std::abort();
  return 0;
}
