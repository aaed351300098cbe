// SPDX-License-Identifier: Apache-2.0
// The last step of a decryption: the seal's signature over the output file
// once the trailer has been cut off it.
#pragma once

#include <cstdint>
#include <istream>
#include <span>

#include "crypto/built_in_keys.h"
#include "crypto/signature_check.h"
#include "decrypt/seal_trailer.h"
#include "qvehelper/contract.h"

namespace qve {

// The check fed piece by piece, for the output file or for plaintext as it
// streams by. Each OpenSSL call starts from an empty error queue, and a
// failure's code is taken off it again.
class OutputVerifier {
 public:
  explicit OutputVerifier(const VerificationKey& key);

  // Success once bound to the key, else VerifyInitFailed.
  QVE_Helper::DecryptResult bound() const { return bound_; }
  // False when OpenSSL refuses the bytes: VerifyUpdateFailed.
  bool Update(std::span<const std::uint8_t> bytes);
  // Success or BadSignature. The seal's key identifier is compared only now,
  // after the whole pass.
  QVE_Helper::DecryptResult Finish(const SealInfo& seal);

 private:
  const VerificationKey& key_;
  SignatureCheck check_{ErrorQueue::ClearedPerCall};
  QVE_Helper::DecryptResult bound_ = QVE_Helper::VerifyInitFailed;
};

// Reads `output` to its end in 4096-byte chunks. Success, VerifyInitFailed,
// VerifyUpdateFailed or BadSignature.
QVE_Helper::DecryptResult VerifyOutputSignature(std::istream& output, const SealInfo& seal,
                                                const VerificationKey& key);

}  // namespace qve
