// Feeds a byte stream into an RSA signature check and keeps its newest bytes,
// where the seal trailer is looked for once the stream has ended. Unbound,
// it only keeps the bytes.
#pragma once

#include <cstdint>
#include <span>

#include "crypto/built_in_keys.h"
#include "crypto/openssl_ptr.h"
#include "decrypt/byte_ring.h"

namespace qve {

inline constexpr std::size_t kWindowSize = 8192;

class StreamVerifier {
 public:
  StreamVerifier();
  StreamVerifier(const StreamVerifier&) = delete;
  StreamVerifier& operator=(const StreamVerifier&) = delete;

  // Starts a check of the key's signature over the library digest.
  bool Bind(const VerificationKey& key);

  // Keeps the bytes and, once bound, digests them. False when the digest
  // update fails; lastError() then holds OpenSSL's code.
  bool Update(const std::uint8_t* bytes, std::uint32_t count);

  // True only when the signature verifies over everything updated.
  bool Finish(std::span<const std::uint8_t> signature);

  const VerificationKey* boundKey() const { return boundKey_; }
  const ByteRing& window() const { return window_; }
  std::uint32_t lastError() const { return lastError_; }

 private:
  void KeepError();

  MdCtxPtr verifyContext_;
  const VerificationKey* boundKey_ = nullptr;
  ByteRing window_;
  std::uint32_t lastError_ = 0;
};

}  // namespace qve
