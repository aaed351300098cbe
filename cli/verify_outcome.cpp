#include "cli/verify_outcome.h"

#include <utility>

#include "report/verdicts.h"

namespace qve::cli {

namespace {

void WarnUnseenBytes(const VerifiedFile& file, std::vector<VerifyWarning>& out) {
  const FileDetail& detail = file.detail;
  if (const auto& tail = detail.unsignedTail) {
    out.push_back({file.path, LinesText(*tail) + (tail->first == tail->last ? " is" : " are") +
                                  " not signed"});
  }
  if (const BytesAfterNul& nul = detail.afterNul; nul.lines > 0) {
    std::string message =
        "line " + std::to_string(nul.firstLine) + ": bytes after a NUL are not signed";
    if (nul.lines > 1) message += " (and on " + std::to_string(nul.lines - 1) + " more lines)";
    out.push_back({file.path, message});
  }
  if (detail.changedWhileRead) {
    out.push_back({file.path, "changed while it was read " + std::to_string(detail.reading) +
                                  " times; the verdict is that of the last reading"});
  }
  if (const auto& end = detail.endOfInput) {
    out.push_back({file.path, "line " + std::to_string(end->line) +
                                  ": data after an end-of-input byte (0x1A) is not read"});
  }
}

}  // namespace

OutcomeBuilder::OutcomeBuilder(VerifyOutcome& outcome, bool includeOkFiles, bool keepBlocks,
                               VerifyObserver* next)
    : outcome_(outcome), includeOkFiles_(includeOkFiles), keepBlocks_(keepBlocks), next_(next) {}

void OutcomeBuilder::OnFileStart(const FileDetail& file) {
  blocks_.clear();
  if (next_ != nullptr) next_->OnFileStart(file);
}

void OutcomeBuilder::OnBlock(const FileDetail& file, const BlockDetail& block) {
  if (keepBlocks_ && block.verdict != BlockOk)
    blocks_.push_back({block.verdict, block.lines.first, block.lines.last});
  if (next_ != nullptr) next_->OnBlock(file, block);
}

void OutcomeBuilder::OnFileEnd(const FileDetail& file) {
  VerifiedFile verified;
  verified.path = Narrow(file.path);
  verified.name = Narrow(file.name);
  verified.verdict = FileVerdictOf(file.counts);
  verified.listed = IsListed(verified.verdict, includeOkFiles_);
  verified.detail = file;
  verified.blocks = std::move(blocks_);
  WarnUnseenBytes(verified, outcome_.warnings);
  outcome_.files.push_back(std::move(verified));
  if (next_ != nullptr) next_->OnFileEnd(file);
}

std::string RangeText(LineRange lines, std::string_view dash) {
  if (lines.first >= lines.last) return std::to_string(lines.last);
  return std::to_string(lines.first) + std::string(dash) + std::to_string(lines.last);
}

std::string LinesText(LineRange lines, std::string_view dash) {
  return (lines.first >= lines.last ? "line " : "lines ") + RangeText(lines, dash);
}

std::string Counted(std::uint64_t count, std::string_view noun) {
  return std::to_string(count) + " " + std::string(noun) + (count == 1 ? "" : "s");
}

nlohmann::ordered_json ToJson(const VerifyOutcome& outcome, bool details) {
  using Json = nlohmann::ordered_json;
  Json out;
  if (!outcome.path.empty()) out["path"] = outcome.path;
  out["result"] = ReportResultName(outcome.result);
  out["resultCode"] = outcome.result;
  out["totalFiles"] = outcome.totalFiles;
  out["badFiles"] = outcome.badFiles;
  out["files"] = Json::array();
  out["warnings"] = Json::array();
  if (details) out["details"] = Json::array();
  for (const VerifiedFile& file : outcome.files) {
    const auto& tail = file.detail.unsignedTail;
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
    for (const BlockResult& block : file.blocks) {
      blocks.push_back({{"verdict", BlockVerdictName(block.verdict)},
                        {"verdictCode", block.verdict},
                        {"firstLine", block.firstLine},
                        {"lastLine", block.lastLine}});
    }
    out["details"].push_back({{"path", file.path},
                              {"name", file.name},
                              {"blockCount", file.detail.counts.blockCount},
                              {"badBlockCount", file.detail.counts.badBlockCount},
                              {"unsignedLines", unsignedLines},
                              {"blocks", std::move(blocks)}});
  }
  for (const VerifyWarning& warning : outcome.warnings) {
    out["warnings"].push_back({{"path", warning.path}, {"message", warning.message}});
  }
  return out;
}

}  // namespace qve::cli
