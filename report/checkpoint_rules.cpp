// SPDX-License-Identifier: Apache-2.0
#include "report/checkpoint_rules.h"

#include "crypto/digest.h"
#include "format/signed_log_format.h"
#include "platform/escape.h"
#include "platform/utc_time.h"

namespace qve {

void CheckpointWatch::OnFileStart(const FileDetail& file) {
  // Read again from its start: what was seen of the file no longer holds.
  if (file.reading == 1) {
    beforeFile_ = seen_;
  } else {
    seen_ = beforeFile_;
  }
}

void CheckpointWatch::OnBlock(const FileDetail& file, const BlockDetail& block) {
  if (block.isUnsignedTail()) return;
  // The first signature line of a run may link anywhere: the run starts there.
  if (!seen_.start) seen_.start = block.verdict == BlockOk ? block.link : block.expectedLink;
  const bool signedValidly = block.verdict == BlockOk || block.verdict == BlockChainBreak;
  if (!signedValidly) return;
  const auto point = [&] {
    return ChainPoint{platform::Narrow(file.name), block.lines.last, block.id, block.chainValue,
                      position_};
  };
  if (block.verdict == BlockOk) seen_.newest = point();
  if (!recorded_) return;
  if (!seen_.held && block.chainValue == recorded_->block.chainValue) seen_.held = point();
  if (block.chainValue == recorded_->start) seen_.heldStart = true;
}

void CheckpointWatch::OnFileEnd(const FileDetail&) { ++position_; }

CheckpointOutcome JudgeCheckpoint(const std::string& file,
                                  const std::optional<CheckpointRecord>& recorded,
                                  const ChainSeen& seen, const std::string& failing, bool readOnly,
                                  const std::string& unread) {
  CheckpointOutcome out;
  out.file = file;
  out.recorded = recorded;
  out.readOnly = readOnly;
  bool unseen = false;
  if (seen.newest) {
    out.now = CheckpointRecord{*seen.newest, seen.start.value_or(ChainStart()),
                               platform::UtcNow("%Y-%m-%dT%H:%M:%SZ")};
  }
  if (recorded) {
    out.held = seen.held;
    // A run that starts right after the recorded block still extends it.
    const bool startsAfter = seen.start == recorded->block.chainValue;
    unseen = !out.held && !startsAfter;
    if (unseen && unread.empty()) {
      out.status = CheckpointStatus::Lost;
      return out;
    }
    out.status = CheckpointStatus::Extended;
    out.startsLater = !unseen && seen.start != recorded->start && !seen.heldStart;
  }
  if (unseen) {
    out.notWritten = "the recorded block may be in " + unread + ", which cannot be read";
  } else if (readOnly) {
    out.notWritten = "it is read-only here";
  } else if (!out.now) {
    out.notWritten = "nothing signed to record";
  } else if (!failing.empty()) {
    out.notWritten = failing;
  }
  return out;
}

}  // namespace qve
