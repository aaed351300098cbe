// Writer side of signature blocks and their base64 text.
#pragma once

#include <openssl/evp.h>

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "crypto/bytes.h"

namespace qve::writer {

struct BlockFields {
  std::uint32_t id = 0;
  std::string text;
  Bytes link;
};

// The block layout: "QV", version 2, id, text, link, signature.
Bytes SerializeSignatureBlock(const BlockFields& fields, std::span<const std::uint8_t> signature);

// A complete block whose signature covers fields and lines.
Bytes SignBlock(EVP_PKEY* privateKey, const BlockFields& fields,
                const std::vector<std::string>& lines);

// Standard base64 with '=' padding.
std::string EncodeBase64(std::span<const std::uint8_t> bytes);

}  // namespace qve::writer
