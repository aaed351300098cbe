// SPDX-License-Identifier: Apache-2.0
#include "cli/verify_outcome.h"

#include <algorithm>
#include <span>

#include "command/command_line.h"
#include "command/escape.h"

namespace qve::cli {

namespace {

std::string HexOf(const std::uint8_t* bytes, std::size_t length) {
  return bytes != nullptr ? Hex(std::span(bytes, length)) : "";
}

std::optional<CheckpointRecord> RecordAt(qve_run* run, int point) {
  if (qve_run_point_known(run, point) == 0) return std::nullopt;
  CheckpointRecord record;
  record.block.file = qve_run_point_file(run, point);
  record.block.line = qve_run_point_line(run, point);
  record.block.id = qve_run_point_id(run, point);
  record.block.position = qve_run_point_file_index(run, point);
  std::size_t length = 0;
  const std::uint8_t* value = qve_run_point_chain_value(run, point, &length);
  record.block.chainValue = HexOf(value, length);
  const std::uint8_t* start = qve_run_point_start(run, point, &length);
  record.start = HexOf(start, length);
  record.time = qve_run_point_time(run, point);
  return record;
}

void ReadDone(qve_run* run, VerifyOutcome& outcome) {
  outcome.order = qve_run_order(run);
  outcome.status = qve_run_status(run);
  outcome.result = qve_run_result(run);
  outcome.totalFiles = std::uint32_t(qve_run_total_files(run));
  outcome.badFiles = std::uint32_t(qve_run_bad_files(run));
  for (std::size_t i = 0; i < outcome.files.size(); ++i)
    outcome.files[i].breakFollows = qve_run_file_break_follows(run, i);
  if (qve_run_checkpoint(run) != QVE_CHECKPOINT_NONE) {
    CheckpointOutcome& checkpoint = outcome.checkpoint.emplace();
    const int status = qve_run_checkpoint(run);
    checkpoint.status = status == QVE_CHECKPOINT_LOST       ? CheckpointStatus::Lost
                        : status == QVE_CHECKPOINT_EXTENDED ? CheckpointStatus::Extended
                                                            : CheckpointStatus::New;
    checkpoint.recorded = RecordAt(run, QVE_POINT_RECORDED);
    checkpoint.now = RecordAt(run, QVE_POINT_NOW);
    if (const auto held = RecordAt(run, QVE_POINT_HELD)) checkpoint.held = held->block;
    checkpoint.startsLater = qve_run_checkpoint_starts_later(run) != 0;
    checkpoint.notWritten = qve_run_checkpoint_not_recorded(run);
  }
  if (outcome.strict) {
    auto& strict = *outcome.strict;
    strict.clear();
    for (std::size_t i = 0; i < qve_run_strict_count(run); ++i) {
      strict.push_back({qve_run_strict_reason(run, i), qve_run_strict_path(run, i),
                        qve_run_strict_text(run, i)});
    }
  }
}

VerifiedFile FileAt(qve_run* run, std::size_t i, bool includeOk) {
  VerifiedFile file;
  file.name = qve_run_file_name(run, i);
  file.path = qve_run_file_path(run, i);
  file.verdict = qve_run_file_verdict(run, i);
  file.listed = file.verdict != QVE_FILE_OK || includeOk;
  file.blockCount = qve_run_file_blocks(run, i);
  file.badBlockCount = qve_run_file_bad_blocks(run, i);
  file.opened = qve_run_file_opened(run, i) != 0;
  if (const std::uint32_t first = qve_run_file_unsigned_first(run, i))
    file.unsignedTail = LineRange{first, qve_run_file_unsigned_last(run, i)};
  file.nulLines = qve_run_file_nul_lines(run, i);
  file.nulFirstLine = qve_run_file_nul_first_line(run, i);
  file.nulBytes = qve_run_file_nul_bytes(run, i);
  file.endOfInputLine = qve_run_file_end_of_input_line(run, i);
  file.endOfInputOffset = qve_run_file_end_of_input_offset(run, i);
  file.bytesAfterEnd = qve_run_file_end_of_input_bytes(run, i);
  return file;
}

BlockSeen BlockOf(qve_run* run) {
  BlockSeen block;
  block.verdict = qve_run_block_verdict(run);
  block.lines = {qve_run_block_first_line(run), qve_run_block_last_line(run)};
  block.coversNoLine = qve_run_block_covers_no_line(run) != 0;
  for (std::size_t i = 0; i < qve_run_block_excerpt_count(run); ++i) {
    std::size_t length = 0;
    const char* text = qve_run_block_excerpt_text(run, i, &length);
    block.excerpt.push_back({qve_run_block_excerpt_line(run, i), std::string(text, length),
                             qve_run_block_excerpt_covered(run, i),
                             qve_run_block_excerpt_nul(run, i) != 0});
  }
  return block;
}

}  // namespace

int ReadRun(qve_run* run, VerifyOutcome& outcome, bool includeOk, bool details, BlockSink* sink) {
  std::vector<BlockRow> blocks;  // of the current file
  for (;;) {
    const int kind = qve_run_next(run);
    switch (kind) {
      case QVE_EVENT_FILE_START:
        blocks.clear();
        if (sink != nullptr) sink->OnFileStart(qve_run_event_reading(run));
        break;
      case QVE_EVENT_BLOCK: {
        const int verdict = qve_run_block_verdict(run);
        if (details && verdict != kBlockOk)
          blocks.push_back(
              {verdict, {qve_run_block_first_line(run), qve_run_block_last_line(run)}});
        if (sink != nullptr) sink->OnBlock(BlockOf(run));
        break;
      }
      case QVE_EVENT_WARNING:
        outcome.warnings.push_back({qve_run_warning_path(run), qve_run_warning_text(run),
                                    qve_run_warning_unverified(run) != 0,
                                    qve_run_warning_code(run)});
        break;
      case QVE_EVENT_FILE_END: {
        const std::size_t index = qve_run_event_file(run);
        outcome.files.resize(index);
        outcome.files.push_back(FileAt(run, index, includeOk));
        outcome.files.back().blocks = std::move(blocks);
        blocks.clear();
        if (sink != nullptr) sink->OnFileEnd();
        break;
      }
      case QVE_EVENT_RESTART:
        outcome.files.clear();
        outcome.warnings.clear();
        if (sink != nullptr) sink->OnRestart();
        break;
      case QVE_EVENT_DONE:
        ReadDone(run, outcome);
        return 0;
      default:
        return kind < 0 ? kind : QVE_ERROR_MISUSE;
    }
  }
}

int WorseStatus(int a, int b) {
  // From the most severe; a status not listed is an error of the table.
  static constexpr int kOrder[] = {kCheckpointLost,
                                   3,
                                   2,
                                   kStrictPolicyFailed,
                                   kIncomplete,
                                   kSoftwareError,
                                   kOutputError,
                                   kCannotCreate,
                                   kNoInput,
                                   kDataError,
                                   kBusy,
                                   kUsageError,
                                   1,
                                   0};
  const auto rank = [](int status) {
    const auto* at = std::find(std::begin(kOrder), std::end(kOrder), status);
    return at - std::begin(kOrder);
  };
  return rank(a) <= rank(b) ? a : b;
}

const char* StatusName(int status) {
  switch (status) {
    case kUsageError:
      return "UsageError";
    case kDataError:
      return "DataError";
    case kNoInput:
      return "NoInput";
    case kSoftwareError:
      return "SoftwareError";
    case kCannotCreate:
      return "CannotCreate";
    case kOutputError:
      return "OutputError";
    case kBusy:
      return "Busy";
  }
  return qve_result_name(QVE_RESULT_OF_RUN, status);
}

const char* FileVerdictName(int verdict) { return qve_result_name(QVE_RESULT_OF_FILE, verdict); }

const char* BlockVerdictName(int verdict) { return qve_result_name(QVE_RESULT_OF_BLOCK, verdict); }

nlohmann::ordered_json ToJson(const VerifyOutcome& outcome, bool details) {
  using Json = nlohmann::ordered_json;
  Json out;
  if (!outcome.path.empty()) out["path"] = outcome.path;
  out["exitStatus"] = outcome.status;
  out["status"] = StatusName(outcome.status);
  out["result"] = qve_result_name(QVE_RESULT_OF_RUN, outcome.result);
  out["resultCode"] = outcome.result;
  out["totalFiles"] = outcome.totalFiles;
  out["badFiles"] = outcome.badFiles;
  out["order"] = outcome.order == QVE_ORDER_NAME               ? "name"
                 : outcome.order == QVE_ORDER_LINKS_WITH_SEAMS ? "links, with seams"
                                                               : "links";
  out["files"] = Json::array();
  out["warnings"] = Json::array();
  if (details) out["details"] = Json::array();
  for (const VerifiedFile& file : outcome.files) {
    const auto& tail = file.unsignedTail;
    const Json unsignedLines =
        tail ? Json{{"first", tail->first}, {"last", tail->last}} : Json(nullptr);
    if (file.listed) {
      out["files"].push_back({{"name", file.name},
                              {"path", file.path},
                              {"verdict", FileVerdictName(file.verdict)},
                              {"verdictCode", file.verdict},
                              {"unsignedLines", unsignedLines}});
    }
    if (!details) continue;
    Json blocks = Json::array();
    for (const BlockRow& block : file.blocks) {
      blocks.push_back({{"verdict", BlockVerdictName(block.verdict)},
                        {"verdictCode", block.verdict},
                        {"firstLine", block.lines.first},
                        {"lastLine", block.lines.last}});
    }
    out["details"].push_back(
        {{"path", file.path},
         {"name", file.name},
         {"blockCount", file.blockCount},
         {"badBlockCount", file.badBlockCount},
         {"unsignedLines", unsignedLines},
         {"breakFollows", file.breakFollows.empty() ? Json(nullptr) : Json(file.breakFollows)},
         {"blocks", std::move(blocks)}});
  }
  for (const VerifyWarning& warning : outcome.warnings) {
    out["warnings"].push_back(
        {{"path", warning.path}, {"message", warning.message}, {"unverified", warning.unverified}});
  }
  out["checkpoint"] = outcome.checkpoint ? ToJson(*outcome.checkpoint) : Json(nullptr);
  out["strict"] = Json(nullptr);
  if (outcome.strict) {
    out["strict"] = Json::array();
    for (const StrictFinding& finding : *outcome.strict) {
      out["strict"].push_back({{"path", finding.path},
                               {"reason", qve_result_name(QVE_RESULT_OF_STRICT, finding.reason)},
                               {"message", finding.message}});
    }
  }
  return out;
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

nlohmann::ordered_json ToJson(const CheckpointOutcome& outcome) {
  using Json = nlohmann::ordered_json;
  const auto record = [](const std::optional<CheckpointRecord>& r) {
    if (!r) return Json(nullptr);
    return Json{{"file", r->block.file}, {"line", r->block.line},
                {"id", r->block.id},     {"chainValue", r->block.chainValue},
                {"start", r->start},     {"time", r->time}};
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
