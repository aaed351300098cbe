#include "verify/file_check_result.h"

namespace qve {

void RecordBlock(FileCheckResult& result, BlockVerdict verdict, std::uint32_t firstLine,
                 std::uint32_t lastLine) {
  ++result.blockCount;
  if (verdict == BlockInvalid || verdict == BlockChainBreak || verdict == BlockUnexpected)
    ++result.badBlockCount;
  if (verdict != BlockOk) result.blocks.push_back({verdict, firstLine, lastLine});
  if (result.firstBlockPending) {
    result.firstBlockChainBreak = verdict == BlockChainBreak;
    result.firstBlockPending = false;
  }
}

}  // namespace qve
