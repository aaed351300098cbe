// SPDX-License-Identifier: Apache-2.0
// verify --checkpoint FILE: a run that passes records the newest block it
// verified, and every later run must still hold that block, so that logs
// removed from the newest end or rolled back no longer pass. This file holds
// the record's format and the rules of judging a run by it; where a record is
// kept, its lock and its replacement are checkpoint_store.h's.
//
// FILE holds one JSON object with exactly these members (README, "The
// checkpoint record"):
//   "format": "qvehelper checkpoint", "version": 1,
//   "verificationKey": SHA-256 of the key the chain is signed with, in hex,
//   "chainValue": the chain value after the recorded block, in hex: the one
//     member a later run is held to,
//   "file", "line", "id": the block's file name, signature line and block id,
//     for people,
//   "start": the chain value the recording run started from, in hex, which
//     tells a run that starts later (the oldest files gone) from one that
//     starts where it did,
//   "time": when it was recorded, RFC 3339.
// Hex digits may be of either case. A record made under another
// verification key is for another chain: no chain this program verifies can
// hold its block.
#pragma once

#include <cstddef>
#include <cstdint>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <string_view>

#include "crypto/bytes.h"
#include "verify/details.h"

namespace qve::cli {

// A block of the chain, where a run met it.
struct ChainPoint {
  std::string file;        // the name of its file
  std::uint32_t line = 0;  // its signature line
  std::uint32_t id = 0;
  Bytes chainValue;          // after it: the digest of its bytes
  std::size_t position = 0;  // its file's place in the run; not recorded
};

struct CheckpointRecord {
  ChainPoint block;  // the newest verified block
  Bytes start;       // the chain value the run started from
  std::string time;  // RFC 3339
};

// What a run shows of its chain that a checkpoint needs.
struct ChainSeen {
  std::optional<Bytes> start;        // the link its first signature line was taken with
  std::optional<ChainPoint> newest;  // its last BlockOk block
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
};

enum class CheckpointStatus { New, Extended, Lost };

struct CheckpointOutcome {
  std::string file;  // FILE as given
  CheckpointStatus status = CheckpointStatus::New;
  bool readOnly = false;  // FILE is never written
  std::optional<CheckpointRecord> recorded;
  std::optional<CheckpointRecord> now;  // this run's, when it verified a block
  std::optional<ChainPoint> held;       // where this run holds the recorded block
  bool startsLater = false;             // the oldest files were rotated away
  bool written = false;
  std::string notWritten;  // why FILE stays as it was, when the status allows writing

  // The recorded block is held in a file of another name: a rotation
  // renamed it.
  bool renamed() const { return held && recorded && held->file != recorded->block.file; }
};

// The record that `text`, the content of FILE, holds. Throws CommandError
// kDataError when it is damaged, of another version or for another chain.
CheckpointRecord ParseCheckpoint(std::string_view text, const std::string& file);

// What FILE holds for `record`.
std::string CheckpointFileText(const CheckpointRecord& record);

// Judges a run against the record. `failing` says why the run does not pass
// (bad files, the strict policy, files not verified), empty when it does;
// only then is FILE to be written.
CheckpointOutcome JudgeCheckpoint(const std::string& file,
                                  const std::optional<CheckpointRecord>& recorded,
                                  const ChainSeen& seen, const std::string& failing,
                                  bool readOnly = false);

const char* CheckpointStatusName(CheckpointStatus status);

// "system.log line 12 (id 3)".
std::string PointText(const ChainPoint& point);

// The line the text output gives it.
std::string CheckpointText(const CheckpointOutcome& outcome);

// What happened to the chain since the record, when something did that a
// reader would not guess from the line: files renamed by a rotation, the
// oldest files gone. One notice each.
std::vector<std::string> CheckpointNotices(const CheckpointOutcome& outcome);

nlohmann::ordered_json ToJson(const CheckpointOutcome& outcome);

// Now, in UTC, as `format` for strftime.
std::string UtcNow(const char* format);

// Whether `text` is a date and time as RFC 3339 writes them
// ("2026-12-07T02:05:47Z", "2026-12-07t03:05:47.5+01:00").
bool IsRfc3339(std::string_view text);

}  // namespace qve::cli
