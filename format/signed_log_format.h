// SPDX-License-Identifier: Apache-2.0
// The signed log, every rule of it in one place.
//
// Lines: a line ends at LF, and a CR right before the LF belongs to the line
// end (CR LF and LF end a line alike); a lone CR stays in the line; the last
// line needs no LF. The byte 0x1A ends the input. A line counts up to its
// first NUL. A signature line is at least two bytes whose first and last are
// 0x1F; between them stands the base64 text of a signature block, decoded up
// to the first '=' or byte outside the alphabet; a text shorter than four
// bytes is empty.
//
// Block:
//   "QV" | version u32 (=2) | id u32 | T u32 | text[T<=2048]
//        | K u32 | link[K<=131072] | S u32 | signature[S<=131072] | ignored...
// The signature covers id (LE) | link | text | each covered line + 0x00. The
// chain starts at the digest of nothing (crypto/digest.cpp computes it, since
// format/ holds no cryptography); after each signature line it is the digest
// of that line's block bytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace qve {

// Line rules.
inline constexpr char kLineFeed = '\n';
inline constexpr char kCarriageReturn = '\r';
inline constexpr char kEndOfInput = 0x1A;
inline constexpr char kNul = '\0';
// What the signature covers after each line, in place of its line end.
inline constexpr std::uint8_t kCoveredLineEnd = 0x00;
inline constexpr char kSignatureMarker = 0x1F;
inline constexpr char kBase64Stop = '=';
// A payload shorter than a base64 group is empty, not decoded.
inline constexpr std::size_t kBase64Group = 4;

// Block layout.
inline constexpr std::string_view kBlockMagic = "QV";
inline constexpr std::uint32_t kSignatureBlockVersion = 2;
inline constexpr std::uint32_t kMaxBlockTextLength = 2048;
inline constexpr std::uint32_t kMaxBlockLinkLength = 131072;
inline constexpr std::uint32_t kMaxBlockSignatureLength = 131072;
// Magic, version, id and the three lengths.
inline constexpr std::size_t kBlockFixedSize = 2 + 4 + 4 + 4 + 4 + 4;
// A block parser reads no byte past its signature field.
inline constexpr std::size_t kUsableBlockBytes =
    kBlockFixedSize + kMaxBlockTextLength + kMaxBlockLinkLength + kMaxBlockSignatureLength;

// Where parsing a block stopped; the value is the point of failure in layout
// order.
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

// The block's fields, in layout order.
enum class BlockField : int {
  None = 0,
  Magic,
  Version,
  Id,
  TextLength,
  Text,
  LinkLength,
  Link,
  SignatureLength,
  Signature,
};

enum class BlockCheckResult : int {
  SignatureInvalid = 0,
  NoSignature = 1,
  LinkMismatch = 2,
  Valid = 3,
};

enum BlockVerdict : std::int32_t {
  BlockOk = 0,
  BlockUnsigned = 1,     // the unsigned tail of a file
  BlockNoSignature = 2,  // a signature line whose payload yields no bytes
  BlockInvalid = 3,      // malformed, or the signature does not verify
  BlockChainBreak = 4,   // validly signed, but linked to another block
  BlockUnexpected = 5,   // a check result outside the known ones
};

// The enumerators' own names, e.g. "BlockChainBreak"; a value outside the
// enumeration gets "BlockUnknown", "FileUnknown" or "ReportUnknown".
const char* BlockFieldName(BlockField field);
const char* BlockVerdictName(std::int32_t verdict);
const char* FileVerdictName(std::uint32_t verdict);
const char* ReportResultName(std::uint32_t result);

}  // namespace qve
