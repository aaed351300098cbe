// SPDX-License-Identifier: Apache-2.0
#include "crypto/signature_check.h"

#include <openssl/err.h>
#include <openssl/evp.h>

#include "crypto/digest.h"

namespace qve {

SignatureCheck::SignatureCheck(ErrorQueue queue) : queue_(queue), context_(EVP_MD_CTX_new()) {}

void SignatureCheck::BeforeCall() {
  if (queue_ == ErrorQueue::ClearedPerCall) ERR_clear_error();
}

void SignatureCheck::AfterFailure() {
  if (queue_ == ErrorQueue::ClearedPerCall) lastError_ = ERR_get_error();
}

bool SignatureCheck::Start(EVP_PKEY* key) {
  BeforeCall();
  bound_ = context_ && key != nullptr &&
           EVP_DigestVerifyInit(context_.get(), nullptr, LibraryDigest(), nullptr, key) == 1;
  if (!bound_) AfterFailure();
  return bound_;
}

bool SignatureCheck::StartLike(const SignatureCheck& started) {
  BeforeCall();
  bound_ =
      context_ && started.bound_ && EVP_MD_CTX_copy_ex(context_.get(), started.context_.get()) == 1;
  if (!bound_) AfterFailure();
  return bound_;
}

void SignatureCheck::FinishOnlyOnce() {
  EVP_MD_CTX_set_flags(context_.get(), EVP_MD_CTX_FLAG_FINALISE);
}

bool SignatureCheck::Update(std::span<const std::uint8_t> bytes) {
  BeforeCall();
  // OpenSSL passes it on to the verification the context was bound for.
  if (bound_ && EVP_DigestUpdate(context_.get(), bytes.data(), bytes.size()) == 1) return true;
  AfterFailure();
  return false;
}

int SignatureCheck::Finish(std::span<const std::uint8_t> signature) {
  BeforeCall();
  const int verified =
      bound_ ? EVP_DigestVerifyFinal(context_.get(), signature.data(), signature.size()) : -1;
  if (verified != 1) AfterFailure();
  return verified;
}

}  // namespace qve
