// SPDX-License-Identifier: Apache-2.0
#include "decrypt/output_signature.h"

#include <array>

#include "format/container_format.h"

namespace qve {

OutputVerifier::OutputVerifier(const VerificationKey& key) : key_(key) {
  // A key that could not be built must not be used.
  if (check_.Start(key.pkey())) bound_ = QVE_Helper::Success;
}

bool OutputVerifier::Update(std::span<const std::uint8_t> bytes) { return check_.Update(bytes); }

QVE_Helper::DecryptResult OutputVerifier::Finish(const SealInfo& seal) {
  if (seal.keyId != key_.keyId()) return QVE_Helper::BadSignature;
  return check_.Finish(seal.signature) == 1 ? QVE_Helper::Success : QVE_Helper::BadSignature;
}

QVE_Helper::DecryptResult VerifyOutputSignature(std::istream& output, const SealInfo& seal,
                                                const VerificationKey& key) {
  OutputVerifier verifier(key);
  if (verifier.bound() != QVE_Helper::Success) return verifier.bound();
  std::array<char, kChunkSize> chunk;
  // The read that meets the end still delivers its bytes; at an exact
  // multiple of the chunk size it delivers none and the update is empty.
  while (output.good()) {
    output.read(chunk.data(), chunk.size());
    const auto bytes = std::span(reinterpret_cast<const std::uint8_t*>(chunk.data()),
                                 static_cast<std::size_t>(output.gcount()));
    if (!verifier.Update(bytes)) return QVE_Helper::VerifyUpdateFailed;
  }
  return verifier.Finish(seal);
}

}  // namespace qve
