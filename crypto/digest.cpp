// SPDX-License-Identifier: Apache-2.0
#include "crypto/digest.h"

#include <stdexcept>

namespace qve {

void Digest::Start() {
  if (!ctx_) ctx_.reset(EVP_MD_CTX_new());
  // A context that was set up before starts over with the digest it holds,
  // which spares fetching the digest's implementation again.
  const EVP_MD* digest = ctx_ && EVP_MD_CTX_get0_md(ctx_.get()) ? nullptr : LibraryDigest();
  if (!ctx_ || EVP_DigestInit_ex(ctx_.get(), digest, nullptr) != 1)
    throw std::runtime_error("EVP_DigestInit_ex() failed.");
  started_ = true;
}

void Digest::Update(std::span<const std::uint8_t> input) {
  if (!started_) Start();
  if (EVP_DigestUpdate(ctx_.get(), input.data(), input.size()) != 1)
    throw std::runtime_error("EVP_DigestUpdate() failed.");
}

Bytes Digest::Final() {
  if (!started_) Start();
  started_ = false;
  Bytes out(EVP_MAX_MD_SIZE);
  unsigned int length = 0;
  if (EVP_DigestFinal_ex(ctx_.get(), out.data(), &length) != 1)
    throw std::runtime_error("EVP_DigestFinal_ex() failed.");
  out.resize(length);
  return out;
}

Bytes ComputeDigest(std::span<const std::uint8_t> input) {
  Digest digest;
  digest.Update(input);
  return digest.Final();
}

Bytes ChainStart() { return ComputeDigest({}); }

}  // namespace qve
