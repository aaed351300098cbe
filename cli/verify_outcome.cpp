// SPDX-License-Identifier: Apache-2.0
#include "cli/verify_outcome.h"

#include <algorithm>
#include <map>
#include <ostream>
#include <span>

#include "cli/frame.h"
#include "platform/name_order.h"
#include "platform/utf8.h"

namespace qve::cli {

namespace {

// The bytes a point's accessor gives (its chain value, its start), in hex.
template <typename Accessor>
std::string PointHex(Accessor bytesOf, qve_run* run, int point) {
  std::size_t length = 0;
  const std::uint8_t* bytes = bytesOf(run, point, &length);
  return bytes != nullptr ? Hex(std::span(bytes, length)) : "";
}

bool Known(qve_run* run, int point) { return qve_run_point_known(run, point) != 0; }

// The recorded block is held in a file of another name: a rotation renamed it.
bool Renamed(qve_run* run) {
  return Known(run, QVE_POINT_HELD) && Known(run, QVE_POINT_RECORDED) &&
         std::string_view(qve_run_point_file(run, QVE_POINT_HELD)) !=
             qve_run_point_file(run, QVE_POINT_RECORDED);
}

}  // namespace

int ReadRun(VerifyOutcome& outcome, bool details, BlockSink* sink) {
  qve_run* run = outcome.get();
  std::vector<BlockRow> blocks;  // of the current file
  outcome.blocks.clear();
  outcome.warnings.clear();
  for (;;) {
    const int kind = qve_run_next(run);
    switch (kind) {
      case QVE_EVENT_FILE_START:
        blocks.clear();
        if (sink != nullptr) sink->OnFileStart(run);
        break;
      case QVE_EVENT_BLOCK: {
        const int verdict = qve_run_block_verdict(run);
        if (details && verdict != QVE_BLOCK_OK)
          blocks.push_back(
              {verdict, {qve_run_block_first_line(run), qve_run_block_last_line(run)}});
        if (sink != nullptr) sink->OnBlock(run);
        break;
      }
      case QVE_EVENT_WARNING:
        outcome.warnings.push_back({qve_run_warning_path(run), qve_run_warning_text(run),
                                    qve_run_warning_unverified(run) != 0});
        break;
      case QVE_EVENT_FILE_END:
        outcome.blocks.resize(qve_run_event_file(run));
        outcome.blocks.push_back(std::move(blocks));
        break;
      case QVE_EVENT_RESTART:
        outcome.blocks.clear();
        outcome.warnings.clear();
        if (sink != nullptr) sink->OnRestart();
        break;
      case QVE_EVENT_DONE:
        outcome.blocks.resize(outcome.files());
        return 0;
      default:
        return kind < 0 ? kind : QVE_ERROR_MISUSE;
    }
  }
}

int WorseStatus(int a, int b) {
  // From the most severe; a status not listed is an error of the table.
  static constexpr int kOrder[] = {QVE_STATUS_CHECKPOINT_LOST,
                                   QVE_STATUS_ALL_INVALID,
                                   QVE_STATUS_SOME_INVALID,
                                   QVE_STATUS_STRICT_FAILED,
                                   QVE_STATUS_INCOMPLETE,
                                   kSoftwareError,
                                   kOutputError,
                                   kCannotCreate,
                                   kNoInput,
                                   kDataError,
                                   kBusy,
                                   kUsageError,
                                   QVE_STATUS_UNSIGNED,
                                   QVE_STATUS_OK};
  const auto rank = [](int status) { return std::ranges::find(kOrder, status) - kOrder; };
  return rank(a) <= rank(b) ? a : b;
}

const char* StatusName(int status) {
  static const std::map<int, const char*> kErrors = {{kUsageError, "UsageError"},
                                                     {kDataError, "DataError"},
                                                     {kNoInput, "NoInput"},
                                                     {kSoftwareError, "SoftwareError"},
                                                     {kCannotCreate, "CannotCreate"},
                                                     {kOutputError, "OutputError"},
                                                     {kBusy, "Busy"}};
  const auto error = kErrors.find(status);
  return error != kErrors.end() ? error->second : qve_result_name(QVE_RESULT_OF_RUN, status);
}

std::string AfterNulText(qve_run* run, std::size_t i) {
  return Counted(qve_run_file_nul_bytes(run, i), "byte") + " after a NUL on " +
         Counted(qve_run_file_nul_lines(run, i), "line") + " (first at line " +
         std::to_string(qve_run_file_nul_first_line(run, i)) + ")";
}

std::string StatusText(int status, int result, const std::string& between) {
  std::string text = StatusName(status) + (" (" + std::to_string(status) + ")") + between;
  if (status != result)
    text += "; report " + (StatusName(result) + (" (" + std::to_string(result) + ")"));
  return text;
}

nlohmann::ordered_json ToJson(const VerifyOutcome& outcome, bool details) {
  using Json = nlohmann::ordered_json;
  qve_run* run = outcome.get();
  const int order = qve_run_order(run);
  Json out;
  if (!outcome.path.empty()) out["path"] = outcome.path;
  // result and resultCode are the chain's, as a reader of one of them takes
  // them; the report's own is under "report".
  const int status = qve_run_status(run);
  out["exitStatus"] = status;
  out["status"] = StatusName(status);
  out["result"] = StatusName(status);
  out["resultCode"] = status;
  out["totalFiles"] = qve_run_total_files(run);
  out["badFiles"] = qve_run_bad_files(run);
  out["report"] = {{"result", StatusName(qve_run_result(run))},
                   {"resultCode", qve_run_result(run)},
                   {"totalFiles", qve_run_total_files(run)},
                   {"badFiles", qve_run_bad_files(run)}};
  out["order"] = order == QVE_ORDER_NAME               ? "name"
                 : order == QVE_ORDER_LINKS_WITH_SEAMS ? "links, with seams"
                                                       : "links";
  out["longestSignedBlock"] = qve_run_longest_block(run);
  out["files"] = Json::array();
  out["warnings"] = Json::array();
  if (details) out["details"] = Json::array();
  for (std::size_t i = 0; i < outcome.files(); ++i) {
    const std::uint32_t tail = qve_run_file_unsigned_first(run, i);
    const Json unsignedLines =
        tail != 0 ? Json{{"first", tail}, {"last", qve_run_file_unsigned_last(run, i)}}
                  : Json(nullptr);
    const int verdict = qve_run_file_verdict(run, i);
    if (outcome.Listed(i)) {
      out["files"].push_back({{"name", qve_run_file_name(run, i)},
                              {"path", qve_run_file_path(run, i)},
                              {"verdict", qve_result_name(QVE_RESULT_OF_FILE, verdict)},
                              {"verdictCode", verdict},
                              {"unsignedLines", unsignedLines}});
    }
    if (!details) continue;
    Json blocks = Json::array();
    for (const BlockRow& block : outcome.blocks[i]) {
      blocks.push_back({{"verdict", qve_result_name(QVE_RESULT_OF_BLOCK, block.verdict)},
                        {"verdictCode", block.verdict},
                        {"firstLine", block.lines.first},
                        {"lastLine", block.lines.last}});
    }
    const std::string follows = qve_run_file_break_follows(run, i);
    out["details"].push_back({{"path", qve_run_file_path(run, i)},
                              {"name", qve_run_file_name(run, i)},
                              {"blockCount", qve_run_file_blocks(run, i)},
                              {"badBlockCount", qve_run_file_bad_blocks(run, i)},
                              {"unsignedLines", unsignedLines},
                              {"breakFollows", follows.empty() ? Json(nullptr) : Json(follows)},
                              {"blocks", std::move(blocks)}});
  }
  for (const VerifyWarning& warning : outcome.warnings) {
    out["warnings"].push_back(
        {{"path", warning.path}, {"message", warning.message}, {"unverified", warning.unverified}});
  }
  out["checkpoint"] = nullptr;
  if (const auto& kept = outcome.record) {
    const auto point = [&](int at, bool whole) {
      if (!Known(run, at)) return Json(nullptr);
      Json json = {{"file", qve_run_point_file(run, at)},
                   {"line", qve_run_point_line(run, at)},
                   {"id", qve_run_point_id(run, at)}};
      if (!whole) return json;
      json["chainValue"] = PointHex(qve_run_point_chain_value, run, at);
      json["start"] = PointHex(qve_run_point_start, run, at);
      json["time"] = qve_run_point_time(run, at);
      json["grew"] = qve_run_point_grew(run, at);
      return json;
    };
    std::uint32_t filesLeft = 0, linesLeft = 0;
    const bool left = qve_run_checkpoint_history_left(run, &filesLeft, &linesLeft) != 0;
    Json oldest = nullptr;
    if (Known(run, QVE_POINT_OLDEST)) {
      oldest = {{"file", qve_run_point_file(run, QVE_POINT_OLDEST)},
                {"line", qve_run_point_line(run, QVE_POINT_OLDEST)},
                {"chainValue", PointHex(qve_run_point_chain_value, run, QVE_POINT_OLDEST)}};
    }
    const std::string givesUp = GivesUpText(outcome);
    const int checkpoint = qve_run_checkpoint(run);
    // As the text says it: what was not written is held, or not created.
    out["checkpoint"] = {
        {"file", kept->file},
        {"status", checkpoint == QVE_CHECKPOINT_LOST ? "lost"
                   : !kept->written ? (Known(run, QVE_POINT_RECORDED) ? "held" : "not created")
                   : checkpoint == QVE_CHECKPOINT_EXTENDED ? "extended"
                                                           : "new"},
        {"readOnly", kept->readOnly},
        {"written", kept->written},
        {"error", kept->failed != 0 ? Json(kept->notWritten) : Json(nullptr)},
        {"startsLater", qve_run_checkpoint_starts_later(run) != 0},
        {"recorded", point(QVE_POINT_RECORDED, true)},
        {"held", point(QVE_POINT_HELD, false)},
        {"now", point(QVE_POINT_NOW, true)},
        {"oldest", std::move(oldest)},
        {"historyLeft", left ? Json{{"files", filesLeft}, {"lines", linesLeft}} : Json(nullptr)},
        {"historyShrunk", qve_run_checkpoint_shrunk(run) != 0},
        {"stale", qve_run_checkpoint_stale(run) != 0},
        {"accepted", kept->accepted && kept->written},
        {"givesUp", givesUp.empty() ? Json(nullptr) : Json(givesUp)}};
  }
  out["strict"] = outcome.strict ? Json::array() : Json(nullptr);
  for (std::size_t i = 0; outcome.strict && i < qve_run_strict_count(run); ++i) {
    out["strict"].push_back(
        {{"path", qve_run_strict_path(run, i)},
         {"reason", qve_result_name(QVE_RESULT_OF_STRICT, qve_run_strict_reason(run, i))},
         {"message", qve_run_strict_text(run, i)}});
  }
  return out;
}

void MakeRecoverable(nlohmann::ordered_json& json) {
  if (json.is_object()) {
    // An error is the text output's line, escaped already.
    for (auto& [key, member] : json.items())
      if (key != "error") MakeRecoverable(member);
    return;
  }
  if (json.is_array()) {
    for (auto& member : json) MakeRecoverable(member);
    return;
  }
  if (!json.is_string()) return;
  const std::string& text = json.get_ref<const std::string&>();
  // One that holds a backslash too: "a\\xe9" must not read as byte E9.
  if (platform::NamesHoldBackslash() && text.find('\\') != std::string::npos) {
    json = Escaped(text);
    return;
  }
  for (std::size_t at = 0, length; at < text.size(); at += length) {
    char32_t c = 0;
    length = platform::DecodeUtf8(std::string_view(text).substr(at), &c);
    if (length == 0) {
      json = Escaped(text);
      return;
    }
  }
}

std::string PointText(qve_run* run, int point) {
  return Escaped(qve_run_point_file(run, point)) + " line " +
         std::to_string(qve_run_point_line(run, point)) + " (id " +
         std::to_string(qve_run_point_id(run, point)) + ")";
}

std::string CheckpointText(const VerifyOutcome& outcome) {
  qve_run* run = outcome.get();
  const RecordKept& kept = *outcome.record;
  const std::string file = Escaped(kept.file);
  if (qve_run_checkpoint(run) == QVE_CHECKPOINT_LOST) {
    return "CheckpointLost (" + std::to_string(QVE_STATUS_CHECKPOINT_LOST) +
           "): " + PointText(run, QVE_POINT_RECORDED) + ", recorded " +
           Escaped(qve_run_point_time(run, QVE_POINT_RECORDED)) +
           ", is no longer in the chain: what was verified before has been removed or rolled "
           "back; " +
           file + (kept.written ? " is replaced (--accept)" : " is kept");
  }
  // The recorded block by the name its file has now.
  const bool recorded = Known(run, QVE_POINT_RECORDED);
  std::string was;
  if (recorded) {
    was = PointText(run, QVE_POINT_RECORDED);
    if (Renamed(run))
      was += ", now " + Escaped(qve_run_point_file(run, QVE_POINT_HELD)) + " line " +
             std::to_string(qve_run_point_line(run, QVE_POINT_HELD));
  }
  if (!kept.written) {
    return (recorded ? "Checkpoint held: " + was + "; " : "Checkpoint not created: ") + file +
           " is not written: " + kept.notWritten;
  }
  if (!recorded) return "Checkpoint new: " + PointText(run, QVE_POINT_NOW) + ", written to " + file;
  if (PointHex(qve_run_point_chain_value, run, QVE_POINT_NOW) ==
      PointHex(qve_run_point_chain_value, run, QVE_POINT_RECORDED))
    return "Checkpoint extended: " + was + ", nothing newer; written to " + file;
  return "Checkpoint extended: " + was + (Renamed(run) ? ", to " : " to ") +
         PointText(run, QVE_POINT_NOW) + ", written to " + file;
}

std::string GivesUpText(const VerifyOutcome& outcome) {
  qve_run* run = outcome.get();
  if (!outcome.record || !outcome.record->accepted || !outcome.record->written ||
      !Known(run, QVE_POINT_RECORDED))
    return "";
  if (qve_run_checkpoint(run) == QVE_CHECKPOINT_LOST) {
    return "the record gives up " + PointText(run, QVE_POINT_RECORDED) + ", recorded " +
           Escaped(qve_run_point_time(run, QVE_POINT_RECORDED)) +
           ", which the chain no longer holds, and all it vouched for before it";
  }
  std::uint32_t files = 0, lines = 0;
  if (qve_run_checkpoint_history_left(run, &files, &lines) == 0 || files + lines == 0) return "";
  std::string text = "the record gives up " + Counted(files, "file") + " (" +
                     Counted(lines, "line") + ") of history at the old end";
  if (Known(run, QVE_POINT_OLDEST))
    text += ", from " + Escaped(qve_run_point_file(run, QVE_POINT_OLDEST)) + " line " +
            std::to_string(qve_run_point_line(run, QVE_POINT_OLDEST)) + " on";
  return text;
}

void WriteCheckpointNotices(const VerifyOutcome& outcome, std::ostream& out) {
  qve_run* run = outcome.get();
  const std::string file = Escaped(outcome.record->file) + ": ";
  const std::string notice = "notice: " + file;
  if (const std::string givesUp = GivesUpText(outcome); !givesUp.empty())
    out << notice << "--accept: " << givesUp << "\n";
  if (qve_run_checkpoint(run) == QVE_CHECKPOINT_LOST) return;
  if (Renamed(run)) {
    out << notice << "the recorded block " << PointText(run, QVE_POINT_RECORDED) << " is now in "
        << Escaped(qve_run_point_file(run, QVE_POINT_HELD)) << ": a rotation renamed files\n";
  }
  std::uint32_t files = 0, lines = 0;
  if (qve_run_checkpoint_history_left(run, &files, &lines) != 0) {
    out << notice << "the run starts later than the recorded one: " << Counted(files, "file")
        << " (" << Counted(lines, "line") << ") of the recorded history left its old end\n";
  } else if (qve_run_checkpoint_starts_later(run) != 0) {
    out << notice << "the run starts later than the recorded one: the oldest files are gone\n";
  }
  WriteRecordWarnings(outcome, out);
}

void WriteRecordWarnings(const VerifyOutcome& outcome, std::ostream& out) {
  qve_run* run = outcome.get();
  const std::string file = Escaped(outcome.record->file) + ": ";
  // Under --strict these are reasons of the policy, listed with the others;
  // what --accept gave up is its notice's.
  if (outcome.strict) return;
  if (qve_run_checkpoint_shrunk(run) != 0 && GivesUpText(outcome).empty()) {
    out << "warning: " << file
        << "more files left the old end of the chain than arrived at its new end since the "
           "record, more than a rotation takes; the record keeps its oldest block, "
        << Escaped(qve_run_point_file(run, QVE_POINT_OLDEST)) << " line "
        << qve_run_point_line(run, QVE_POINT_OLDEST) << ", until --accept\n";
  }
  if (qve_run_checkpoint_stale(run) != 0) {
    out << "warning: " << file << "the chain has not grown since "
        << Escaped(qve_run_point_grew(run, QVE_POINT_RECORDED)) << " (--stale-after)\n";
  }
}

}  // namespace qve::cli
