// SPDX-License-Identifier: Apache-2.0
// The cipher state of one decryption, from the header to the last chunk.
#pragma once

#include <vector>

#include "crypto/payload_cipher.h"
#include "decrypt/byte_ring.h"
#include "decrypt/container_header.h"
#include "format/bytes.h"
#include "format/container_format.h"

namespace qve {

struct DecryptionContext {
  DecryptionContext() = default;
  DecryptionContext(const DecryptionContext&) = delete;
  DecryptionContext& operator=(const DecryptionContext&) = delete;

  PayloadDecryption cipher;
  std::vector<RecipientEntry> recipients;
  Bytes iv;
  Bytes outputBuffer;
  ByteRing trailingWindow{kWindowSize};  // the newest plaintext
};

}  // namespace qve
