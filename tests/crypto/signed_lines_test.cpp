#include "crypto/signed_lines.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "crypto/signature_block.h"
#include "tests/support/byte_writer.h"

namespace qve {
namespace {

using testing::ByteWriter;

SignatureBlock BlockWith(std::uint32_t id, Bytes link, std::string text) {
  SignatureBlock block;
  block.id = id;
  block.link = std::move(link);
  block.text = std::move(text);
  return block;
}

Bytes AsBytes(std::span<const std::uint8_t> span) { return Bytes(span.begin(), span.end()); }

TEST(SignedLines, StartsEmpty) {
  SignedLines kept;
  EXPECT_TRUE(kept.empty());
  EXPECT_TRUE(kept.joined().empty());
  EXPECT_EQ(AsBytes(kept.MessageFor(BlockWith(0x01020304, {}, ""))), (Bytes{4, 3, 2, 1}));
}

TEST(SignedLines, JoinsEachLineWithItsNul) {
  SignedLines kept;
  kept.Append("ab");
  EXPECT_FALSE(kept.empty());
  kept.Append("");
  kept.Append("c");
  EXPECT_EQ(AsBytes(kept.joined()), ByteWriter().Text("ab").U8(0).U8(0).Text("c").U8(0).Take());
}

TEST(SignedLines, MessageIsTheOneTheBlockSigns) {
  const std::vector<std::string> lines = {"first line", "", "third line"};
  const struct {
    const char* name;
    SignatureBlock block;
  } cases[] = {
      {"digest link and text", BlockWith(7, Bytes(32, 0xAB), "note")},
      {"no link, no text", BlockWith(0xFFFFFFFF, {}, "")},
      {"longest text", BlockWith(1, Bytes(32, 1), std::string(kMaxBlockTextLength, 't'))},
      {"link longer than the room", BlockWith(2, Bytes(70000, 0x11), "x")},
  };
  for (const auto& c : cases) {
    SignedLines kept;
    for (const auto& line : lines) kept.Append(line);
    EXPECT_EQ(AsBytes(kept.MessageFor(c.block)), SignedMessage(c.block, lines)) << c.name;
    // Asked again, after the fields were written once.
    EXPECT_EQ(AsBytes(kept.MessageFor(c.block)), SignedMessage(c.block, lines)) << c.name;
  }
}

TEST(SignedLines, ClearForgetsTheLinesOfTheBlockBefore) {
  SignedLines kept;
  kept.Append("old line");
  kept.MessageFor(BlockWith(1, Bytes(70000, 0x11), "moved"));
  kept.Clear();
  EXPECT_TRUE(kept.empty());
  kept.Append("new");
  const SignatureBlock next = BlockWith(2, Bytes(32, 0x22), "t");
  EXPECT_EQ(AsBytes(kept.MessageFor(next)), SignedMessage(next, {"new"}));
}

TEST(SignedLines, ALargeBlockClearsLikeAnyOther) {
  SignedLines kept;
  const std::string line(1000, 'L');
  for (int i = 0; i < 3000; ++i) kept.Append(line);
  EXPECT_EQ(kept.joined().size(), 3000u * 1001u);
  kept.Clear();
  EXPECT_TRUE(kept.empty());
  kept.Append("after");
  const SignatureBlock block = BlockWith(3, Bytes(32, 0x33), "");
  EXPECT_EQ(AsBytes(kept.MessageFor(block)), SignedMessage(block, {"after"}));
}

}  // namespace
}  // namespace qve
