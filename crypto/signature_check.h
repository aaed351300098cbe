// SPDX-License-Identifier: Apache-2.0
// The one check of an RSA signature (PKCS #1 v1.5 over the library digest),
// fed the signed bytes in pieces. It reports what OpenSSL said and leaves
// the meaning to its caller.
#pragma once

#include <openssl/types.h>

#include <cstdint>
#include <span>

#include "crypto/openssl_ptr.h"

namespace qve {

// What a caller promises about OpenSSL's error queue: the decryption's check
// clears it before each call and takes the failure's code off it after; the
// signed log's check neither clears nor reads it.
enum class ErrorQueue { Untouched, ClearedPerCall };

class SignatureCheck {
 public:
  explicit SignatureCheck(ErrorQueue queue);

  // Binds the check to a public key; false when OpenSSL refuses (a null key
  // included).
  bool Start(EVP_PKEY* key);
  // Binds it as `started` is bound, at the cost of a copy; false when the
  // copy fails.
  bool StartLike(const SignatureCheck& started);
  // On a bound check whose copies are each finished once: OpenSSL then need
  // not copy a copy again to finish it.
  void FinishOnlyOnce();
  // False when OpenSSL refuses the bytes, or the check is not bound.
  bool Update(std::span<const std::uint8_t> bytes);
  // 1 when the signature verifies, 0 when it does not, below 0 (or above 1)
  // when OpenSSL failed; -1 when the check is not bound.
  int Finish(std::span<const std::uint8_t> signature);

  bool bound() const { return bound_; }
  // The code of the last failure taken off the queue; 0 when untouched.
  unsigned long lastError() const { return lastError_; }

 private:
  void BeforeCall();
  void AfterFailure();

  ErrorQueue queue_;
  MdCtxPtr context_;
  bool bound_ = false;
  unsigned long lastError_ = 0;
};

}  // namespace qve
