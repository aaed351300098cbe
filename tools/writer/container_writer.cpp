#include "tools/writer/container_writer.h"

#include <stdexcept>
#include <string_view>

#include "decrypt/container_header.h"
#include "tools/writer/keys.h"

namespace qve::writer {

namespace {

constexpr std::string_view kMagic = "QVES";
constexpr std::string_view kSealTag = "Seal";
constexpr std::uint8_t kRecipientTag = 'P';

void PutU16(Bytes& out, std::size_t value) {
  out.push_back(static_cast<std::uint8_t>(value));
  out.push_back(static_cast<std::uint8_t>(value >> 8));
}

void Put(Bytes& out, std::span<const std::uint8_t> bytes) {
  out.insert(out.end(), bytes.begin(), bytes.end());
}

// Byte by byte: GCC 12 at -O3 reports a false overflow for a range insert here.
void Put(Bytes& out, std::string_view text) {
  for (const char c : text) out.push_back(static_cast<std::uint8_t>(c));
}

[[noreturn]] void Fail(const std::string& what) { throw std::runtime_error(what); }

Bytes Header(const std::vector<Recipient>& recipients, std::span<const std::uint8_t> sessionKey,
             std::span<const std::uint8_t> iv) {
  if (recipients.size() > kMaxRecipients) Fail("a container has at most 32 recipients");
  const Bytes block = KeyBlock(sessionKey);
  Bytes header;
  Put(header, kMagic);
  PutU16(header, 1);
  header.push_back(static_cast<std::uint8_t>(recipients.size()));
  for (const auto& recipient : recipients) {
    const Bytes wrapped = EncryptPkcs1(recipient.publicKey, block);
    if (recipient.keyId.size() > kMaxKeyIdLength || wrapped.size() > kMaxWrappedKeyLength)
      Fail("recipient record too large");
    header.push_back(kRecipientTag);
    PutU16(header, recipient.keyId.size());
    Put(header, recipient.keyId);
    PutU16(header, wrapped.size());
    Put(header, wrapped);
  }
  Put(header, iv);
  return header;
}

}  // namespace

std::uint32_t Crc32(std::span<const std::uint8_t> bytes) {
  std::uint32_t crc = 0xFFFFFFFF;
  for (const std::uint8_t b : bytes) {
    crc ^= b;
    for (int bit = 0; bit < 8; ++bit) crc = (crc & 1) ? (crc >> 1) ^ 0xEDB88320u : crc >> 1;
  }
  return ~crc;
}

Bytes KeyBlock(std::span<const std::uint8_t> material) {
  Bytes block(material.begin(), material.end());
  const std::uint32_t crc = Crc32(material);
  PutU16(block, crc & 0xFFFF);
  PutU16(block, crc >> 16);
  return block;
}

Bytes KeyIdOf(std::uint32_t keyNumber) {
  Bytes id;
  PutU16(id, keyNumber & 0xFFFF);
  PutU16(id, keyNumber >> 16);
  return id;
}

Bytes SealTrailer(std::span<const std::uint8_t> keyId, std::span<const std::uint8_t> signature) {
  const std::size_t length = 16 + keyId.size() + signature.size();
  if (length > 0xFFFF) throw std::length_error("seal trailer longer than 65535 bytes");
  Bytes trailer;
  Put(trailer, kSealTag);
  PutU16(trailer, 1);
  PutU16(trailer, keyId.size());
  Put(trailer, keyId);
  PutU16(trailer, signature.size());
  Put(trailer, signature);
  Put(trailer, kSealTag);
  PutU16(trailer, length);
  return trailer;
}

PayloadEncryptor::PayloadEncryptor(std::span<const std::uint8_t> key,
                                   std::span<const std::uint8_t> iv)
    : ctx_(EVP_CIPHER_CTX_new()) {
  if (key.size() != kSessionKeySize || iv.size() != kIvSize)
    Fail("AES-256-CBC takes a 32-byte key and a 16-byte IV");
  if (!ctx_ ||
      EVP_EncryptInit_ex(ctx_.get(), EVP_aes_256_cbc(), nullptr, key.data(), iv.data()) != 1)
    Fail("EVP_EncryptInit_ex failed");
}

Bytes PayloadEncryptor::Update(std::span<const std::uint8_t> plaintext) {
  Bytes out(plaintext.size() + kIvSize);
  int length = 0;
  if (EVP_EncryptUpdate(ctx_.get(), out.data(), &length, plaintext.data(),
                        static_cast<int>(plaintext.size())) != 1)
    Fail("EVP_EncryptUpdate failed");
  out.resize(static_cast<std::size_t>(length));
  return out;
}

Bytes PayloadEncryptor::Final() {
  Bytes out(kIvSize);
  int length = 0;
  if (EVP_EncryptFinal_ex(ctx_.get(), out.data(), &length) != 1) Fail("EVP_EncryptFinal_ex failed");
  out.resize(static_cast<std::size_t>(length));
  return out;
}

Bytes EncryptPayload(std::span<const std::uint8_t> key, std::span<const std::uint8_t> iv,
                     std::span<const std::uint8_t> plaintext) {
  PayloadEncryptor encryptor(key, iv);
  Bytes out = encryptor.Update(plaintext);
  Put(out, encryptor.Final());
  return out;
}

ContainerWriter::ContainerWriter(std::ostream& out, const std::vector<Recipient>& recipients,
                                 EVP_PKEY* signingKey, Bytes sealKeyId)
    : out_(out),
      sealKeyId_(std::move(sealKeyId)),
      sessionKey_(RandomBytes(kSessionKeySize)),
      iv_(RandomBytes(kIvSize)),
      signer_(EVP_MD_CTX_new()),
      encryptor_(sessionKey_, iv_) {
  if (!signer_ ||
      EVP_DigestSignInit(signer_.get(), nullptr, EVP_sha256(), nullptr, signingKey) != 1)
    Fail("EVP_DigestSignInit failed: is the signing key an RSA private key?");
  Emit(Header(recipients, sessionKey_, iv_));
}

void ContainerWriter::Emit(const Bytes& bytes) {
  out_.write(reinterpret_cast<const char*>(bytes.data()),
             static_cast<std::streamsize>(bytes.size()));
  if (!out_) Fail("cannot write the container");
}

void ContainerWriter::Write(std::span<const std::uint8_t> plaintext) {
  if (EVP_DigestSignUpdate(signer_.get(), plaintext.data(), plaintext.size()) != 1)
    Fail("EVP_DigestSignUpdate failed");
  Emit(encryptor_.Update(plaintext));
}

void ContainerWriter::Finish() {
  std::size_t length = 0;
  if (EVP_DigestSignFinal(signer_.get(), nullptr, &length) != 1) Fail("EVP_DigestSignFinal failed");
  Bytes signature(length);
  if (EVP_DigestSignFinal(signer_.get(), signature.data(), &length) != 1)
    Fail("EVP_DigestSignFinal failed");
  signature.resize(length);
  Emit(encryptor_.Update(SealTrailer(sealKeyId_, signature)));
  Emit(encryptor_.Final());
  out_.flush();
  if (!out_) Fail("cannot write the container");
}

}  // namespace qve::writer
