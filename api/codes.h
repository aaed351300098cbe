// SPDX-License-Identifier: Apache-2.0
// The C interface's numbers for the library's own codes. The subsystems
// keep their enums free of the interface; this is where the two meet, and
// where a subsystem's new case fails the build until it has a number here.
#pragma once

#include "QVEHelper.h"
#include "decrypt/decrypt_file.h"
#include "decrypt/decrypt_to_place.h"
#include "platform/output_target.h"
#include "report/run_codes.h"

namespace qve::interface {

constexpr int StepCode(DecryptStep step) {
  switch (step) {
    case DecryptStep::Decrypting:
      return QVE_STEP_DECRYPTING;
    case DecryptStep::CheckingSeal:
      return QVE_STEP_CHECKING_SEAL;
  }
  return 0;
}

// A decryption's outcome and its problem carry the interface's numbers
// already, as the ABI fixed them before the subsystems had names for them.
static_assert(kWrongKind == QVE_ERROR_WRONG_KIND && kCancelled == QVE_ERROR_CANCELLED &&
              kOutputFailed == QVE_ERROR_OUTPUT && kSameFileFailed == QVE_ERROR_SAME_FILE &&
              kScratchFailed == QVE_ERROR_SCRATCH);
static_assert(kNoProblem == QVE_PROBLEM_NONE && kInputProblem == QVE_PROBLEM_INPUT &&
              kTemporaryProblem == QVE_PROBLEM_TEMPORARY && kWriteProblem == QVE_PROBLEM_WRITE &&
              kChangedProblem == QVE_PROBLEM_CHANGED &&
              kContainerProblem == QVE_PROBLEM_CONTAINER && kCryptoProblem == QVE_PROBLEM_CRYPTO &&
              kCancelledProblem == QVE_PROBLEM_CANCELLED);
using platform::OutputProblem;
static_assert(int(OutputProblem::ForeignLink) == QVE_PROBLEM_LINK &&
              int(OutputProblem::NotRegular) == QVE_PROBLEM_NOT_REGULAR &&
              int(OutputProblem::NoFolder) == QVE_PROBLEM_FOLDER &&
              int(OutputProblem::NameRefused) == QVE_PROBLEM_NAME &&
              int(OutputProblem::NotReplaceable) == QVE_PROBLEM_NOT_REPLACEABLE &&
              int(OutputProblem::SameFile) == QVE_PROBLEM_SAME_FILE &&
              int(OutputProblem::NoTemporary) == QVE_PROBLEM_TEMPORARY &&
              int(OutputProblem::NotPublished) == QVE_PROBLEM_PUBLISH);

// So does a chain's status.
static_assert(int(QVE_Helper::ReportOk) == QVE_STATUS_OK &&
              int(QVE_Helper::ReportUnsigned) == QVE_STATUS_UNSIGNED &&
              int(QVE_Helper::ReportSomeInvalid) == QVE_STATUS_SOME_INVALID &&
              int(QVE_Helper::ReportAllInvalid) == QVE_STATUS_ALL_INVALID &&
              kStatusCheckpointLost == QVE_STATUS_CHECKPOINT_LOST &&
              kStatusStrictFailed == QVE_STATUS_STRICT_FAILED &&
              kStatusIncomplete == QVE_STATUS_INCOMPLETE);

constexpr int WarningCode(WarningKind kind) {
  switch (kind) {
    case WarningKind::None:
      return 0;
    case WarningKind::SameFile:
      return QVE_WARNING_SAME_FILE;
    case WarningKind::Unreadable:
      return QVE_WARNING_UNREADABLE;
    case WarningKind::NameCase:
      return QVE_WARNING_NAME_CASE;
    case WarningKind::PassedOver:
      return QVE_WARNING_PASSED_OVER;
    case WarningKind::NoLog:
      return QVE_WARNING_NO_LOG;
    case WarningKind::UnsignedLines:
      return QVE_WARNING_UNSIGNED_LINES;
    case WarningKind::AfterNul:
      return QVE_WARNING_AFTER_NUL;
    case WarningKind::AfterEnd:
      return QVE_WARNING_AFTER_END;
    case WarningKind::Changed:
      return QVE_WARNING_CHANGED;
    case WarningKind::ByteOrderMark:
      return QVE_WARNING_BYTE_ORDER_MARK;
    case WarningKind::Links:
      return QVE_WARNING_LINKS;
    case WarningKind::BreakFollows:
      return QVE_WARNING_BREAK_FOLLOWS;
    case WarningKind::KeptChanging:
      return QVE_WARNING_KEPT_CHANGING;
  }
  return 0;
}

constexpr int PathFaultCode(PathFault fault) {
  return fault == PathFault::NotFound ? QVE_ERROR_NOT_FOUND : QVE_ERROR_UNREADABLE;
}

constexpr int RecordFaultCode(RecordFault fault) {
  switch (fault) {
    case RecordFault::Damaged:
      return QVE_ERROR_RECORD_DAMAGED;
    case RecordFault::Version:
      return QVE_ERROR_RECORD_VERSION;
    case RecordFault::OtherChain:
      return QVE_ERROR_RECORD_OTHER_CHAIN;
  }
  return QVE_ERROR_RECORD_DAMAGED;
}

}  // namespace qve::interface
