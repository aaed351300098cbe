// SPDX-License-Identifier: Apache-2.0
#include "cli/verify_outcome.h"

#include <algorithm>

#include "cli/command_line.h"
#include "report/verdicts.h"

namespace qve::cli {

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
    case 0:
    case 1:
    case 2:
    case 3:
      return ReportResultName(static_cast<std::uint32_t>(status));
    case kCheckpointLost:
      return "CheckpointLost";
    case kStrictPolicyFailed:
      return "StrictPolicyFailed";
    case kIncomplete:
      return "Incomplete";
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
  return "Unknown";
}

nlohmann::ordered_json ToJson(const VerifyOutcome& outcome, bool details) {
  using Json = nlohmann::ordered_json;
  Json out;
  if (!outcome.path.empty()) out["path"] = outcome.path;
  const int status = ChainStatusOf(outcome);
  out["exitStatus"] = status;
  out["status"] = StatusName(status);
  out["result"] = ReportResultName(outcome.result);
  out["resultCode"] = outcome.result;
  out["totalFiles"] = outcome.totalFiles;
  out["badFiles"] = outcome.badFiles;
  out["order"] = !outcome.linkOrder ? "name" : outcome.seams ? "links, with seams" : "links";
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
    out["details"].push_back(
        {{"path", file.path},
         {"name", file.name},
         {"blockCount", file.detail.counts.blockCount},
         {"badBlockCount", file.detail.counts.badBlockCount},
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
    static constexpr const char* kReasons[] = {
        "FileUnsigned",         "UnsignedLines", "EmptySignatureLine", "BytesAfterNul",
        "BytesAfterEndOfInput", "NameCase",      "Unverified"};
    out["strict"] = Json::array();
    for (const StrictFinding& finding : *outcome.strict) {
      out["strict"].push_back({{"path", finding.path},
                               {"reason", kReasons[static_cast<int>(finding.reason)]},
                               {"message", finding.message}});
    }
  }
  return out;
}

}  // namespace qve::cli
