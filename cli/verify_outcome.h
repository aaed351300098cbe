// SPDX-License-Identifier: Apache-2.0
// What one verification found, as the verify command shows it: the
// library's outcome (report/chain_outcome.h), the command's statuses and
// the JSON output.
#pragma once

#include <QVEHelper.h>

#include <nlohmann/json.hpp>

#include "cli/escape.h"
#include "cli/verify_checkpoint.h"
#include "report/chain_outcome.h"

namespace qve::cli {

// Exit statuses past the report's results (0-3): the command's own
// judgements on top of them.
inline constexpr int kCheckpointLost = QVE_STATUS_CHECKPOINT_LOST;
inline constexpr int kStrictPolicyFailed = QVE_STATUS_STRICT_FAILED;
inline constexpr int kIncomplete = QVE_STATUS_INCOMPLETE;

using qve::ChainStatusOf;
using qve::Counted;
using qve::IsIncomplete;
using qve::LinesText;
using qve::OutcomeBuilder;
using qve::RangeText;
using qve::ReadFaultText;
using qve::StrictFinding;
using qve::StrictFindings;
using qve::StrictReason;
using qve::VerifiedFile;
using qve::VerifyOutcome;
using qve::VerifyWarning;

// Of two statuses, the one a run of both exits with: a chain's 2 to 6 in the
// order above before any error of the command's table, and an error before
// 1 and 0.
int WorseStatus(int a, int b);

// The word for a status: the report's results, CheckpointLost,
// StrictPolicyFailed, Incomplete, and for the table's errors NoInput,
// DataError, Busy and the like.
const char* StatusName(int status);

// The JSON object of one outcome; `details` adds every file's blocks.
nlohmann::ordered_json ToJson(const VerifyOutcome& outcome, bool details);

}  // namespace qve::cli
