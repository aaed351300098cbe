// qvehelper verify: verifies signed logs as one chain and prints a verdict per
// file. Reads the block details that the exported interface does not show,
// so a service engineer can find the lines that do not verify.
#include <iostream>
#include <memory>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "cli/command_line.h"
#include "cli/html_report.h"
#include "platform/folder_walk.h"
#include "platform/paths.h"
#include "report/verdicts.h"
#include "report/verification_report.h"

namespace {

using qve::BlockResult;
using qve::FileCheckResult;

// Internal exit status for a failure inside the verification itself.
constexpr int kSoftwareError = 70;
// Exit status when the --html page cannot be written.
constexpr int kCannotCreateOutput = 73;

struct VerifyArguments {
  bool includeOk = false;
  bool details = false;
  bool json = false;
  bool quiet = false;
  std::string html;
  std::vector<std::string> paths;
};

const char* FileVerdictName(std::uint32_t verdict) {
  static constexpr const char* kNames[] = {"FileOk", "FileUnsigned", "FileChainBreak",
                                           "FileInvalid"};
  return verdict < 4 ? kNames[verdict] : "FileUnknown";
}

const char* ReportResultName(std::uint32_t result) {
  static constexpr const char* kNames[] = {"ReportOk", "ReportUnsigned", "ReportSomeInvalid",
                                           "ReportAllInvalid"};
  return result < 4 ? kNames[result] : "ReportUnknown";
}

const char* BlockVerdictName(std::int32_t verdict) {
  static constexpr const char* kNames[] = {"BlockOk",      "BlockUnsigned",   "BlockNoSignature",
                                           "BlockInvalid", "BlockChainBreak", "BlockUnexpected"};
  return verdict >= 0 && verdict < 6 ? kNames[verdict] : "BlockUnknown";
}

std::string Utf8(const std::wstring& text) { return qve::platform::ToNarrow(text).value_or("?"); }

// Only an unsigned tail is recorded as BlockUnsigned, and always last.
const BlockResult* UnsignedTail(const FileCheckResult& result) {
  if (result.blocks.empty() || result.blocks.back().verdict != qve::BlockUnsigned) return nullptr;
  return &result.blocks.back();
}

bool IsListed(const FileCheckResult& result, bool includeOk) {
  return includeOk || qve::FileVerdictOf(result) != QVE_Helper::FileOk;
}

void PrintText(qve::VerificationReport& report, std::uint32_t result, const VerifyArguments& args) {
  const auto& results = report.verifier().results;
  std::size_t record = 0;
  for (std::size_t i = 0; i < results.size(); ++i) {
    const FileCheckResult& file = results[i];
    const std::string path = Utf8(report.files()[i]);
    if (IsListed(file, args.includeOk)) {
      const QVE_Helper::FileReport& listed = report.GetFileReport(std::uint32_t(record++));
      std::cout << FileVerdictName(listed.verdict) << ' ' << Utf8(listed.name) << '\n';
    }
    if (args.details) {
      std::cout << "  " << path << ": " << file.blockCount << " blocks, " << file.badBlockCount
                << " bad\n";
      for (const BlockResult& block : file.blocks) {
        std::cout << "    " << BlockVerdictName(block.verdict) << " lines " << block.firstLine
                  << '-' << block.lastLine << '\n';
      }
    }
    if (const BlockResult* tail = UnsignedTail(file)) {
      std::cerr << "warning: " << path << ": lines " << tail->firstLine << '-' << tail->lastLine
                << " are not signed\n";
    }
  }
  std::cout << ReportResultName(result) << " (" << result << "): " << report.TotalFiles()
            << " files, " << report.NumberOfBadFiles() << " bad\n";
}

nlohmann::ordered_json JsonReport(qve::VerificationReport& report, std::uint32_t result,
                                  bool details) {
  nlohmann::ordered_json out;
  out["result"] = ReportResultName(result);
  out["resultCode"] = result;
  out["totalFiles"] = report.TotalFiles();
  out["badFiles"] = report.NumberOfBadFiles();
  out["files"] = nlohmann::ordered_json::array();
  for (std::size_t i = 0; i < report.GetFileReportCount(); ++i) {
    const QVE_Helper::FileReport& listed = report.GetFileReport(std::uint32_t(i));
    out["files"].push_back({{"name", Utf8(listed.name)},
                            {"verdict", FileVerdictName(listed.verdict)},
                            {"verdictCode", listed.verdict}});
  }
  if (details) {
    out["details"] = nlohmann::ordered_json::array();
    const auto& results = report.verifier().results;
    for (std::size_t i = 0; i < results.size(); ++i) {
      const FileCheckResult& file = results[i];
      nlohmann::ordered_json blocks = nlohmann::ordered_json::array();
      for (const BlockResult& block : file.blocks) {
        blocks.push_back({{"verdict", BlockVerdictName(block.verdict)},
                          {"verdictCode", block.verdict},
                          {"firstLine", block.firstLine},
                          {"lastLine", block.lastLine}});
      }
      out["details"].push_back({{"path", Utf8(report.files()[i])},
                                {"name", Utf8(file.fileName)},
                                {"blockCount", file.blockCount},
                                {"badBlockCount", file.badBlockCount},
                                {"blocks", std::move(blocks)}});
    }
  }
  return out;
}

int RunVerify(const VerifyArguments& args) {
  std::vector<std::wstring> paths;
  for (const auto& arg : args.paths) {
    auto wide = qve::platform::ToWide(arg);
    if (!wide) {
      std::cerr << "qvehelper verify: not a UTF-8 path: " << arg << '\n';
      return qve::cli::kUsageError;
    }
    paths.push_back(std::move(*wide));
  }
  qve::VerificationReport report;
  for (const auto& path : paths) {
    if (qve::platform::IsFolder(path)) {
      report.AddFileInFolder(path);
    } else {
      report.AddFile(path);
    }
  }
  std::uint32_t result = 0;
  try {
    result = report.Verify(args.includeOk);
  } catch (const std::exception& e) {
    std::cerr << "qvehelper verify: " << e.what() << '\n';
    return kSoftwareError;
  }
  std::string error;
  if (!args.html.empty() &&
      !qve::cli::WriteHtmlReport(args.html, {{JsonReport(report, result, true), report.files()}},
                                 &error)) {
    std::cerr << "qvehelper verify: " << error << '\n';
    return kCannotCreateOutput;
  }
  if (args.quiet) return static_cast<int>(result);
  if (args.json) {
    std::cout << JsonReport(report, result, args.details).dump(2) << '\n';
  } else {
    PrintText(report, result, args);
  }
  return static_cast<int>(result);
}

const bool kRegistered = qve::cli::RegisterCommand(
    "verify",
    "Verifies signed system logs as one chain. A folder adds every system.log and System_*.log "
    "below it. Exit status: 0 ReportOk, 1 ReportUnsigned, 2 ReportSomeInvalid, 3 "
    "ReportAllInvalid.",
    [](CLI::App& cmd) {
      auto args = std::make_shared<VerifyArguments>();
      cmd.add_flag("--include-ok", args->includeOk, "list FileOk files too");
      cmd.add_flag("--details", args->details,
                   "show every block that is not BlockOk, with its lines, per verified file");
      cmd.add_flag("--json", args->json, "print one JSON object");
      cmd.add_option("--html", args->html,
                     "also write the verification as one self-contained HTML page")
          ->type_name("REPORT.html");
      cmd.add_flag("-q,--quiet", args->quiet, "print nothing; only the exit status tells");
      cmd.add_option("PATH", args->paths, "log files and folders")->required();
      return std::function<int()>([args] { return RunVerify(*args); });
    });

}  // namespace
