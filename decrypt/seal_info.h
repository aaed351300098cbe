// What the seal trailer at the end of the decrypted data says, carried from
// the decryption to the signature check of the output.
#pragma once

#include <cstdint>

#include "crypto/bytes.h"

namespace qve {

struct SealInfo {
  std::uint32_t length = 0;  // 0: no trailer recognised
  Bytes keyId;
  Bytes signature;

  void Clear() {
    length = 0;
    keyId.clear();
    signature.clear();
  }
};

}  // namespace qve
