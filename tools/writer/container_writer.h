// SPDX-License-Identifier: Apache-2.0
// Writer side of protected containers (layout in format/container_format.h):
// the encoders of the header, the key block and the seal trailer, which the
// tests use too, and a writer that seals a plaintext stream for one or more
// RSA recipients and signs it, in one pass and in bounded memory.
//
// Each encoder takes every field of its layout; a field left at its default
// gives what the library accepts, a set length disagrees with the bytes it
// counts.
//
// Error style of tools/writer/: an input that cannot be what it must be
// throws UnusableInput naming it; anything else that fails throws
// std::runtime_error. The dev commands make the first a data error (65).
#pragma once

#include <openssl/evp.h>

#include <cstdint>
#include <optional>
#include <ostream>
#include <span>
#include <string>
#include <vector>

#include "crypto/openssl_ptr.h"
#include "format/bytes.h"
#include "format/container_format.h"
#include "tools/writer/keys.h"

namespace qve::writer {

// CRC-32 of IEEE 802.3, computed bit by bit.
std::uint32_t Crc32(std::span<const std::uint8_t> bytes);

// The plaintext of a wrapped key: the material, then its CRC-32.
Bytes KeyBlock(std::span<const std::uint8_t> material);

// tag | K | keyId | W | wrappedKey
struct RecordFields {
  std::uint8_t tag = kRecipientTag;
  Bytes keyId{};
  Bytes wrappedKey{};
  std::optional<std::uint32_t> keyIdLength{}, wrappedKeyLength{};
};

// magic | version | N | records | IV
struct HeaderFields {
  std::string magic{kContainerMagic};
  std::uint32_t version = kContainerVersion;
  std::optional<std::uint32_t> count{};  // else the number of records
  std::vector<RecordFields> records{};
  Bytes iv{};
};
Bytes EncodeHeader(const HeaderFields& header);

// open | version | K | keyId | G | signature | gap | close | L
struct SealFields {
  std::string open{kSealTag};
  std::uint32_t version = kSealVersion;
  Bytes keyId{};
  Bytes signature{};
  std::optional<std::uint32_t> keyIdLength{}, signatureLength{};
  Bytes gap{};
  std::string close{kSealTag};
  std::optional<std::uint32_t> length{};  // else the trailer's own length
};
// Throws std::length_error when the trailer would not fit its 16-bit length.
Bytes EncodeSeal(const SealFields& seal);

// The payload cipher, fed chunk by chunk.
class PayloadEncryptor {
 public:
  PayloadEncryptor(std::span<const std::uint8_t> key, std::span<const std::uint8_t> iv);
  Bytes Update(std::span<const std::uint8_t> plaintext);
  Bytes Final();

 private:
  CipherCtxPtr ctx_;
};

// One-shot form of PayloadEncryptor.
Bytes EncryptPayload(std::span<const std::uint8_t> key, std::span<const std::uint8_t> iv,
                     std::span<const std::uint8_t> plaintext);

struct Recipient {
  Bytes keyId;
  EVP_PKEY* publicKey;
};

// Writes the header at construction (fresh random session key and IV, one
// record per recipient, in order), then encrypts what Write is given and
// signs it with signingKey; Finish appends the seal trailer naming
// sealKeyId. Throws std::runtime_error on any failure, the stream's included.
class ContainerWriter {
 public:
  ContainerWriter(std::ostream& out, const std::vector<Recipient>& recipients, EVP_PKEY* signingKey,
                  Bytes sealKeyId);
  void Write(std::span<const std::uint8_t> plaintext);
  void Finish();

 private:
  void Emit(const Bytes& bytes);

  std::ostream& out_;
  Bytes sealKeyId_;
  Bytes sessionKey_;
  Bytes iv_;
  MessageSigner signer_;
  PayloadEncryptor encryptor_;
};

}  // namespace qve::writer
