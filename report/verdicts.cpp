#include "report/verdicts.h"

#include <algorithm>

namespace qve {

QVE_Helper::FileVerdict FileVerdictOf(const FileCheckResult& result) {
  if (result.badBlockCount != 0) {
    return result.badBlockCount == 1 && result.firstBlockChainBreak ? QVE_Helper::FileChainBreak
                                                                    : QVE_Helper::FileInvalid;
  }
  const auto withoutSignature =
      std::count_if(result.blocks.begin(), result.blocks.end(), [](const BlockResult& block) {
        return block.verdict == BlockUnsigned || block.verdict == BlockNoSignature;
      });
  return static_cast<std::uint32_t>(withoutSignature) == result.blockCount
             ? QVE_Helper::FileUnsigned
             : QVE_Helper::FileOk;
}

QVE_Helper::ReportResult ReportResultOf(std::uint32_t totalFiles, std::uint32_t badFiles,
                                        std::uint32_t unsignedFiles) {
  if (badFiles != 0) {
    return badFiles == totalFiles ? QVE_Helper::ReportAllInvalid : QVE_Helper::ReportSomeInvalid;
  }
  return unsignedFiles == totalFiles ? QVE_Helper::ReportUnsigned : QVE_Helper::ReportOk;
}

}  // namespace qve
