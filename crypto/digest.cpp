#include "crypto/digest.h"

#include <stdexcept>

#include "crypto/openssl_ptr.h"

namespace qve {

Bytes ComputeDigest(std::span<const std::uint8_t> input) {
  MdCtxPtr ctx(EVP_MD_CTX_new());
  if (!ctx || EVP_DigestInit_ex(ctx.get(), LibraryDigest(), nullptr) != 1)
    throw std::runtime_error("EVP_DigestInit_ex() failed.");
  if (EVP_DigestUpdate(ctx.get(), input.data(), input.size()) != 1)
    throw std::runtime_error("EVP_DigestUpdate() failed.");
  Bytes out(EVP_MAX_MD_SIZE);
  unsigned int length = 0;
  if (EVP_DigestFinal_ex(ctx.get(), out.data(), &length) != 1)
    throw std::runtime_error("EVP_DigestFinal_ex() failed.");
  out.resize(length);
  return out;
}

}  // namespace qve
