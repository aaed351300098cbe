// SPDX-License-Identifier: Apache-2.0
#include "report/verdicts.h"

namespace qve {

// A file with no bad block counts its BlockUnsigned and BlockNoSignature
// blocks; it is unsigned when they are all its blocks, that is, when none
// is BlockOk.
QVE_Helper::FileVerdict FileVerdictOf(const BlockCounts& counts) {
  if (counts.badBlockCount != 0) {
    return counts.badBlockCount == 1 && counts.firstBlockChainBreak ? QVE_Helper::FileChainBreak
                                                                    : QVE_Helper::FileInvalid;
  }
  return counts.okBlockCount == 0 ? QVE_Helper::FileUnsigned : QVE_Helper::FileOk;
}

bool IsListed(QVE_Helper::FileVerdict verdict, bool includeOkFiles) {
  return verdict != QVE_Helper::FileOk || includeOkFiles;
}

bool IsBadFile(QVE_Helper::FileVerdict verdict) {
  return verdict == QVE_Helper::FileChainBreak || verdict == QVE_Helper::FileInvalid;
}

QVE_Helper::ReportResult ReportResultOf(std::uint32_t totalFiles, std::uint32_t badFiles,
                                        std::uint32_t unsignedFiles) {
  if (badFiles != 0) {
    return badFiles == totalFiles ? QVE_Helper::ReportAllInvalid : QVE_Helper::ReportSomeInvalid;
  }
  return unsignedFiles == totalFiles ? QVE_Helper::ReportUnsigned : QVE_Helper::ReportOk;
}

}  // namespace qve
