// SPDX-License-Identifier: Apache-2.0
#include "cli/verify_checkpoint.h"

#include "cli/command_line.h"
#include "cli/escape.h"
#include "cli/verify_outcome.h"

namespace qve::cli {

using Json = nlohmann::ordered_json;

CheckpointRecord ParseCheckpoint(std::string_view text, const std::string& file) {
  try {
    return ParseCheckpointRecord(text);
  } catch (const RecordRefused& refused) {
    throw CommandError(
        kDataError, "checkpoint " + Escaped(file) + " " + refused.what() + "; it is left as it is");
  }
}

std::string CheckpointFileText(const CheckpointRecord& record) {
  return CheckpointRecordText(record);
}

const char* CheckpointStatusName(CheckpointStatus status) {
  switch (status) {
    case CheckpointStatus::New:
      return "new";
    case CheckpointStatus::Extended:
      return "extended";
    case CheckpointStatus::Lost:
      return "lost";
  }
  return "?";
}

std::string PointText(const ChainPoint& point) {
  return Escaped(point.file) + " line " + std::to_string(point.line) + " (id " +
         std::to_string(point.id) + ")";
}

std::string CheckpointText(const CheckpointOutcome& outcome) {
  const std::string file = Escaped(outcome.file);
  if (outcome.status == CheckpointStatus::Lost) {
    return "CheckpointLost (" + std::to_string(kCheckpointLost) +
           "): " + PointText(outcome.recorded->block) + ", recorded " +
           Escaped(outcome.recorded->time) +
           ", is no longer in the chain: what was verified before has been removed or rolled "
           "back; " +
           file + " is kept";
  }
  // The recorded block by the name its file has now.
  std::string recorded;
  if (outcome.recorded) {
    recorded = PointText(outcome.recorded->block);
    if (outcome.renamed())
      recorded +=
          ", now " + Escaped(outcome.held->file) + " line " + std::to_string(outcome.held->line);
  }
  if (!outcome.written) {
    if (!outcome.recorded)
      return "Checkpoint not created: " + file + " is not written: " + outcome.notWritten;
    return "Checkpoint held: " + recorded + "; " + file + " is not written: " + outcome.notWritten;
  }
  if (!outcome.recorded)
    return "Checkpoint new: " + PointText(outcome.now->block) + ", written to " + file;
  if (outcome.now->block.chainValue == outcome.recorded->block.chainValue)
    return "Checkpoint extended: " + recorded + ", nothing newer; written to " + file;
  return "Checkpoint extended: " + recorded + (outcome.renamed() ? ", to " : " to ") +
         PointText(outcome.now->block) + ", written to " + file;
}

std::vector<std::string> CheckpointNotices(const CheckpointOutcome& outcome) {
  std::vector<std::string> notices;
  if (outcome.status == CheckpointStatus::Lost) return notices;
  if (outcome.renamed()) {
    notices.push_back("the recorded block " + PointText(outcome.recorded->block) + " is now in " +
                      Escaped(outcome.held->file) + ": a rotation renamed files");
  }
  if (outcome.startsLater)
    notices.push_back("the run starts later than the recorded one: the oldest files are gone");
  return notices;
}

Json ToJson(const CheckpointOutcome& outcome) {
  const auto record = [](const std::optional<CheckpointRecord>& r) {
    return r ? CheckpointRecordMembers(*r) : Json(nullptr);
  };
  Json held = nullptr;
  if (outcome.held) {
    held = {{"file", outcome.held->file}, {"line", outcome.held->line}, {"id", outcome.held->id}};
  }
  return {{"file", outcome.file},
          {"status", CheckpointStatusName(outcome.status)},
          {"readOnly", outcome.readOnly},
          {"written", outcome.written},
          {"startsLater", outcome.startsLater},
          {"recorded", record(outcome.recorded)},
          {"held", std::move(held)},
          {"now", record(outcome.now)}};
}

}  // namespace qve::cli
