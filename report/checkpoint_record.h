// SPDX-License-Identifier: Apache-2.0
// The checkpoint record: a run that passes records the newest block it
// verified, and every later run must still hold that block, so that logs
// removed from the newest end or rolled back no longer pass. This file holds
// the record's format; where it is kept and its lock are the caller's.
//
// A record is one JSON object with exactly these members:
//   "format": "qvehelper checkpoint", "version": 2 (1 is read too),
//   "verificationKey": SHA-256 of the key the chain is signed with, in hex,
//   "chainValue": the chain value after the recorded block, in hex: the one
//     member a later run is held to,
//   "file", "line", "id": the block's file name, signature line and block id,
//     for people,
//   "start": the chain value the recording run started from, in hex, which
//     tells a run that starts later (the oldest files gone) from one that
//     starts where it did,
//   "time": when it was recorded, RFC 3339,
// and since version 2, what the record vouches for from the old end on, so
// that history which leaves faster than rotation takes it is seen:
//   "files", "lines": the files and lines of the chain up to the recorded
//     block (its file and line included),
//   "oldestFile", "oldestLine", "oldestChainValue": the oldest signed block,
//   "grew": when the recorded block last changed, RFC 3339.
// Hex digits may be of either case. A record made under another
// verification key is for another chain: no chain this library verifies can
// hold its block.
#pragma once

#include <cstddef>
#include <cstdint>
#include <nlohmann/json.hpp>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>

#include "format/bytes.h"
#include "platform/utc_time.h"
#include "report/run_codes.h"

namespace qve {

// A block of the chain, where a run met it.
struct ChainPoint {
  std::string file;        // the name of its file
  std::uint32_t line = 0;  // its signature line
  std::uint32_t id = 0;
  Bytes chainValue;          // after it: the digest of its bytes
  std::size_t position = 0;  // its file's place in the run; not recorded
  // The lines of the run's files before it, and its own line; not recorded.
  std::uint64_t historyLine = 0;
};

// What a version 2 record vouches for from the old end of the chain.
struct RecordedHistory {
  std::uint32_t files = 0;
  std::uint32_t lines = 0;
  ChainPoint oldest{};  // its file, line and chain value
};

struct CheckpointRecord {
  ChainPoint block;                          // the newest verified block
  Bytes start;                               // the chain value the run started from
  std::string time;                          // RFC 3339
  std::optional<RecordedHistory> history{};  // none in a version 1 record
  std::string grew{};                        // RFC 3339; a version 1 record's time
};

// Why a record cannot be used; what() says what is wrong, as a predicate
// of the record ("is damaged: ...").
class RecordRefused : public std::runtime_error {
 public:
  RecordRefused(RecordFault code, const std::string& why) : std::runtime_error(why), code(code) {}
  RecordFault code;
};

// The record that `text` holds. Throws RecordRefused.
CheckpointRecord ParseCheckpointRecord(std::string_view text);

// The members that say where the record's block is: "file", "line", "id",
// "chainValue", "start", "time".
nlohmann::ordered_json CheckpointRecordMembers(const CheckpointRecord& record);

// The text of `record`, as it is stored.
std::string CheckpointRecordText(const CheckpointRecord& record);

using platform::IsRfc3339;
using platform::Rfc3339Seconds;

}  // namespace qve
