#include "decrypt/output_signature.h"

#include <array>

#include "decrypt/decrypt_stream.h"
#include "decrypt/stream_verifier.h"

namespace qve {

QVE_Helper::DecryptResult VerifyOutputSignature(std::istream& output, const SealInfo& seal,
                                                const VerificationKey& key) {
  StreamVerifier verifier;
  if (!verifier.Bind(key)) return QVE_Helper::VerifyInitFailed;

  std::array<char, kChunkSize> chunk;
  // The read that meets the end still delivers its bytes; at an exact
  // multiple of the chunk size it delivers none and the update is empty.
  while (output.good()) {
    output.read(chunk.data(), chunk.size());
    if (!verifier.Update(reinterpret_cast<const std::uint8_t*>(chunk.data()),
                         static_cast<std::uint32_t>(output.gcount())))
      return QVE_Helper::VerifyUpdateFailed;
  }

  if (seal.keyId != key.keyId()) return QVE_Helper::BadSignature;
  return verifier.Finish(seal.signature) ? QVE_Helper::Success : QVE_Helper::BadSignature;
}

}  // namespace qve
