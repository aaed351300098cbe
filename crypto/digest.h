// SPDX-License-Identifier: Apache-2.0
// The library digest (SHA-256), used by every digest and signature operation.
//
// Error style of crypto/: a signature that does not verify is a result; an
// OpenSSL call that fails throws std::runtime_error naming the call ("EVP_...()
// failed."), and nothing here catches.
#pragma once

#include <openssl/evp.h>

#include <span>

#include "crypto/openssl_ptr.h"
#include "format/bytes.h"

namespace qve {

inline const EVP_MD* LibraryDigest() { return EVP_sha256(); }

// The library digest of input given in any number of pieces; after Final it
// starts over, on the same context. Throws std::runtime_error naming the
// OpenSSL call that failed.
class Digest {
 public:
  void Update(std::span<const std::uint8_t> input);
  Bytes Final();

 private:
  void Start();

  MdCtxPtr ctx_;
  bool started_ = false;
};

// Throws std::runtime_error naming the OpenSSL call that failed.
Bytes ComputeDigest(std::span<const std::uint8_t> input);

// The chain value before the first block of a run: the digest of nothing, as
// the signed log's rules say (format/signed_log_format.h). Throws
// std::runtime_error as ComputeDigest does.
Bytes ChainStart();

}  // namespace qve
