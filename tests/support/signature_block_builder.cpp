#include "tests/support/signature_block_builder.h"

#include "tests/support/byte_writer.h"
#include "tests/support/dev_keys.h"
#include "tools/writer/keys.h"
#include "tools/writer/signature_block_writer.h"

namespace qve::testing {

SignatureBlockBuilder& SignatureBlockBuilder::Magic(std::string magic) {
  magic_ = std::move(magic);
  return *this;
}
SignatureBlockBuilder& SignatureBlockBuilder::Version(std::uint32_t version) {
  version_ = version;
  return *this;
}
SignatureBlockBuilder& SignatureBlockBuilder::Id(std::uint32_t id) {
  id_ = id;
  return *this;
}
SignatureBlockBuilder& SignatureBlockBuilder::Text(std::string text) {
  text_ = std::move(text);
  return *this;
}
SignatureBlockBuilder& SignatureBlockBuilder::Link(Bytes link) {
  link_ = std::move(link);
  return *this;
}
SignatureBlockBuilder& SignatureBlockBuilder::Signature(Bytes signature) {
  signature_ = std::move(signature);
  signedLines_.reset();
  return *this;
}
SignatureBlockBuilder& SignatureBlockBuilder::SignOver(std::vector<std::string> lines,
                                                       EVP_PKEY* key) {
  signedLines_ = std::move(lines);
  signingKey_ = key;
  return *this;
}
SignatureBlockBuilder& SignatureBlockBuilder::DeclaredTextLength(std::uint32_t length) {
  textLength_ = length;
  return *this;
}
SignatureBlockBuilder& SignatureBlockBuilder::DeclaredLinkLength(std::uint32_t length) {
  linkLength_ = length;
  return *this;
}
SignatureBlockBuilder& SignatureBlockBuilder::DeclaredSignatureLength(std::uint32_t length) {
  signatureLength_ = length;
  return *this;
}
SignatureBlockBuilder& SignatureBlockBuilder::Trailing(Bytes extra) {
  trailing_ = std::move(extra);
  return *this;
}

Bytes ExpectedSignedMessage(std::uint32_t id, const Bytes& link, const std::string& text,
                            const std::vector<std::string>& lines) {
  ByteWriter message;
  message.U32(id).Raw(link).Text(text);
  for (const auto& line : lines) message.Text(line).U8(0x00);
  return message.Take();
}

Bytes SignatureBlockBuilder::Build() const {
  Bytes signature = signature_;
  if (signedLines_) {
    EVP_PKEY* key = signingKey_ != nullptr ? signingKey_ : DevVerificationPrivateKey();
    signature = writer::SignMessage(key, ExpectedSignedMessage(id_, link_, text_, *signedLines_));
  }
  ByteWriter block;
  block.Text(magic_).U32(version_).U32(id_);
  block.U32(textLength_.value_or(std::uint32_t(text_.size()))).Text(text_);
  block.U32(linkLength_.value_or(std::uint32_t(link_.size()))).Raw(link_);
  block.U32(signatureLength_.value_or(std::uint32_t(signature.size()))).Raw(signature);
  block.Raw(trailing_);
  return block.Take();
}

std::string SignatureBlockBuilder::BuildBase64() const { return writer::EncodeBase64(Build()); }

}  // namespace qve::testing
