#include "verify/block_bytes.h"

#include "crypto/base64.h"

namespace qve {

Bytes BlockBytesOf(std::string_view payload) {
  if (payload.size() / 4 == 0) return {};
  return DecodeBase64(payload);
}

}  // namespace qve
