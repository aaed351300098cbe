#include "decrypt/stream_verifier.h"

#include <openssl/err.h>

#include "crypto/digest.h"

namespace qve {

StreamVerifier::StreamVerifier() : verifyContext_(EVP_MD_CTX_new()), window_(kWindowSize) {}

void StreamVerifier::KeepError() { lastError_ = static_cast<std::uint32_t>(ERR_get_error()); }

bool StreamVerifier::Bind(const VerificationKey& key) {
  ERR_clear_error();
  // A key that could not be built must not be used.
  if (!verifyContext_ || key.pkey() == nullptr ||
      EVP_DigestVerifyInit(verifyContext_.get(), nullptr, LibraryDigest(), nullptr, key.pkey()) !=
          1) {
    KeepError();
    return false;
  }
  boundKey_ = &key;
  return true;
}

bool StreamVerifier::Update(const std::uint8_t* bytes, std::uint32_t count) {
  window_.Append(std::span(bytes, count));
  if (boundKey_ == nullptr) return true;
  ERR_clear_error();
  if (EVP_DigestUpdate(verifyContext_.get(), bytes, count) == 0) {
    KeepError();
    return false;
  }
  return true;
}

bool StreamVerifier::Finish(std::span<const std::uint8_t> signature) {
  ERR_clear_error();
  if (boundKey_ != nullptr &&
      EVP_DigestVerifyFinal(verifyContext_.get(), signature.data(), signature.size()) == 1)
    return true;
  KeepError();
  return false;
}

}  // namespace qve
