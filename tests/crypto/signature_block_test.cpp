#include "crypto/signature_block.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

#include "crypto/built_in_keys.h"
#include "crypto/digest.h"
#include "tests/support/byte_writer.h"
#include "tests/support/dev_keys.h"
#include "tests/support/signature_block_builder.h"

namespace qve {
namespace {

using testing::ByteWriter;
using testing::SignatureBlockBuilder;

Bytes Prefix(const Bytes& bytes, std::size_t n) { return Bytes(bytes.begin(), bytes.begin() + n); }

// A block whose every field is present, for cutting at each boundary.
// Layout offsets: magic 0, version 2, id 6, T 10, text 14, K 17, link 21,
// S 25, signature 29, end 34.
Bytes FullBlock() {
  return SignatureBlockBuilder()
      .Id(7)
      .Text("abc")
      .Link(Bytes{1, 2, 3, 4})
      .Signature(Bytes{9, 9, 9, 9, 9})
      .Build();
}

struct ParseCase {
  const char* name;
  Bytes bytes;
  BlockParseResult expected;
};

void PrintTo(const ParseCase& c, std::ostream* os) { *os << c.name; }

class ParseSignatureBlockTest : public ::testing::TestWithParam<ParseCase> {};

TEST_P(ParseSignatureBlockTest, StopsWithTheCodeOfTheFailingField) {
  SignatureBlock block;
  EXPECT_EQ(ParseSignatureBlock(GetParam().bytes, block), GetParam().expected);
}

std::vector<ParseCase> ParseCases() {
  const Bytes full = FullBlock();
  const std::string longText(2049, 't');
  return {
      {"Empty", {}, BlockParseResult::Empty},
      {"OneByte", {'Q'}, BlockParseResult::OneByte},
      {"WrongMagic", testing::BytesOf("QW\x02\x00\x00\x00"), BlockParseResult::BadMagic},
      {"LowerCaseMagic", testing::BytesOf("qv"), BlockParseResult::BadMagic},
      {"MagicOnly", Prefix(full, 2), BlockParseResult::VersionTruncated},
      {"VersionCut", Prefix(full, 5), BlockParseResult::VersionTruncated},
      {"VersionOne", SignatureBlockBuilder().Version(1).Build(),
       BlockParseResult::VersionUnsupported},
      {"VersionThree", SignatureBlockBuilder().Version(3).Build(),
       BlockParseResult::VersionUnsupported},
      {"IdCut", Prefix(full, 9), BlockParseResult::IdTruncated},
      {"TextLengthCut", Prefix(full, 13), BlockParseResult::TextLengthTruncated},
      {"TextCut", Prefix(full, 16), BlockParseResult::TextInvalid},
      {"TextTooLong", SignatureBlockBuilder().Text(longText).Build(),
       BlockParseResult::TextInvalid},
      {"TextPastEndWithinLimit", SignatureBlockBuilder().DeclaredTextLength(2048).Build(),
       BlockParseResult::TextInvalid},
      {"LinkLengthCut", Prefix(full, 20), BlockParseResult::LinkLengthTruncated},
      {"LinkCut", Prefix(full, 24), BlockParseResult::LinkInvalid},
      {"LinkTooLong", SignatureBlockBuilder().Link(Bytes(131073, 1)).Build(),
       BlockParseResult::LinkInvalid},
      {"LinkPastEndWithinLimit", SignatureBlockBuilder().DeclaredLinkLength(5).Build(),
       BlockParseResult::LinkInvalid},
      {"SignatureLengthCut", Prefix(full, 28), BlockParseResult::SignatureLengthTruncated},
      {"SignatureCut", Prefix(full, 33), BlockParseResult::SignatureInvalid},
      {"SignatureTooLong", SignatureBlockBuilder().Signature(Bytes(131073, 1)).Build(),
       BlockParseResult::SignatureInvalid},
      {"SignaturePastEndWithinLimit",
       SignatureBlockBuilder().Signature(Bytes(3, 1)).DeclaredSignatureLength(4).Build(),
       BlockParseResult::SignatureInvalid},
      {"Complete", full, BlockParseResult::Parsed},
      {"AllEmptyFields", SignatureBlockBuilder().Build(), BlockParseResult::Parsed},
      {"TextAtLimit", SignatureBlockBuilder().Text(std::string(2048, 't')).Build(),
       BlockParseResult::Parsed},
      {"LinkAtLimit", SignatureBlockBuilder().Link(Bytes(131072, 1)).Build(),
       BlockParseResult::Parsed},
      {"SignatureAtLimit", SignatureBlockBuilder().Signature(Bytes(131072, 1)).Build(),
       BlockParseResult::Parsed},
      {"TrailingBytesIgnored", SignatureBlockBuilder().Trailing(Bytes{1, 2, 3}).Build(),
       BlockParseResult::Parsed},
  };
}

INSTANTIATE_TEST_SUITE_P(Codes, ParseSignatureBlockTest, ::testing::ValuesIn(ParseCases()),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(ParseSignatureBlock, FillsEveryFieldAndKeepsThoseBeforeAFailure) {
  SignatureBlock block;
  ASSERT_EQ(ParseSignatureBlock(FullBlock(), block), BlockParseResult::Parsed);
  EXPECT_EQ(block.version, 2u);
  EXPECT_EQ(block.id, 7u);
  EXPECT_EQ(block.text, "abc");
  EXPECT_EQ(block.link, (Bytes{1, 2, 3, 4}));
  EXPECT_EQ(block.signature, (Bytes{9, 9, 9, 9, 9}));

  SignatureBlock partial;
  ASSERT_EQ(ParseSignatureBlock(Prefix(FullBlock(), 24), partial), BlockParseResult::LinkInvalid);
  EXPECT_EQ(partial.id, 7u);
  EXPECT_EQ(partial.text, "abc");
  EXPECT_TRUE(partial.link.empty());
  EXPECT_TRUE(partial.signature.empty());
}

TEST(SignedMessage, IsIdLinkTextThenEachLineWithANul) {
  SignatureBlock block;
  block.id = 0x04030201;
  block.link = {0xAA, 0xBB};
  block.text = "tx";
  const std::vector<std::string> lines = {"one", "", std::string("a\0b", 3)};
  const Bytes expected = ByteWriter()
                             .U8(1)
                             .U8(2)
                             .U8(3)
                             .U8(4)
                             .U8(0xAA)
                             .U8(0xBB)
                             .Text("tx")
                             .Text("one")
                             .U8(0)
                             .U8(0)
                             .U8('a')
                             .U8(0)
                             .U8('b')
                             .U8(0)
                             .Take();
  EXPECT_EQ(SignedMessage(block, lines), expected);
  EXPECT_EQ(SignedMessage(block, {}), Prefix(expected, 8));
}

class CheckSignatureBlockTest : public ::testing::Test {
 protected:
  const Bytes chain = ComputeDigest({});
  const std::vector<std::string> lines = {"first line", "", "third line"};
  VerificationKey key;

  BlockCheckResult Check(const Bytes& block, const std::vector<std::string>& pending) {
    return CheckSignatureBlock(chain, pending, block, key.pkey());
  }

  // The lines as a verifier keeps them.
  static SignedLines Kept(const std::vector<std::string>& pending) {
    SignedLines kept;
    for (const auto& line : pending) kept.Append(line);
    return kept;
  }
};

TEST_F(CheckSignatureBlockTest, Results) {
  const auto valid = [&] { return SignatureBlockBuilder().Id(5).Text("note").Link(chain); };
  Bytes otherLink = chain;
  otherLink.back() ^= 1;
  const Bytes shortLink(chain.begin(), chain.end() - 1);
  Bytes longLink = chain;
  longLink.push_back(0);

  const struct {
    const char* name;
    Bytes block;
    std::vector<std::string> pending;
    BlockCheckResult expected;
  } cases[] = {
      {"valid", valid().SignOver(lines).Build(), lines, BlockCheckResult::Valid},
      {"no lines", valid().SignOver({}).Build(), {}, BlockCheckResult::Valid},
      {"trailing bytes", valid().SignOver(lines).Trailing({0, 1, 2}).Build(), lines,
       BlockCheckResult::Valid},
      {"empty", {}, lines, BlockCheckResult::NoSignature},
      {"one byte", {'Q'}, lines, BlockCheckResult::SignatureInvalid},
      {"link differs in a byte", valid().Link(otherLink).SignOver(lines).Build(), lines,
       BlockCheckResult::LinkMismatch},
      {"link shorter", valid().Link(shortLink).SignOver(lines).Build(), lines,
       BlockCheckResult::LinkMismatch},
      {"link longer", valid().Link(longLink).SignOver(lines).Build(), lines,
       BlockCheckResult::LinkMismatch},
      {"empty link", valid().Link({}).SignOver(lines).Build(), lines,
       BlockCheckResult::LinkMismatch},
      {"other lines",
       valid().SignOver(lines).Build(),
       {"first line", "", "third lin"},
       BlockCheckResult::SignatureInvalid},
      {"line dropped",
       valid().SignOver(lines).Build(),
       {"first line", "third line"},
       BlockCheckResult::SignatureInvalid},
      {"extra empty line",
       valid().SignOver(lines).Build(),
       {"first line", "", "third line", ""},
       BlockCheckResult::SignatureInvalid},
      {"wrong key", valid().SignOver(lines, testing::DevDecryptionPrivateKey()).Build(), lines,
       BlockCheckResult::SignatureInvalid},
      {"version 1 with good signature", valid().Version(1).SignOver(lines).Build(), lines,
       BlockCheckResult::SignatureInvalid},
      {"empty signature", valid().Signature({}).Build(), lines, BlockCheckResult::SignatureInvalid},
      {"one-byte signature", valid().Signature({1}).Build(), lines,
       BlockCheckResult::SignatureInvalid},
      {"signature of 257 bytes", valid().Signature(Bytes(257, 0xFF)).Build(), lines,
       BlockCheckResult::SignatureInvalid},
      {"signature at the limit", valid().Signature(Bytes(131072, 0xFF)).Build(), lines,
       BlockCheckResult::SignatureInvalid},
      {"signature of all ones", valid().Signature(Bytes(256, 0xFF)).Build(), lines,
       BlockCheckResult::SignatureInvalid},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(Check(c.block, c.pending), c.expected) << c.name;
    SignedLines kept = Kept(c.pending);
    EXPECT_EQ(CheckSignatureBlock(chain, kept, c.block, key.pkey()), c.expected)
        << c.name << ", lines kept";
  }
}

TEST_F(CheckSignatureBlockTest, KeptLinesServeBlockAfterBlock) {
  // A link far longer than a digest makes the lines move once to give it room.
  const Bytes longLink(5000, 0x5A);
  const std::vector<std::string> more = {"fourth", "fifth line"};
  SignedLines kept = Kept(lines);
  EXPECT_EQ(
      CheckSignatureBlock(
          chain, kept, SignatureBlockBuilder().Link(longLink).SignOver(lines).Build(), key.pkey()),
      BlockCheckResult::LinkMismatch);
  kept.Clear();
  for (const auto& line : more) kept.Append(line);
  EXPECT_EQ(CheckSignatureBlock(chain, kept,
                                SignatureBlockBuilder().Id(9).Link(chain).SignOver(more).Build(),
                                key.pkey()),
            BlockCheckResult::Valid);
}

TEST_F(CheckSignatureBlockTest, SignatureOverDifferentFieldOrderIsRejected) {
  // A writer that put text before link (wire order) would sign another message.
  const Bytes link = chain;
  ByteWriter wireOrder;
  wireOrder.U32(5).Text("note").Raw(link);
  for (const auto& line : lines) wireOrder.Text(line).U8(0);
  const Bytes signature =
      SignatureBlockBuilder().Id(5).Text("note").Link(link).SignOver(lines).Build();
  SignatureBlock parsed;
  ASSERT_EQ(ParseSignatureBlock(signature, parsed), BlockParseResult::Parsed);
  EXPECT_NE(SignedMessage(parsed, lines), wireOrder.bytes());
  EXPECT_EQ(SignedMessage(parsed, lines), testing::ExpectedSignedMessage(5, link, "note", lines));
}

TEST_F(CheckSignatureBlockTest, NoUsableKeyThrowsNamingTheCall) {
  const Bytes block = SignatureBlockBuilder().Link(chain).SignOver(lines).Build();
  try {
    CheckSignatureBlock(chain, lines, block, nullptr);
    FAIL() << "expected an exception";
  } catch (const std::runtime_error& e) {
    EXPECT_STREQ(e.what(), "EVP_DigestVerifyInit() failed.");
  }
}

TEST_F(CheckSignatureBlockTest, MalformedBlockNeedsNoKey) {
  EXPECT_EQ(CheckSignatureBlock(chain, lines, {}, nullptr), BlockCheckResult::NoSignature);
  EXPECT_EQ(CheckSignatureBlock(chain, lines, Bytes{'Q', 'V'}, nullptr),
            BlockCheckResult::SignatureInvalid);
}

}  // namespace
}  // namespace qve
