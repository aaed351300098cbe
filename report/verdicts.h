// SPDX-License-Identifier: Apache-2.0
// How a file's blocks make its verdict, and the files' verdicts the result.
#pragma once

#include "qvehelper/contract.h"

#include <cstdint>

#include "verify/verify_files.h"

namespace qve {

// FileOk for a file with a good block and no bad one, which a report lists
// only when asked to.
QVE_Helper::FileVerdict FileVerdictOf(const BlockCounts& counts);

// Whether a report makes a record for a file of this verdict.
bool IsListed(QVE_Helper::FileVerdict verdict, bool includeOkFiles);

bool IsBadFile(QVE_Helper::FileVerdict verdict);

QVE_Helper::ReportResult ReportResultOf(std::uint32_t totalFiles, std::uint32_t badFiles,
                                        std::uint32_t unsignedFiles);

}  // namespace qve
