// SPDX-License-Identifier: Apache-2.0
// What one verification run found, as the verify command shows it: the
// finished run itself, whose accessors (QVEHelper.h) every output reads,
// and the little the command keeps besides: the events that pass, and what
// became of the record where the command keeps it. The command's own
// statuses and the JSON output are here too.
#pragma once

#include <QVEHelper.h>

#include <cstdint>
#include <iosfwd>
#include <memory>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

namespace qve::cli {

struct LineRange {
  std::uint32_t first = 0;
  std::uint32_t last = 0;
};

struct BlockRow {
  int verdict = QVE_BLOCK_OK;
  LineRange lines;
};

struct VerifyWarning {
  std::string path;
  std::string message;
  bool unverified = false;  // the run is Incomplete
};

// Where the command keeps the chain's record, and what became of it there.
struct RecordKept {
  std::string file;  // as the command was given it
  bool readOnly = false;
  bool written = false;
  std::string notWritten;  // why FILE stays as it was, when the status allows writing
  int failed = 0;          // the command's status, when an error kept it so (73, 74, 75)
  bool accepted = false;   // --accept: written whatever the run found
};

using RunHandle = std::unique_ptr<qve_run, decltype(&qve_run_free)>;

struct VerifyOutcome {
  std::string path;                      // the PATH argument with --each, else empty
  RunHandle run{nullptr, qve_run_free};  // done
  bool includeOk = false;                // the report lists FileOk files too
  bool strict = false;
  std::vector<std::vector<BlockRow>> blocks;  // per file, its bad blocks, with --details
  std::vector<VerifyWarning> warnings;
  std::optional<RecordKept> record;

  qve_run* get() const { return run.get(); }
  std::size_t files() const { return qve_run_file_count(run.get()); }
  // The report lists it: not FileOk, or --include-ok.
  bool Listed(std::size_t i) const {
    return includeOk || qve_run_file_verdict(run.get(), i) != QVE_FILE_OK;
  }
};

// Takes every block of a run as it comes, file by file.
class BlockSink {
 public:
  virtual ~BlockSink() = default;
  // The run starts over: a rotation renamed its files.
  virtual void OnRestart() {}
  // The file is the run's current event (qve_run_event_*).
  virtual void OnFileStart(qve_run* /*run*/) {}
  // The block is the run's current event (qve_run_block_*).
  virtual void OnBlock(qve_run* /*run*/) {}
};

// Goes through the outcome's run to its end and keeps what passes, in place
// of what it held; a run that restarts is kept anew. Gives 0 or the
// QVE_ERROR_* that ended the run.
int ReadRun(VerifyOutcome& outcome, bool details, BlockSink* sink = nullptr);

// Of two statuses, the one a run of both exits with: of a chain's 2 to 6 the
// first of 4, 3, 2, 5, 6, before any error of the command's table, and an
// error before 1 and 0.
int WorseStatus(int a, int b);

// The word for a status: the report's results, CheckpointLost,
// StrictPolicyFailed, Incomplete, and for the table's errors NoInput,
// DataError, Busy and the like.
const char* StatusName(int status);

// The bytes after a NUL in the file at `i`, in words (its NUL lines > 0).
std::string AfterNulText(qve_run* run, std::size_t i);

// The chain's status in words, then `between`, and the report's result
// where it differs.
std::string StatusText(int status, int result, const std::string& between = "");

// The JSON object of one outcome; `details` adds every file's blocks.
nlohmann::ordered_json ToJson(const VerifyOutcome& outcome, bool details);

// Every string of `json` that is not UTF-8 (a name's bytes) in the text
// output's escape ("\xe9", "\\" for a backslash), which gives them back.
void MakeRecoverable(nlohmann::ordered_json& json);

// The record's block at a QVE_POINT_*, by file, line and id.
std::string PointText(qve_run* run, int point);
// A checkpoint's outcome in words: the line of the text output, and the
// notices of what a reader would not guess from it (files renamed by a
// rotation, the oldest files gone), a line each.
std::string CheckpointText(const VerifyOutcome& outcome);
void WriteCheckpointNotices(const VerifyOutcome& outcome, std::ostream& out);
// Of those, what needs a person even when the status is 0 (history gone
// beyond rotation, a stale chain), which -q says too.
void WriteRecordWarnings(const VerifyOutcome& outcome, std::ostream& out);
// What a record written by --accept gives up of what the old one vouched
// for, in words; "" for nothing.
std::string GivesUpText(const VerifyOutcome& outcome);

}  // namespace qve::cli
