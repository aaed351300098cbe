#include "verify/block_bytes.h"

#include "crypto/base64.h"

namespace qve {

Bytes BlockBytesOf(std::string_view payload) {
  if (payload.size() / 4 == 0) return {};
  Bytes bytes(MaxDecodedSize(payload.size()));
  const Base64Decoded decoded = DecodeBase64(bytes.data(), payload.data(), payload.size());
  bytes.resize(decoded.bytesWritten);
  return bytes;
}

}  // namespace qve
