// SPDX-License-Identifier: Apache-2.0
// The run's own codes: what a warning is about, a chain's status beyond the
// report's results, and why a path or a record cannot be used. The C
// interface maps each to its published number in one place.
#pragma once

namespace qve {

enum class WarningKind : int {
  None,  // until the run names it
  SameFile,
  Unreadable,
  NameCase,
  PassedOver,
  NoLog,
  UnsignedLines,
  AfterNul,
  AfterEnd,
  Changed,
  ByteOrderMark,
  Links,
  BreakFollows,
  KeptChanging,
};

// A chain's status: the report's ReportResult, then what only a run knows.
enum ChainStatus : int {
  kStatusCheckpointLost = 4,
  kStatusStrictFailed = 5,
  kStatusIncomplete = 6,
};

enum class PathFault { NotFound, Unreadable };

enum class RecordFault { Damaged, Version, OtherChain };

}  // namespace qve
