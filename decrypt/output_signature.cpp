// SPDX-License-Identifier: Apache-2.0
#include "decrypt/output_signature.h"

#include <openssl/err.h>

#include <array>

#include "crypto/digest.h"
#include "format/container_format.h"

namespace qve {

namespace {

// A failure's code is taken off the queue again, so the failure leaves
// nothing behind in the queue but what came after its first code.
void TakeFailureCode() { ERR_get_error(); }

}  // namespace

OutputVerifier::OutputVerifier(const VerificationKey& key) : key_(key), context_(EVP_MD_CTX_new()) {
  ERR_clear_error();
  // A key that could not be built must not be used.
  if (context_ && key.pkey() != nullptr &&
      EVP_DigestVerifyInit(context_.get(), nullptr, LibraryDigest(), nullptr, key.pkey()) == 1) {
    bound_ = QVE_Helper::Success;
  } else {
    TakeFailureCode();
  }
}

bool OutputVerifier::Update(std::span<const std::uint8_t> bytes) {
  ERR_clear_error();
  if (bound_ == QVE_Helper::Success &&
      EVP_DigestUpdate(context_.get(), bytes.data(), bytes.size()) != 0)
    return true;
  TakeFailureCode();
  return false;
}

QVE_Helper::DecryptResult OutputVerifier::Finish(const SealInfo& seal) {
  if (seal.keyId != key_.keyId()) return QVE_Helper::BadSignature;
  ERR_clear_error();
  if (bound_ == QVE_Helper::Success &&
      EVP_DigestVerifyFinal(context_.get(), seal.signature.data(), seal.signature.size()) == 1)
    return QVE_Helper::Success;
  TakeFailureCode();
  return QVE_Helper::BadSignature;
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
