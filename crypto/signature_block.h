// Signature blocks: the binary record that a log signature line carries.
//
//   "QV" | version u32 (=2) | id u32 | T u32 | text[T<=2048]
//        | K u32 | link[K<=131072] | S u32 | signature[S<=131072] | ignored...
//
// The signature covers id (LE) | link | text | each pending line + 0x00.
#pragma once

#include <openssl/evp.h>

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "crypto/bytes.h"
#include "crypto/signed_lines.h"

namespace qve {

inline constexpr std::uint32_t kSignatureBlockVersion = 2;
inline constexpr std::uint32_t kMaxBlockTextLength = 2048;
inline constexpr std::uint32_t kMaxBlockLinkLength = 131072;
inline constexpr std::uint32_t kMaxBlockSignatureLength = 131072;

struct SignatureBlock {
  std::uint32_t version = kSignatureBlockVersion;
  std::uint32_t id = 0;
  std::string text;
  Bytes link;
  Bytes signature;
};

// Where parsing stopped; the value is the point of failure in layout order.
enum class BlockParseResult : int {
  Parsed = 0,
  Empty = 1,
  OneByte = 2,
  BadMagic = 3,
  VersionTruncated = 4,
  VersionUnsupported = 5,
  IdTruncated = 6,
  TextLengthTruncated = 7,
  TextInvalid = 8,
  LinkLengthTruncated = 9,
  LinkInvalid = 10,
  SignatureLengthTruncated = 11,
  SignatureInvalid = 12,
};

enum class BlockCheckResult : int {
  SignatureInvalid = 0,
  NoSignature = 1,
  LinkMismatch = 2,
  Valid = 3,
};

// Fields parsed before a failure keep their values; later ones are untouched.
BlockParseResult ParseSignatureBlock(std::span<const std::uint8_t> bytes, SignatureBlock& block);

// Throws std::runtime_error naming the OpenSSL call that failed; a malformed
// block or a signature that does not verify is a result, not an error. The
// lines' buffer takes the block's fields in front of the lines (hence not
// const).
BlockCheckResult CheckSignatureBlock(std::span<const std::uint8_t> expectedLink,
                                     SignedLines& pendingLines,
                                     std::span<const std::uint8_t> blockBytes, EVP_PKEY* publicKey);

}  // namespace qve
