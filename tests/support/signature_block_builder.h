// Builds a signature block field by field, so a test can state exactly which
// field is off: a wrong magic, a declared length past the end, a signature
// over other lines, trailing bytes.
#pragma once

#include <openssl/evp.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "crypto/bytes.h"

namespace qve::testing {

class SignatureBlockBuilder {
 public:
  SignatureBlockBuilder& Magic(std::string magic);
  SignatureBlockBuilder& Version(std::uint32_t version);
  SignatureBlockBuilder& Id(std::uint32_t id);
  SignatureBlockBuilder& Text(std::string text);
  SignatureBlockBuilder& Link(Bytes link);
  // An explicit signature; replaces any SignOver.
  SignatureBlockBuilder& Signature(Bytes signature);
  // Signs id | link | text | each line + 0x00 with `key` (default: the
  // development verification private key) when the block is built.
  SignatureBlockBuilder& SignOver(std::vector<std::string> lines, EVP_PKEY* key = nullptr);
  // Length fields that disagree with the bytes that follow them.
  SignatureBlockBuilder& DeclaredTextLength(std::uint32_t length);
  SignatureBlockBuilder& DeclaredLinkLength(std::uint32_t length);
  SignatureBlockBuilder& DeclaredSignatureLength(std::uint32_t length);
  SignatureBlockBuilder& Trailing(Bytes extra);

  Bytes Build() const;
  // The block's bytes as they stand in a signature line.
  std::string BuildBase64() const;

 private:
  std::string magic_ = "QV";
  std::uint32_t version_ = 2;
  std::uint32_t id_ = 0;
  std::string text_;
  Bytes link_;
  Bytes signature_;
  std::optional<std::vector<std::string>> signedLines_;
  EVP_PKEY* signingKey_ = nullptr;
  std::optional<std::uint32_t> textLength_, linkLength_, signatureLength_;
  Bytes trailing_;
};

// The message a block's signature covers, assembled independently of the
// library: id (LE) | link | text | each line followed by 0x00.
Bytes ExpectedSignedMessage(std::uint32_t id, const Bytes& link, const std::string& text,
                            const std::vector<std::string>& lines);

}  // namespace qve::testing
