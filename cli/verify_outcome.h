// SPDX-License-Identifier: Apache-2.0
// What one verification run found, as the verify command shows it, read
// from the library's run (QVEHelper.h) fact by fact: every output renders
// from this alone. The command's own statuses and the JSON output are here
// too.
#pragma once

#include <QVEHelper.h>

#include <cstdint>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/escape.h"

namespace qve::cli {

// Exit statuses past the report's results (0-3): the command's own
// judgements on top of them.
inline constexpr int kCheckpointLost = QVE_STATUS_CHECKPOINT_LOST;
inline constexpr int kStrictPolicyFailed = QVE_STATUS_STRICT_FAILED;
inline constexpr int kIncomplete = QVE_STATUS_INCOMPLETE;

// The block verdicts, as BlockVerdict numbers them.
inline constexpr int kBlockOk = 0;
inline constexpr int kBlockInvalid = 3;
inline constexpr int kBlockChainBreak = 4;

struct LineRange {
  std::uint32_t first = 0;
  std::uint32_t last = 0;
};

struct BlockRow {
  int verdict = kBlockOk;
  LineRange lines;
};

struct VerifiedFile {
  std::string path;  // as reached from the PATH argument
  std::string name;
  int verdict = 0;      // a FileVerdict
  bool listed = false;  // the report lists it: not FileOk, or --include-ok
  std::uint32_t blockCount = 0;
  std::uint32_t badBlockCount = 0;
  bool opened = false;
  std::optional<LineRange> unsignedTail;
  std::uint32_t nulLines = 0;  // lines with bytes after a NUL
  std::uint32_t nulFirstLine = 0;
  std::uint64_t nulBytes = 0;
  std::uint32_t endOfInputLine = 0;  // 0: no 0x1A with bytes after it
  std::uint64_t endOfInputOffset = 0;
  std::uint64_t bytesAfterEnd = 0;
  // The file that cannot be read, before it, that its chain break follows from.
  std::string breakFollows;
  std::vector<BlockRow> blocks;  // every block that is not BlockOk, with --details
};

struct VerifyWarning {
  std::string path;
  std::string message;
  bool unverified = false;  // the run is Incomplete
  int code = 0;             // a QVE_WARNING_*
};

struct StrictFinding {
  int reason = 0;  // a QVE_STRICT_*
  std::string path;
  std::string message;
};

// A block of the chain as a record names it.
struct ChainPoint {
  std::string file;
  std::uint32_t line = 0;
  std::uint32_t id = 0;
  std::string chainValue;    // hex
  std::size_t position = 0;  // its file's index in the run; not recorded
};

struct CheckpointRecord {
  ChainPoint block;
  std::string start;  // hex
  std::string time;
};

enum class CheckpointStatus { New, Extended, Lost };

struct CheckpointOutcome {
  std::string file;  // where the record is kept, as the command was given it
  CheckpointStatus status = CheckpointStatus::New;
  bool readOnly = false;
  std::optional<CheckpointRecord> recorded;
  std::optional<CheckpointRecord> now;  // this run's, when it verified a block
  std::optional<ChainPoint> held;       // where this run holds the recorded block
  bool startsLater = false;             // the oldest files were rotated away
  bool written = false;
  std::string notWritten;  // why FILE stays as it was, when the status allows writing
  // The recorded block is held in a file of another name: a rotation renamed it.
  bool renamed() const { return held && recorded && held->file != recorded->block.file; }
};

struct VerifyOutcome {
  std::string path;  // the PATH argument with --each, else empty
  int order = QVE_ORDER_LINKS;
  int status = 0;  // the chain's QVE_STATUS_*
  int result = 0;  // the report's
  std::uint32_t totalFiles = 0;
  std::uint32_t badFiles = 0;
  std::vector<VerifiedFile> files;  // every verified file, in the run's order
  std::vector<VerifyWarning> warnings;
  std::optional<CheckpointOutcome> checkpoint;       // with a record
  std::optional<std::vector<StrictFinding>> strict;  // with --strict
};

// A block as the run hands it over, with its first covered lines.
struct CoveredLine {
  std::uint32_t number = 0;
  std::string shown;
  std::uint64_t coveredBytes = 0;
  bool nul = false;  // the rest of the line, from a NUL on, is not covered
};

struct BlockSeen {
  int verdict = kBlockOk;
  LineRange lines;
  bool coversNoLine = false;
  std::vector<CoveredLine> excerpt;
};

// Takes every block of a run as it comes, file by file.
class BlockSink {
 public:
  virtual ~BlockSink() = default;
  // The run starts over: a rotation renamed its files.
  virtual void OnRestart() {}
  virtual void OnFileStart(int /*reading*/) {}
  virtual void OnBlock(const BlockSeen& /*block*/) {}
  virtual void OnFileEnd() {}
};

// Goes through `run` to its end and fills `outcome` (but its path and
// checkpoint's file; its strict findings when they are there, as with
// --strict); a run that restarts fills it anew. Gives 0 or the
// QVE_ERROR_* that ended the run.
int ReadRun(qve_run* run, VerifyOutcome& outcome, bool includeOk, bool details,
            BlockSink* sink = nullptr);

// Of two statuses, the one a run of both exits with: a chain's 2 to 6 in the
// order above before any error of the command's table, and an error before
// 1 and 0.
int WorseStatus(int a, int b);

// The word for a status: the report's results, CheckpointLost,
// StrictPolicyFailed, Incomplete, and for the table's errors NoInput,
// DataError, Busy and the like.
const char* StatusName(int status);
const char* FileVerdictName(int verdict);
const char* BlockVerdictName(int verdict);
// BlockInvalid, BlockChainBreak or BlockUnexpected: tampering.
inline bool IsBad(int blockVerdict) { return blockVerdict >= 3; }

// The words for a range of lines (platform/escape.h).
inline std::string RangeText(LineRange lines, std::string_view dash = "-") {
  return qve::RangeText(lines.first, lines.last, dash);
}
inline std::string LinesText(LineRange lines, std::string_view dash = "-") {
  return qve::LinesText(lines.first, lines.last, dash);
}

// The JSON object of one outcome; `details` adds every file's blocks.
nlohmann::ordered_json ToJson(const VerifyOutcome& outcome, bool details);

// A checkpoint's outcome in words: the line of the text output, the
// notices of what a reader would not guess from it (files renamed by a
// rotation, the oldest files gone), and its JSON.
const char* CheckpointStatusName(CheckpointStatus status);
std::string PointText(const ChainPoint& point);
std::string CheckpointText(const CheckpointOutcome& outcome);
std::vector<std::string> CheckpointNotices(const CheckpointOutcome& outcome);
nlohmann::ordered_json ToJson(const CheckpointOutcome& outcome);

}  // namespace qve::cli
