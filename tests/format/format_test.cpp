// SPDX-License-Identifier: Apache-2.0
// Base64 and the signature block's fields, read as the format defines them.
#include <gtest/gtest.h>

#include <optional>

#include "format/signature_block.h"
#include "tests/support/builders.h"
#include "tests/support/harness.h"
#include "tools/writer/signature_block_writer.h"

namespace qve {
namespace {

using namespace testing;

TEST(Base64, DecodesUpToTheFirstStop) {
  const std::pair<std::string, Bytes> rows[] = {
      {"Q", {}},
      {"QR==", {0x41}},  // stray low bits dropped
      {"QQ==QUJD", {0x41}},
      {"QUJDRA RA==", {0x41, 0x42, 0x43, 0x44}},  // a partial group is kept
      {"QUJ_D", {0x41, 0x42}}};
  for (const auto& [text, bytes] : rows) EXPECT_EQ(Decode64(text), bytes) << text;
  // Against the writer's own encoder: every padding and every character.
  Bytes all(256);
  for (std::size_t i = 0; i < all.size(); ++i) all[i] = std::uint8_t(i);
  for (std::size_t n = 0; n < all.size(); n += 1 + n / 8)
    EXPECT_EQ(Decode64(writer::EncodeBase64(Head(all, n))), Head(all, n)) << n;
  const std::string alphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  for (int c = 0; c < 256; ++c) {
    const bool in = alphabet.find(char(c)) != std::string::npos;
    EXPECT_EQ(Decode64(std::string("QUJD") + char(c) + "QUJDQUJD").size(), in ? 9u : 3u) << c;
  }
}

// Offsets of kFull: magic 0, version 2, id 6, T 10, text 14, K 17, link 21,
// S 25, signature 29, end 34.
const Bytes kFull =
    Block{.id = 7, .text = "abc", .link = {1, 2, 3, 4}, .signature = {9, 9, 9, 9, 9}}.Build();

using R = BlockParseResult;
using F = BlockField;
struct BlockRow {
  const char* name;
  Bytes bytes;
  R result;
  std::optional<BlockStop> stop = {};  // where inspect says it stopped
};

class ParseSignatureBlockRows : public ::testing::TestWithParam<BlockRow> {};

TEST_P(ParseSignatureBlockRows, StopsWithTheCodeOfTheFailingField) {
  const BlockRow& row = GetParam();
  SignatureBlock block;
  EXPECT_EQ(ParseSignatureBlock(row.bytes, block), row.result);
  if (row.stop) {
    EXPECT_EQ(ParseSignatureBlockStop(row.bytes, block), *row.stop);
  }
}

// clang-format off
const BlockRow kBlockRows[] = {
    {.name = "Empty", .bytes = {}, .result = R::Empty, .stop = {{R::Empty, F::None, 0, 0, 0, true, 0}}},
    {.name = "OneByte", .bytes = {'Q'}, .result = R::OneByte, .stop = {{R::OneByte, F::Magic, 0, 0, 0, true, 1}}},
    {.name = "WrongMagic", .bytes = BytesOf("QW"), .result = R::BadMagic, .stop = {{R::BadMagic, F::Magic, 0, 0x5157, 0x5156}}},
    {.name = "VersionCut", .bytes = Head(kFull, 5), .result = R::VersionTruncated,
     .stop = {{R::VersionTruncated, F::Version, 2, 0, 0, true, 3}}},
    {.name = "Version3", .bytes = Block{.version = 3}.Build(), .result = R::VersionUnsupported,
     .stop = {{R::VersionUnsupported, F::Version, 2, 3, 2}}},
    {.name = "IdCut", .bytes = Head(kFull, 9), .result = R::IdTruncated},
    {.name = "TextLengthCut", .bytes = Head(kFull, 13), .result = R::TextLengthTruncated},
    {.name = "Text2049", .bytes = Block{.textLength = 2049}.Build(), .result = R::TextInvalid,
     .stop = {{R::TextInvalid, F::TextLength, 10, 2049, 2048}}},
    {.name = "Text2048", .bytes = Block{.text = std::string(2048, 't')}.Build(), .result = R::Parsed},
    {.name = "LinkLengthCut", .bytes = Head(kFull, 20), .result = R::LinkLengthTruncated},
    {.name = "LinkCut", .bytes = Head(kFull, 24), .result = R::LinkInvalid, .stop = {{R::LinkInvalid, F::Link, 21, 4, 0, true, 3}}},
    {.name = "Link131073", .bytes = Block{.link = Bytes(131073, 1)}.Build(), .result = R::LinkInvalid},
    {.name = "Link131072", .bytes = Block{.link = Bytes(131072, 1)}.Build(), .result = R::Parsed},
    {.name = "SignatureLengthCut", .bytes = Head(kFull, 28), .result = R::SignatureLengthTruncated,
     .stop = {{R::SignatureLengthTruncated, F::SignatureLength, 25, 0, 0, true, 3}}},
    {.name = "SignatureCut", .bytes = Head(kFull, 33), .result = R::SignatureInvalid},
    {.name = "Signature131073", .bytes = Block{.signature = Bytes(131073, 1)}.Build(), .result = R::SignatureInvalid},
    {.name = "Signature131072", .bytes = Block{.signature = Bytes(131072, 1)}.Build(), .result = R::Parsed},
    {.name = "Complete", .bytes = kFull, .result = R::Parsed, .stop = {{R::Parsed, F::None, 0, 0, 0}}},
    {.name = "TrailingBytesIgnored", .bytes = Block{.trailing = {1, 2, 3}}.Build(), .result = R::Parsed},
};
// clang-format on
QVE_ROWS(ParseSignatureBlockRows, kBlockRows);

}  // namespace
}  // namespace qve
