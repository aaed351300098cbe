#include "cli/verify_outcome.h"

namespace qve::cli {

// Only an unsigned tail is recorded as BlockUnsigned, and always last.
const BlockResult* UnsignedTail(const FileCheckResult& result) {
  if (result.blocks.empty() || result.blocks.back().verdict != BlockUnsigned) return nullptr;
  return &result.blocks.back();
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
    const BlockResult* tail = UnsignedTail(*file.result);
    const Json unsignedLines =
        tail ? Json{{"first", tail->firstLine}, {"last", tail->lastLine}} : Json(nullptr);
    if (file.listed) {
      out["files"].push_back({{"name", file.name},
                              {"path", file.path},
                              {"verdict", FileVerdictName(file.verdict)},
                              {"verdictCode", file.verdict},
                              {"unsignedLines", unsignedLines}});
    }
    if (!details) continue;
    Json blocks = Json::array();
    for (const BlockResult& block : file.result->blocks) {
      blocks.push_back({{"verdict", BlockVerdictName(block.verdict)},
                        {"verdictCode", block.verdict},
                        {"firstLine", block.firstLine},
                        {"lastLine", block.lastLine}});
    }
    out["details"].push_back({{"path", file.path},
                              {"name", file.name},
                              {"blockCount", file.result->blockCount},
                              {"badBlockCount", file.result->badBlockCount},
                              {"unsignedLines", unsignedLines},
                              {"blocks", std::move(blocks)}});
  }
  for (const VerifyWarning& warning : outcome.warnings) {
    out["warnings"].push_back({{"path", warning.path}, {"message", warning.message}});
  }
  return out;
}

}  // namespace qve::cli
