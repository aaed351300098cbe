// SPDX-License-Identifier: Apache-2.0
// The protected container, every rule of it in one place:
//
//   "QVES" | version u16 (=1) | N u8 (<=32)
//   | N x ( 'P' | K u16 (<=16384) | keyId[K] | W u16 (<=4096) | wrappedKey[W] )
//   | IV | payload to the end of the file
//
//   key block (the plaintext of a wrapped key):
//     key material | CRC-32 of the material, least significant byte first
//
//   seal trailer, the last L bytes of the plaintext, found from its end:
//     "Seal" | version u16 (=1) | K u16 | keyId[K] | G u16 | signature[G]
//     | (skipped) | "Seal" | L u16
//
// All integers are unsigned little-endian. Readers and writers of the format,
// the library's and the tools', take their constants and names from here.
//
// Error style of format/: bytes that break a rule are a result, never an
// exception: a parser returns how far it got and why it stopped, and its
// caller decides what that means. Only allocation failure leaves by exception.
//
// Names of parsers, for both formats: the contract's reader (ReadHeader,
// ParseSeal, ParseSignatureBlock) gives only its code and is a thin call of
// the detailed one, named the same with "Stop" after it (ReadHeaderStop, ...),
// which also gives the field, offset, value and limit where it stopped.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

#include "format/bytes.h"
#include "qvehelper/contract.h"

namespace qve {

// The header.
inline constexpr std::string_view kContainerMagic = "QVES";
inline constexpr std::uint32_t kContainerVersion = 1;
inline constexpr std::uint32_t kMaxRecipients = 32;
inline constexpr std::uint8_t kRecipientTag = 0x50;  // 'P'
inline constexpr std::uint32_t kMaxKeyIdLength = 16384;
inline constexpr std::uint32_t kMaxWrappedKeyLength = 4096;
// Magic, version and recipient count, before the first record.
inline constexpr std::size_t kFixedHeaderSize = 4 + 2 + 1;

// A file is a container exactly when it starts with the whole magic.
bool StartsWithContainerMagic(std::span<const std::uint8_t> start);

// The built-in keys, as files name them: the recipient records name the
// decryption key, the seal names the verification key.
inline constexpr std::uint32_t kDecryptionKeyNumber = 10;
inline constexpr std::uint32_t kVerificationKeyNumber = 11;
// Both are 2048-bit RSA keys: a wrapped key and a seal signature of theirs
// are this many bytes.
inline constexpr std::size_t kBuiltInKeyBytes = 256;
// A key's identifier: its number as 4 bytes, least significant first.
Bytes KeyIdOf(std::uint32_t keyNumber);

// The payload is AES-256-CBC with PKCS #7 padding: the header's IV is its
// IV, its key the first bytes of the key block.
inline constexpr std::size_t kPayloadIvLength = 16;
inline constexpr std::size_t kPayloadKeyLength = 32;
inline constexpr std::size_t kPayloadBlockSize = 16;

// The key block ends in its CRC-32.
inline constexpr std::size_t kKeyBlockCrcSize = 4;

// The payload is read in chunks of this size, and the newest plaintext bytes
// of this many are kept to find the seal trailer in.
inline constexpr std::size_t kChunkSize = 4096;
inline constexpr std::size_t kWindowSize = 8192;

// The seal trailer.
inline constexpr std::string_view kSealTag = "Seal";
inline constexpr std::uint32_t kSealVersion = 1;
inline constexpr std::size_t kSealClosingSize = 4 + 2;  // closing tag and L
inline constexpr std::size_t kShortestSealWindow = 10;

// Where reading the header stopped. Callers of ReadHeader only tell Complete
// from the rest.
enum class HeaderStatus : int {
  Complete = 0,
  MagicVersionOrIvUnreadable = 1,
  VersionUnsupported = 2,
  Truncated = 3,
  TooManyRecipients = 4,
  BadRecipientTag = 5,
  KeyIdLengthInvalid = 6,
  WrappedKeyLengthInvalid = 7,
};

// The header's fields, in file order.
enum class HeaderField : int {
  None = 0,
  Magic,
  Version,
  RecipientCount,
  Tag,
  KeyIdLength,
  KeyId,
  WrappedKeyLength,
  WrappedKey,
  Iv,
};

// Where recognising the seal trailer stopped; the fields in the order the
// reader meets them, from the end of the plaintext.
enum class SealStatus : int {
  Found = 0,
  WindowTooShort,
  NoClosingTag,
  LengthInvalid,  // 0, or more than the bytes kept
  NoOpeningTag,
  VersionUnsupported,
  KeyIdInvalid,      // its length runs past the end
  SignatureInvalid,  // its length runs past the end
};

enum class SealField : int {
  None = 0,
  ClosingTag,
  Length,
  OpeningTag,
  Version,
  KeyIdLength,
  KeyId,
  SignatureLength,
  Signature,
};

// The enumerators' own names, e.g. "SessionKeyUnavailable".
const char* DecryptResultName(QVE_Helper::DecryptResult result);
const char* HeaderStatusName(HeaderStatus status);
const char* HeaderFieldName(HeaderField field);
const char* SealStatusName(SealStatus status);
const char* SealFieldName(SealField field);

}  // namespace qve
