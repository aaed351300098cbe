#include "verify/chain_checker.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "tests/support/byte_writer.h"
#include "tests/support/dev_keys.h"
#include "tests/support/signature_block_builder.h"
#include "tools/writer/log_signer.h"
#include "tools/writer/signature_block_writer.h"

namespace qve {

void PrintTo(const BlockResult& b, std::ostream* os);

namespace {

using testing::SignatureBlockBuilder;
using writer::EmptyChainValue;
using writer::Sha256;

const std::vector<std::string> kLines = {"alpha", "", "gamma"};

struct SignatureCase {
  const char* name;
  std::function<std::string(const Bytes& chain)> payload;
  bool isFirstBlockOfRun;
  BlockVerdict verdict;
  std::function<Bytes(const Bytes& chain)> blockBytes;  // what the chain moves on to
};

Bytes Valid(const Bytes& link) {
  return SignatureBlockBuilder().Link(link).SignOver(kLines).Build();
}

Bytes OtherLink(Bytes link) {
  link[0] ^= 0x80;
  return link;
}

std::string Base64(const Bytes& bytes) { return writer::EncodeBase64(bytes); }

std::string WithSpaceAt(std::size_t at, std::string text) {
  text[at] = ' ';
  return text;
}

const SignatureCase kSignatureCases[] = {
    {"valid and linked", [](auto& c) { return Base64(Valid(c)); }, false, BlockOk,
     [](auto& c) { return Valid(c); }},
    {"valid and linked, first of run", [](auto& c) { return Base64(Valid(c)); }, true, BlockOk,
     [](auto& c) { return Valid(c); }},
    {"other link, first of run", [](auto& c) { return Base64(Valid(OtherLink(c))); }, true, BlockOk,
     [](auto& c) { return Valid(OtherLink(c)); }},
    {"other link later", [](auto& c) { return Base64(Valid(OtherLink(c))); }, false,
     BlockChainBreak, [](auto& c) { return Valid(OtherLink(c)); }},
    {"signed over other lines",
     [](auto& c) { return Base64(SignatureBlockBuilder().Link(c).SignOver({"x"}).Build()); }, true,
     BlockInvalid, [](auto& c) { return SignatureBlockBuilder().Link(c).SignOver({"x"}).Build(); }},
    {"signed with another key",
     [](auto& c) {
       return Base64(SignatureBlockBuilder()
                         .Link(c)
                         .SignOver(kLines, testing::DevDecryptionPrivateKey())
                         .Build());
     },
     false, BlockInvalid,
     [](auto& c) {
       return SignatureBlockBuilder()
           .Link(c)
           .SignOver(kLines, testing::DevDecryptionPrivateKey())
           .Build();
     }},
    {"empty payload", [](auto&) { return std::string(); }, false, BlockNoSignature,
     [](auto&) { return Bytes{}; }},
    {"three characters are not decoded", [](auto&) { return std::string("QVY"); }, false,
     BlockNoSignature, [](auto&) { return Bytes{}; }},
    {"four characters that decode to nothing", [](auto&) { return std::string("!QVY"); }, false,
     BlockNoSignature, [](auto&) { return Bytes{}; }},
    {"four characters, a truncated block", [](auto&) { return std::string("UVYC"); }, true,
     BlockInvalid,
     [](auto&) {
       return Bytes{'Q', 'V', 0x02};
     }},
    {"decoding stops at a space", [](auto& c) { return WithSpaceAt(8, Base64(Valid(c))); }, false,
     BlockInvalid,
     [](auto& c) {
       const Bytes full = Valid(c);
       return Bytes(full.begin(), full.begin() + 6);
     }},
};

TEST(ChainChecker, StartsAtTheEmptyDigest) {
  ChainChecker checker;
  EXPECT_EQ(checker.chainValue(), EmptyChainValue());
}

TEST(ChainChecker, VerdictAndNextLinkOfASignatureLine) {
  for (const SignatureCase& c : kSignatureCases) {
    ChainChecker checker;
    // Move the chain off the empty digest first, so that links matter.
    checker.BeginFile(L"setup.log");
    checker.OnSignatureLine(Base64(Valid(EmptyChainValue())), true);
    const Bytes chain = checker.chainValue();
    ASSERT_EQ(chain, Sha256(Valid(EmptyChainValue())));

    checker.BeginFile(L"file.log");
    for (const auto& line : kLines) checker.OnDataLine(line);
    checker.OnSignatureLine(c.payload(chain), c.isFirstBlockOfRun);
    const FileCheckResult& result = checker.current();
    EXPECT_EQ(result.blockCount, 1u) << c.name;
    if (c.verdict == BlockOk) {
      EXPECT_TRUE(result.blocks.empty()) << c.name;
    } else {
      EXPECT_EQ(result.blocks, (std::vector<BlockResult>{{c.verdict, 1, 4}})) << c.name;
    }
    EXPECT_EQ(checker.chainValue(), Sha256(c.blockBytes(chain))) << c.name;
  }
}

TEST(ChainChecker, LineNumbersOfBlocksAndTail) {
  ChainChecker checker;
  checker.BeginFile(L"a.log");
  checker.OnSignatureLine("", false);  // line 1, covers nothing
  checker.OnDataLine("x");             // line 2
  checker.OnSignatureLine("", false);  // line 3
  checker.OnSignatureLine("", false);  // line 4, covers nothing
  checker.OnDataLine("y");             // lines 5 and 6 form the tail
  checker.OnDataLine("z");
  checker.EndFile();
  EXPECT_EQ(checker.current().blocks, (std::vector<BlockResult>{{BlockNoSignature, 1, 1},
                                                                {BlockNoSignature, 2, 3},
                                                                {BlockNoSignature, 4, 4},
                                                                {BlockUnsigned, 5, 6}}));
  EXPECT_EQ(checker.current().blockCount, 4u);

  // A new file starts at line 1 with an empty result; the chain goes on.
  checker.OnSignatureLine(Base64(Valid(EmptyChainValue())), false);
  const Bytes chain = checker.chainValue();
  checker.BeginFile(L"b.log");
  EXPECT_EQ(checker.current().fileName, L"b.log");
  EXPECT_EQ(checker.current().blockCount, 0u);
  checker.OnDataLine("w");
  checker.EndFile();
  EXPECT_EQ(checker.current().blocks, (std::vector<BlockResult>{{BlockUnsigned, 1, 1}}));
  EXPECT_EQ(checker.chainValue(), chain);
}

TEST(ChainChecker, EndOfFileWithoutPendingLinesRecordsNothing) {
  ChainChecker checker;
  checker.BeginFile(L"a.log");
  checker.EndFile();
  EXPECT_EQ(checker.current().blockCount, 0u);
  checker.OnDataLine("x");
  checker.OnSignatureLine("", false);
  checker.EndFile();
  EXPECT_EQ(checker.current().blockCount, 1u);
}

TEST(ChainChecker, CoversADataLineUpToItsFirstNul) {
  ChainChecker checker;
  checker.BeginFile(L"a.log");
  checker.OnDataLine(std::string("ab\0cd", 5));
  const Bytes block = SignatureBlockBuilder().Link(EmptyChainValue()).SignOver({"ab"}).Build();
  checker.OnSignatureLine(Base64(block), false);
  EXPECT_TRUE(checker.current().blocks.empty());
}

}  // namespace
}  // namespace qve
