// SPDX-License-Identifier: Apache-2.0
// Writer side of signature blocks (layout in format/signed_log_format.h) and
// their base64 text.
#pragma once

#include <openssl/evp.h>

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "crypto/openssl_ptr.h"
#include "format/bytes.h"
#include "format/signed_log_format.h"
#include "tools/writer/keys.h"

namespace qve::writer {

// The fields a signature covers, besides the lines.
struct BlockFields {
  std::uint32_t id = 0;
  std::string text;
  Bytes link;
};

// Every field of the layout; a set length disagrees with the bytes it counts.
//   magic | version | id | T | text | K | link | S | signature | trailing
struct BlockLayout {
  std::string magic{kBlockMagic};
  std::uint32_t version = kSignatureBlockVersion;
  std::uint32_t id = 0;
  std::string text{};
  Bytes link{};
  Bytes signature{};
  std::optional<std::uint32_t> textLength{}, linkLength{}, signatureLength{};
  Bytes trailing{};
};
Bytes EncodeSignatureBlock(const BlockLayout& block);

// The signature over id | link | text | each covered line + 0x00, the lines
// fed as they come, so that no block is held whole. Throws
// std::runtime_error when OpenSSL fails.
// Add takes covered bytes as they are: a piece of a line, or the 0x00 after one.
class BlockSigner : public MessageSigner {
 public:
  BlockSigner(EVP_PKEY* privateKey, const BlockFields& fields);
  void AddLine(std::string_view line);
};

// A complete block whose signature covers fields and lines.
Bytes SignBlock(EVP_PKEY* privateKey, const BlockFields& fields,
                const std::vector<std::string>& lines);

// Standard base64 with '=' padding.
std::string EncodeBase64(std::span<const std::uint8_t> bytes);

}  // namespace qve::writer
