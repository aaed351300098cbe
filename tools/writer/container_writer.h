// Writer side of protected containers: seals a plaintext stream for one or
// more RSA recipients and signs it, in one pass and in bounded memory.
//
//   "QVES" | 01 00 | N | N x ('P' | K u16 | keyId | W u16 | wrappedKey) | IV
//   | AES-256-CBC( plaintext | seal trailer )
//   seal trailer: "Seal" | 01 00 | K u16 | keyId | G u16 | signature | "Seal" | L u16
#pragma once

#include <openssl/evp.h>

#include <cstdint>
#include <ostream>
#include <span>
#include <vector>

#include "crypto/bytes.h"
#include "crypto/openssl_ptr.h"

namespace qve::writer {

inline constexpr std::size_t kSessionKeySize = 32;
inline constexpr std::size_t kIvSize = 16;

// CRC-32 of IEEE 802.3, computed bit by bit.
std::uint32_t Crc32(std::span<const std::uint8_t> bytes);

// The plaintext of a wrapped key: the material, then its CRC-32 least
// significant byte first.
Bytes KeyBlock(std::span<const std::uint8_t> material);

// A key's identifier from its number: 4 bytes, least significant first.
Bytes KeyIdOf(std::uint32_t keyNumber);

// The trailer with nothing between signature and closing tag. Throws
// std::length_error when it would not fit its 16-bit length.
Bytes SealTrailer(std::span<const std::uint8_t> keyId, std::span<const std::uint8_t> signature);

// AES-256-CBC with PKCS#7 padding, fed chunk by chunk.
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
  MdCtxPtr signer_;
  PayloadEncryptor encryptor_;
};

}  // namespace qve::writer
