// SPDX-License-Identifier: Apache-2.0
// verify --checkpoint FILE: a run that passes records the newest block it
// verified, and every later run must still hold that block, so that logs
// removed from the newest end or rolled back no longer pass. FILE holds one
// JSON object:
//   {"format": "qvehelper checkpoint", "version": 1,
//    "verificationKey": SHA-256 of the verification key the chain is signed with,
//    "file", "line", "id": the block's file name, signature line and block id,
//    "chainValue": the chain value after it, "start": the chain value the
//    run started from, "time": when it was recorded}
// A record made under another verification key is for another chain: no
// chain this program verifies can hold its block.
#pragma once

#include <cstddef>
#include <cstdint>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>

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
  std::string time;  // UTC, ISO 8601
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
  std::optional<CheckpointRecord> recorded;
  std::optional<CheckpointRecord> now;  // this run's, when it verified a block
  std::optional<ChainPoint> held;       // where this run holds the recorded block
  bool startsLater = false;             // the oldest files were rotated away
  bool written = false;
  std::string notWritten;  // why FILE stays as it was, when the status allows writing
};

// The record in FILE; nothing when there is no FILE yet. Throws
// CommandError: kNoInput when it cannot be read; kDataError when it is
// damaged, of another version or for another chain.
std::optional<CheckpointRecord> ReadCheckpoint(const std::string& file);

// Judges a run against the record. `failing` says why the run does not pass
// (bad files, the strict policy), empty when it does; only then is FILE to be
// written.
CheckpointOutcome JudgeCheckpoint(const std::string& file,
                                  const std::optional<CheckpointRecord>& recorded,
                                  const ChainSeen& seen, const std::string& failing);

// What FILE holds for `record`.
std::string CheckpointFileText(const CheckpointRecord& record);

const char* CheckpointStatusName(CheckpointStatus status);

// "system.log line 12, block 3".
std::string PointText(const ChainPoint& point);

// The line the text output gives it.
std::string CheckpointText(const CheckpointOutcome& outcome);

nlohmann::ordered_json ToJson(const CheckpointOutcome& outcome);

// Now, in UTC, as `format` for strftime.
std::string UtcNow(const char* format);

}  // namespace qve::cli
