#include <gtest/gtest.h>

#include <vector>

#include "verify/file_check_result.h"

namespace qve {

void PrintTo(const BlockResult& b, std::ostream* os) {
  *os << "{" << b.verdict << ", " << b.firstLine << "-" << b.lastLine << "}";
}

namespace {

TEST(RecordBlock, CountsListsAndMarksTheFirstBlock) {
  const struct {
    const char* name;
    std::vector<BlockVerdict> verdicts;
    std::uint32_t badBlockCount;
    bool firstBlockChainBreak;
  } cases[] = {
      {"nothing recorded", {}, 0, false},
      {"one good block", {BlockOk}, 0, false},
      {"unsigned and no signature are not bad", {BlockUnsigned, BlockNoSignature}, 0, false},
      {"invalid is bad", {BlockInvalid}, 1, false},
      {"chain break first", {BlockChainBreak, BlockOk}, 1, true},
      {"chain break later", {BlockOk, BlockChainBreak}, 1, false},
      {"a good first block ends the pending first",
       {BlockOk, BlockChainBreak, BlockInvalid},
       2,
       false},
      {"unexpected is bad", {BlockUnexpected, BlockUnexpected}, 2, false},
      {"chain break first then invalid", {BlockChainBreak, BlockInvalid}, 2, true},
  };
  for (const auto& c : cases) {
    FileCheckResult result;
    std::vector<BlockResult> listed;
    std::uint32_t line = 1;
    for (const BlockVerdict verdict : c.verdicts) {
      RecordBlock(result, verdict, line, line + 1);
      if (verdict != BlockOk) listed.push_back({verdict, line, line + 1});
      line += 2;
    }
    EXPECT_EQ(result.blockCount, c.verdicts.size()) << c.name;
    EXPECT_EQ(result.badBlockCount, c.badBlockCount) << c.name;
    EXPECT_EQ(result.firstBlockChainBreak, c.firstBlockChainBreak) << c.name;
    EXPECT_EQ(result.firstBlockPending, c.verdicts.empty()) << c.name;
    EXPECT_EQ(result.blocks, listed) << c.name;
  }
}

}  // namespace
}  // namespace qve
