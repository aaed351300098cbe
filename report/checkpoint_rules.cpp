// SPDX-License-Identifier: Apache-2.0
#include "report/checkpoint_rules.h"

#include "crypto/digest.h"
#include "format/signed_log_format.h"
#include "platform/paths.h"
#include "platform/utc_time.h"
#include "text/escape.h"

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
    return ChainPoint{
        platform::ShownText(file.name), block.lines.last, block.id, block.chainValue, position_,
        linesBefore_ + block.lines.last};
  };
  if (!seen_.oldest) seen_.oldest = point();
  if (block.verdict == BlockOk) seen_.newest = point();
  if (!recorded_) return;
  if (!seen_.held && block.chainValue == recorded_->block.chainValue) seen_.held = point();
  if (block.chainValue == recorded_->start) seen_.heldStart = true;
}

void CheckpointWatch::OnFileEnd(const FileDetail& file) {
  seen_.files = ++position_;
  linesBefore_ += file.lines;
}

namespace {

constexpr std::int64_t kSecondsPerDay = 86400;

std::uint32_t Clamped(std::uint64_t value) {
  return value > 0xFFFFFFFFu ? 0xFFFFFFFFu : std::uint32_t(value);
}

std::uint32_t Less(std::uint64_t a, std::uint64_t b) { return Clamped(a > b ? a - b : 0); }

// The history the new record vouches for: this run's own, or, after more
// than a rotation took, the recorded one grown by what this run added.
void KeepHistory(CheckpointOutcome& out, const CheckpointPolicy& policy) {
  CheckpointRecord& now = *out.now;
  const ChainPoint& newest = now.block;
  const std::optional<CheckpointRecord>& recorded = out.recorded;
  if (policy.accept) return;
  now.grew = newest.chainValue == recorded->block.chainValue ? recorded->grew : now.time;
  if (!out.shrunk) return;
  const std::uint64_t heldFiles = out.held ? out.held->position + 1 : 0;
  const std::uint64_t heldLines = out.held ? out.held->historyLine : 0;
  now.start = recorded->start;
  now.history->oldest = recorded->history->oldest;
  now.history->files =
      Clamped(std::uint64_t(recorded->history->files) + Less(newest.position + 1, heldFiles));
  now.history->lines =
      Clamped(std::uint64_t(recorded->history->lines) + Less(newest.historyLine, heldLines));
}

}  // namespace

CheckpointOutcome JudgeCheckpoint(const std::string& file,
                                  const std::optional<CheckpointRecord>& recorded,
                                  const ChainSeen& seen, const std::string& failing, bool readOnly,
                                  const CheckpointPolicy& policy, const std::string& unread) {
  CheckpointOutcome out;
  out.file = file;
  out.recorded = recorded;
  out.readOnly = readOnly;
  bool unseen = false;
  if (seen.newest) {
    out.now = CheckpointRecord{*seen.newest, seen.start.value_or(ChainStart()),
                               platform::UtcNow("%Y-%m-%dT%H:%M:%SZ")};
    out.now->grew = out.now->time;
    out.now->history =
        RecordedHistory{Clamped(seen.newest->position + 1), Clamped(seen.newest->historyLine),
                        seen.oldest.value_or(*seen.newest)};
  }
  out.accepted = policy.accept && out.now && !readOnly;
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
    if (out.startsLater && recorded->history) {
      const std::uint64_t heldFiles = out.held ? out.held->position + 1 : 0;
      const std::uint64_t heldLines = out.held ? out.held->historyLine : 0;
      out.left =
          HistoryLeft{Less(recorded->history->files, heldFiles),
                      Less(recorded->history->lines, heldLines), Less(seen.files, heldFiles)};
      out.shrunk = out.left->files > out.left->arrived;
    }
    const bool grew = out.now && out.now->block.chainValue != recorded->block.chainValue;
    const std::optional<std::int64_t> since = Rfc3339Seconds(recorded->grew);
    const std::optional<std::int64_t> now = Rfc3339Seconds(platform::UtcNow("%Y-%m-%dT%H:%M:%SZ"));
    out.stale = policy.staleAfterDays > 0 && !grew && since && now &&
                *now - *since >= policy.staleAfterDays * kSecondsPerDay;
  }
  if (out.now && recorded) KeepHistory(out, policy);
  if (unseen) {
    out.notWritten = "the recorded block may be in " + unread + ", which cannot be read";
  } else if (readOnly) {
    out.notWritten = "it is read-only here";
  } else if (!out.now) {
    out.notWritten = "nothing signed to record";
  } else if (!failing.empty() && !policy.accept) {
    out.notWritten = failing;
  }
  return out;
}

}  // namespace qve
