// Builds a protected container field by field, so that a test can say
// exactly which field is off: magic, version, a declared count or length
// that disagrees with what follows, a record for another key, a key block
// with a bad CRC, a seal trailer with a wrong tag, a file cut short.
//
// Defaults make a container the library accepts: one record for key 10
// wrapping a fixed session key, a fixed IV, an empty body and a seal signed
// by the development verification key.
#pragma once

#include <openssl/evp.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "crypto/bytes.h"

namespace qve::testing {

inline const Bytes kKeyId10 = {0x0A, 0x00, 0x00, 0x00};
inline const Bytes kKeyId11 = {0x0B, 0x00, 0x00, 0x00};

// One recipient record: tag | K | keyId | W | wrappedKey.
struct RecipientRecord {
  RecipientRecord& Tag(std::uint8_t value) {
    tag = value;
    return *this;
  }
  RecipientRecord& KeyId(Bytes value) {
    keyId = std::move(value);
    return *this;
  }
  RecipientRecord& WrappedKey(Bytes value) {
    wrappedKey = std::move(value);
    return *this;
  }
  RecipientRecord& DeclaredKeyIdLength(std::uint32_t value) {
    declaredKeyIdLength = value;
    return *this;
  }
  RecipientRecord& DeclaredWrappedKeyLength(std::uint32_t value) {
    declaredWrappedKeyLength = value;
    return *this;
  }

  std::uint8_t tag = 'P';
  Bytes keyId;
  Bytes wrappedKey;
  std::optional<std::uint32_t> declaredKeyIdLength;
  std::optional<std::uint32_t> declaredWrappedKeyLength;
};

// material | CRC-32 of the material, least significant byte first.
Bytes KeyBlock(const Bytes& material);
// material | the given four bytes in place of the CRC.
Bytes KeyBlockWithCrcBytes(const Bytes& material, const Bytes& crcBytes);

// A record naming keyId whose wrapped key is keyBlock encrypted to publicKey
// (default: the development decryption public key, i.e. key 10's).
RecipientRecord WrappedFor(Bytes keyId, const Bytes& keyBlock, EVP_PKEY* publicKey = nullptr);

class SealTrailerBuilder {
 public:
  SealTrailerBuilder& OpeningTag(std::string tag);
  SealTrailerBuilder& Version(std::uint16_t version);
  SealTrailerBuilder& KeyId(Bytes keyId);
  // An explicit signature; replaces signing the body.
  SealTrailerBuilder& Signature(Bytes signature);
  // Signs the bytes before the trailer, or `data` instead when given, with
  // `key` (default: the development verification private key).
  SealTrailerBuilder& SignBody(EVP_PKEY* key = nullptr);
  SealTrailerBuilder& SignOver(Bytes data, EVP_PKEY* key = nullptr);
  SealTrailerBuilder& DeclaredKeyIdLength(std::uint16_t length);
  SealTrailerBuilder& DeclaredSignatureLength(std::uint16_t length);
  SealTrailerBuilder& Gap(Bytes bytes);  // uninterpreted bytes before the closing tag
  SealTrailerBuilder& ClosingTag(std::string tag);
  SealTrailerBuilder& DeclaredLength(std::uint16_t length);

  // The trailer that follows `body` in the plaintext.
  Bytes Build(const Bytes& body = {}) const;

 private:
  std::string openingTag_ = "Seal";
  std::uint16_t version_ = 1;
  Bytes keyId_ = kKeyId11;
  std::optional<Bytes> signature_;
  std::optional<Bytes> signedData_;
  EVP_PKEY* signingKey_ = nullptr;
  std::optional<std::uint16_t> keyIdLength_, signatureLength_;
  Bytes gap_;
  std::string closingTag_ = "Seal";
  std::optional<std::uint16_t> length_;
};

class ContainerBuilder {
 public:
  ContainerBuilder();

  ContainerBuilder& Magic(std::string magic);
  ContainerBuilder& Version(std::uint16_t version);
  ContainerBuilder& DeclaredRecipientCount(std::uint8_t count);
  // The first call replaces the default record; later ones append.
  ContainerBuilder& Recipient(RecipientRecord record);
  ContainerBuilder& NoRecipients();
  // 32 bytes; the default record wraps it and the payload is encrypted with it.
  ContainerBuilder& SessionKey(Bytes key);
  ContainerBuilder& Iv(Bytes iv);  // 16 bytes
  ContainerBuilder& Body(Bytes body);
  ContainerBuilder& Trailer(SealTrailerBuilder trailer);
  ContainerBuilder& NoTrailer();
  // Ciphertext used as is instead of the encrypted plaintext.
  ContainerBuilder& RawPayload(Bytes payload);
  ContainerBuilder& TruncateTo(std::size_t size);

  const Bytes& sessionKey() const { return sessionKey_; }
  const Bytes& iv() const { return iv_; }
  // Body then trailer: what decrypting the payload gives.
  Bytes Plaintext() const;
  // Everything before the payload.
  Bytes Header() const;
  Bytes Build() const;

 private:
  std::string magic_ = "QVES";
  std::uint16_t version_ = 1;
  std::optional<std::uint8_t> count_;
  std::optional<std::vector<RecipientRecord>> recipients_;
  Bytes sessionKey_;
  Bytes iv_;
  Bytes body_;
  std::optional<SealTrailerBuilder> trailer_ = SealTrailerBuilder();
  std::optional<Bytes> rawPayload_;
  std::optional<std::size_t> truncateTo_;
};

// Deterministic filler: byte i is (i * 131 + seed) mod 251. Neighbouring
// bytes differ by 131 or -120, so "Seal" never shows up in it by chance.
Bytes Pattern(std::size_t size, std::uint8_t seed = 0);

}  // namespace qve::testing
