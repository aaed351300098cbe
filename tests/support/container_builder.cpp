#include "tests/support/container_builder.h"

#include <algorithm>

#include "tests/support/byte_writer.h"
#include "tests/support/dev_keys.h"
#include "tools/writer/container_writer.h"
#include "tools/writer/keys.h"

namespace qve::testing {

Bytes KeyBlock(const Bytes& material) { return writer::KeyBlock(material); }

Bytes KeyBlockWithCrcBytes(const Bytes& material, const Bytes& crcBytes) {
  return ByteWriter().Raw(material).Raw(crcBytes).Take();
}

RecipientRecord WrappedFor(Bytes keyId, const Bytes& keyBlock, EVP_PKEY* publicKey) {
  EVP_PKEY* key = publicKey != nullptr ? publicKey : DevDecryptionPublicKey();
  return RecipientRecord().KeyId(std::move(keyId)).WrappedKey(writer::EncryptPkcs1(key, keyBlock));
}

SealTrailerBuilder& SealTrailerBuilder::OpeningTag(std::string tag) {
  openingTag_ = std::move(tag);
  return *this;
}
SealTrailerBuilder& SealTrailerBuilder::Version(std::uint16_t version) {
  version_ = version;
  return *this;
}
SealTrailerBuilder& SealTrailerBuilder::KeyId(Bytes keyId) {
  keyId_ = std::move(keyId);
  return *this;
}
SealTrailerBuilder& SealTrailerBuilder::Signature(Bytes signature) {
  signature_ = std::move(signature);
  return *this;
}
SealTrailerBuilder& SealTrailerBuilder::SignBody(EVP_PKEY* key) {
  signature_.reset();
  signedData_.reset();
  signingKey_ = key;
  return *this;
}
SealTrailerBuilder& SealTrailerBuilder::SignOver(Bytes data, EVP_PKEY* key) {
  signature_.reset();
  signedData_ = std::move(data);
  signingKey_ = key;
  return *this;
}
SealTrailerBuilder& SealTrailerBuilder::DeclaredKeyIdLength(std::uint16_t length) {
  keyIdLength_ = length;
  return *this;
}
SealTrailerBuilder& SealTrailerBuilder::DeclaredSignatureLength(std::uint16_t length) {
  signatureLength_ = length;
  return *this;
}
SealTrailerBuilder& SealTrailerBuilder::Gap(Bytes bytes) {
  gap_ = std::move(bytes);
  return *this;
}
SealTrailerBuilder& SealTrailerBuilder::ClosingTag(std::string tag) {
  closingTag_ = std::move(tag);
  return *this;
}
SealTrailerBuilder& SealTrailerBuilder::DeclaredLength(std::uint16_t length) {
  length_ = length;
  return *this;
}

Bytes SealTrailerBuilder::Build(const Bytes& body) const {
  Bytes signature;
  if (signature_) {
    signature = *signature_;
  } else {
    EVP_PKEY* key = signingKey_ != nullptr ? signingKey_ : DevVerificationPrivateKey();
    signature = writer::SignMessage(key, signedData_ ? *signedData_ : body);
  }
  ByteWriter trailer;
  trailer.Text(openingTag_).U16(version_);
  trailer.U16(keyIdLength_.value_or(std::uint16_t(keyId_.size()))).Raw(keyId_);
  trailer.U16(signatureLength_.value_or(std::uint16_t(signature.size()))).Raw(signature);
  trailer.Raw(gap_).Text(closingTag_);
  const std::size_t natural = trailer.bytes().size() + 2;
  trailer.U16(length_.value_or(std::uint16_t(natural)));
  return trailer.Take();
}

ContainerBuilder::ContainerBuilder() : sessionKey_(Pattern(32, 7)), iv_(Pattern(16, 99)) {}

ContainerBuilder& ContainerBuilder::Magic(std::string magic) {
  magic_ = std::move(magic);
  return *this;
}
ContainerBuilder& ContainerBuilder::Version(std::uint16_t version) {
  version_ = version;
  return *this;
}
ContainerBuilder& ContainerBuilder::DeclaredRecipientCount(std::uint8_t count) {
  count_ = count;
  return *this;
}
ContainerBuilder& ContainerBuilder::Recipient(RecipientRecord record) {
  if (!recipients_) recipients_.emplace();
  recipients_->push_back(std::move(record));
  return *this;
}
ContainerBuilder& ContainerBuilder::NoRecipients() {
  recipients_.emplace();
  return *this;
}
ContainerBuilder& ContainerBuilder::SessionKey(Bytes key) {
  sessionKey_ = std::move(key);
  return *this;
}
ContainerBuilder& ContainerBuilder::Iv(Bytes iv) {
  iv_ = std::move(iv);
  return *this;
}
ContainerBuilder& ContainerBuilder::Body(Bytes body) {
  body_ = std::move(body);
  return *this;
}
ContainerBuilder& ContainerBuilder::Trailer(SealTrailerBuilder trailer) {
  trailer_ = std::move(trailer);
  return *this;
}
ContainerBuilder& ContainerBuilder::NoTrailer() {
  trailer_.reset();
  return *this;
}
ContainerBuilder& ContainerBuilder::RawPayload(Bytes payload) {
  rawPayload_ = std::move(payload);
  return *this;
}
ContainerBuilder& ContainerBuilder::TruncateTo(std::size_t size) {
  truncateTo_ = size;
  return *this;
}

Bytes ContainerBuilder::Plaintext() const {
  Bytes plaintext = body_;
  if (trailer_) {
    const Bytes trailer = trailer_->Build(body_);
    plaintext.insert(plaintext.end(), trailer.begin(), trailer.end());
  }
  return plaintext;
}

Bytes ContainerBuilder::Header() const {
  const std::vector<RecipientRecord> records =
      recipients_ ? *recipients_
                  : std::vector<RecipientRecord>{WrappedFor(kKeyId10, KeyBlock(sessionKey_))};
  ByteWriter header;
  header.Text(magic_).U16(version_).U8(count_.value_or(std::uint8_t(records.size())));
  for (const auto& r : records) {
    header.U8(r.tag);
    header.U16(r.declaredKeyIdLength.value_or(std::uint32_t(r.keyId.size()))).Raw(r.keyId);
    header.U16(r.declaredWrappedKeyLength.value_or(std::uint32_t(r.wrappedKey.size())))
        .Raw(r.wrappedKey);
  }
  header.Raw(iv_);
  return header.Take();
}

Bytes ContainerBuilder::Build() const {
  Bytes container = Header();
  const Bytes payload =
      rawPayload_ ? *rawPayload_ : writer::EncryptPayload(sessionKey_, iv_, Plaintext());
  container.insert(container.end(), payload.begin(), payload.end());
  if (truncateTo_) container.resize(std::min(*truncateTo_, container.size()));
  return container;
}

Bytes Pattern(std::size_t size, std::uint8_t seed) {
  Bytes out(size);
  for (std::size_t i = 0; i < size; ++i) out[i] = static_cast<std::uint8_t>((i * 131 + seed) % 251);
  return out;
}

}  // namespace qve::testing
