// SPDX-License-Identifier: Apache-2.0
#include "tools/writer/container_writer.h"

#include <stdexcept>

#include "format/byte_builder.h"
#include "tools/writer/keys.h"

namespace qve::writer {

namespace {

[[noreturn]] void Fail(const std::string& what) { throw std::runtime_error(what); }

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
  return ByteBuilder().Raw(material).U32LE(Crc32(material)).Take();
}

Bytes EncodeHeader(const HeaderFields& header) {
  ByteBuilder out;
  out.Tag(header.magic).U16LE(header.version);
  out.U8(header.count.value_or(static_cast<std::uint32_t>(header.records.size())));
  for (const RecordFields& record : header.records) {
    out.U8(record.tag)
        .U16Prefixed(record.keyId, record.keyIdLength)
        .U16Prefixed(record.wrappedKey, record.wrappedKeyLength);
  }
  return out.Raw(header.iv).Take();
}

Bytes EncodeSeal(const SealFields& seal) {
  ByteBuilder out;
  out.Tag(seal.open)
      .U16LE(seal.version)
      .U16Prefixed(seal.keyId, seal.keyIdLength)
      .U16Prefixed(seal.signature, seal.signatureLength)
      .Raw(seal.gap)
      .Tag(seal.close);
  const std::size_t natural = out.size() + 2;
  if (!seal.length && natural > 0xFFFF)
    throw std::length_error("seal trailer longer than 65535 bytes");
  return out.U16LE(seal.length.value_or(static_cast<std::uint32_t>(natural))).Take();
}

PayloadEncryptor::PayloadEncryptor(std::span<const std::uint8_t> key,
                                   std::span<const std::uint8_t> iv)
    : ctx_(EVP_CIPHER_CTX_new()) {
  if (key.size() != kPayloadKeyLength || iv.size() != kPayloadIvLength)
    Fail("the payload cipher takes a " + std::to_string(kPayloadKeyLength) + "-byte key and a " +
         std::to_string(kPayloadIvLength) + "-byte IV");
  if (!ctx_ ||
      EVP_EncryptInit_ex(ctx_.get(), EVP_aes_256_cbc(), nullptr, key.data(), iv.data()) != 1)
    Fail("EVP_EncryptInit_ex failed");
}

Bytes PayloadEncryptor::Update(std::span<const std::uint8_t> plaintext) {
  Bytes out(plaintext.size() + kPayloadBlockSize);
  int length = 0;
  if (EVP_EncryptUpdate(ctx_.get(), out.data(), &length, plaintext.data(),
                        static_cast<int>(plaintext.size())) != 1)
    Fail("EVP_EncryptUpdate failed");
  out.resize(static_cast<std::size_t>(length));
  return out;
}

Bytes PayloadEncryptor::Final() {
  Bytes out(kPayloadBlockSize);
  int length = 0;
  if (EVP_EncryptFinal_ex(ctx_.get(), out.data(), &length) != 1) Fail("EVP_EncryptFinal_ex failed");
  out.resize(static_cast<std::size_t>(length));
  return out;
}

Bytes EncryptPayload(std::span<const std::uint8_t> key, std::span<const std::uint8_t> iv,
                     std::span<const std::uint8_t> plaintext) {
  PayloadEncryptor encryptor(key, iv);
  return ByteBuilder().Raw(encryptor.Update(plaintext)).Raw(encryptor.Final()).Take();
}

ContainerWriter::ContainerWriter(std::ostream& out, const std::vector<Recipient>& recipients,
                                 EVP_PKEY* signingKey, Bytes sealKeyId)
    : out_(out),
      sealKeyId_(std::move(sealKeyId)),
      sessionKey_(RandomBytes(kPayloadKeyLength)),
      iv_(RandomBytes(kPayloadIvLength)),
      signer_(signingKey),
      encryptor_(sessionKey_, iv_) {
  if (recipients.size() > kMaxRecipients)
    Fail("a container has at most " + std::to_string(kMaxRecipients) + " recipients");
  const Bytes block = KeyBlock(sessionKey_);
  HeaderFields header{.iv = iv_};
  for (const Recipient& recipient : recipients) {
    RecordFields& record = header.records.emplace_back(RecordFields{
        .keyId = recipient.keyId, .wrappedKey = EncryptPkcs1(recipient.publicKey, block)});
    if (record.keyId.size() > kMaxKeyIdLength || record.wrappedKey.size() > kMaxWrappedKeyLength)
      Fail("recipient record too large");
  }
  Emit(EncodeHeader(header));
}

void ContainerWriter::Emit(const Bytes& bytes) {
  out_.write(reinterpret_cast<const char*>(bytes.data()),
             static_cast<std::streamsize>(bytes.size()));
  if (!out_) Fail("cannot write the container");
}

void ContainerWriter::Write(std::span<const std::uint8_t> plaintext) {
  signer_.Add(plaintext);
  Emit(encryptor_.Update(plaintext));
}

void ContainerWriter::Finish() {
  Emit(encryptor_.Update(EncodeSeal({.keyId = sealKeyId_, .signature = signer_.Finish()})));
  Emit(encryptor_.Final());
  out_.flush();
  if (!out_) Fail("cannot write the container");
}

}  // namespace qve::writer
