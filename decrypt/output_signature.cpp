#include "decrypt/output_signature.h"

#include <openssl/err.h>

#include <array>

#include "crypto/digest.h"
#include "crypto/openssl_ptr.h"
#include "decrypt/decrypt_stream.h"

namespace qve {

namespace {

// Each OpenSSL call here starts from an empty error queue; a failure's code
// is taken off it again, so the failure leaves nothing behind in the queue
// but what came after its first code.
void TakeFailureCode() { ERR_get_error(); }

}  // namespace

QVE_Helper::DecryptResult VerifyOutputSignature(std::istream& output, const SealInfo& seal,
                                                const VerificationKey& key) {
  MdCtxPtr verifier(EVP_MD_CTX_new());
  ERR_clear_error();
  // A key that could not be built must not be used.
  if (!verifier || key.pkey() == nullptr ||
      EVP_DigestVerifyInit(verifier.get(), nullptr, LibraryDigest(), nullptr, key.pkey()) != 1) {
    TakeFailureCode();
    return QVE_Helper::VerifyInitFailed;
  }

  std::array<char, kChunkSize> chunk;
  // The read that meets the end still delivers its bytes; at an exact
  // multiple of the chunk size it delivers none and the update is empty.
  while (output.good()) {
    output.read(chunk.data(), chunk.size());
    ERR_clear_error();
    if (EVP_DigestUpdate(verifier.get(), chunk.data(), static_cast<std::size_t>(output.gcount())) ==
        0) {
      TakeFailureCode();
      return QVE_Helper::VerifyUpdateFailed;
    }
  }

  if (seal.keyId != key.keyId()) return QVE_Helper::BadSignature;
  ERR_clear_error();
  if (EVP_DigestVerifyFinal(verifier.get(), seal.signature.data(), seal.signature.size()) == 1)
    return QVE_Helper::Success;
  TakeFailureCode();
  return QVE_Helper::BadSignature;
}

}  // namespace qve
