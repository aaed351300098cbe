// SPDX-License-Identifier: Apache-2.0
// Judging a run by a checkpoint record (report/checkpoint_record.h): a run
// must still hold the recorded block, and a run that passes gives a record
// of its own.
#pragma once

#include <optional>
#include <string>

#include "report/checkpoint_record.h"
#include "verify/details.h"

namespace qve {

// What a run shows of its chain that a checkpoint needs.
struct ChainSeen {
  std::optional<Bytes> start;        // the link its first signature line was taken with
  std::optional<ChainPoint> newest;  // its last BlockOk block
  std::optional<ChainPoint> oldest;  // its first validly signed block
  std::size_t files = 0;
  // Of a record: where the run holds its block (validly signed), and
  // whether a block of the run ends in the chain value it started from.
  std::optional<ChainPoint> held;
  bool heldStart = false;
};

class CheckpointWatch final : public VerifyObserver {
 public:
  explicit CheckpointWatch(std::optional<CheckpointRecord> recorded)
      : recorded_(std::move(recorded)) {}
  void OnFileStart(const FileDetail& file) override;
  void OnBlock(const FileDetail& file, const BlockDetail& block) override;
  void OnFileEnd(const FileDetail& file) override;

  const ChainSeen& seen() const { return seen_; }

 private:
  std::optional<CheckpointRecord> recorded_;
  ChainSeen seen_;
  ChainSeen beforeFile_;  // what was seen when the current file began
  std::size_t position_ = 0;
  std::uint64_t linesBefore_ = 0;  // of the files ended
};

enum class CheckpointStatus { New, Extended, Lost };

// What the caller asks of the record beyond holding its block.
struct CheckpointPolicy {
  // A chain whose record has not grown for this many days is stale; 0: never.
  std::uint32_t staleAfterDays = 0;
  // The record is written from this run whatever it found.
  bool accept = false;
};

// What left the old end of the history a version 2 record vouches for, and
// what arrived at the new end since.
struct HistoryLeft {
  std::uint32_t files = 0;
  std::uint32_t lines = 0;
  std::uint32_t arrived = 0;  // files after the one that holds the recorded block
};

struct CheckpointOutcome {
  std::string file;  // where the caller keeps the record, as it names it
  CheckpointStatus status = CheckpointStatus::New;
  bool readOnly = false;  // FILE is never written
  std::optional<CheckpointRecord> recorded;
  std::optional<CheckpointRecord> now;  // this run's, when it verified a block
  std::optional<ChainPoint> held;       // where this run holds the recorded block
  bool startsLater = false;             // the oldest files were rotated away
  std::optional<HistoryLeft> left;      // when it starts later than a version 2 record
  // More files left at the old end than arrived at the new end: more than a
  // rotation takes. The new record keeps the recorded oldest block then.
  bool shrunk = false;
  bool stale = false;  // the record has not grown for the policy's days
  bool accepted = false;
  bool written = false;
  std::string notWritten;  // why FILE stays as it was, when the status allows writing

  // The recorded block is held in a file of another name: a rotation
  // renamed it.
  bool renamed() const { return held && recorded && held->file != recorded->block.file; }
};

// Judges a run against the record. `failing` says why the run does not pass
// (bad files, the strict policy, files not verified), empty when it does;
// only then is FILE to be written. `unread` names a file of the chain that
// could not be read: a recorded block the run does not hold may be there,
// so it is not lost, only not seen.
CheckpointOutcome JudgeCheckpoint(const std::string& file,
                                  const std::optional<CheckpointRecord>& recorded,
                                  const ChainSeen& seen, const std::string& failing,
                                  bool readOnly = false, const CheckpointPolicy& policy = {},
                                  const std::string& unread = "");

}  // namespace qve
