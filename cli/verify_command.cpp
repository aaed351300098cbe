// qvehelper verify: verifies signed logs as one chain (or, with --each, every
// PATH as its own chain) and prints a verdict per file. Reads the block
// details that the exported interface does not show, and warns about all
// that a verdict cannot: what the scan passed over, files that do not read,
// files reached twice and bytes that no signature covers.
#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <iostream>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "cli/command_line.h"
#include "cli/html_report.h"
#include "cli/progress.h"
#include "cli/verify_outcome.h"
#include "platform/file_status.h"
#include "platform/folder_scan.h"
#include "platform/paths.h"
#include "report/system_log_name.h"
#include "report/verdicts.h"
#include "report/verification_report.h"

namespace {

using qve::BlockResult;
using qve::FileCheckResult;
using qve::cli::VerifyOutcome;
using qve::cli::VerifyWarning;

struct VerifyArguments {
  bool includeOk = false;
  bool details = false;
  bool json = false;
  bool quiet = false;
  bool each = false;
  unsigned jobs = 0;
  std::string html;
  std::vector<std::string> paths;
};

std::string Narrow(const std::wstring& text) { return qve::platform::ToNarrow(text).value_or("?"); }

// Text output shows names as they are only where nothing in them can pass
// for something else: control and invisible characters are escaped.
std::string Escaped(std::string_view text) {
  static constexpr char kHex[] = "0123456789abcdef";
  std::string out;
  for (std::size_t i = 0; i < text.size();) {
    const auto byte = static_cast<unsigned char>(text[i]);
    // The shortest run of bytes that is one UTF-8 character, if any is.
    std::size_t length = 1;
    std::optional<std::wstring> wide;
    for (; length <= 4 && i + length <= text.size(); ++length) {
      if ((wide = qve::platform::ToWide(text.substr(i, length)))) break;
    }
    if (!wide) {
      out += "\\x";
      out += kHex[byte >> 4];
      out += kHex[byte & 15];
      ++i;
      continue;
    }
    const auto c = static_cast<char32_t>((*wide)[0]);
    // A backslash stays: it separates Windows paths, and it cannot start a line.
    if (c == '\n') {
      out += "\\n";
    } else if (c == '\t') {
      out += "\\t";
    } else if (c == '\r') {
      out += "\\r";
    } else if (c < 0x20 || c == 0x7F) {
      out += "\\x";
      out += kHex[c >> 4];
      out += kHex[c & 15];
    } else if ((c >= 0x80 && c <= 0x9F) || (c >= 0x200B && c <= 0x200F) ||
               (c >= 0x2028 && c <= 0x202E) || (c >= 0x2060 && c <= 0x2069) || c == 0xFEFF) {
      char code[16];
      std::snprintf(code, sizeof code, "\\u{%04x}", static_cast<unsigned>(c));
      out += code;
    } else {
      out.append(text.substr(i, length));
    }
    i += length;
  }
  return out;
}

// One chain to verify: the files found for its PATH arguments and what was
// said while finding them.
struct Chain {
  std::string path;  // the PATH with --each
  std::vector<std::wstring> files;
  std::vector<VerifyWarning> warnings;
  std::map<std::pair<std::uint64_t, std::uint64_t>, std::string> seen;
};

void AddCandidate(Chain& chain, const std::wstring& path) {
  const std::string shown = Narrow(path);
  const qve::platform::FileStatus status = qve::platform::StatusOf(path);
  if (status.kind != qve::platform::FileKind::Missing) {
    const auto [at, added] = chain.seen.emplace(std::pair(status.device, status.file), shown);
    if (!added) {
      chain.warnings.push_back({shown, "the same file as " + at->second + "; verified once"});
      return;
    }
  }
  if (status.kind == qve::platform::FileKind::Other) {
    chain.warnings.push_back({shown, "is " + status.what + ", not a regular file; FileUnsigned"});
  } else if (const std::string why = qve::platform::WhyUnreadable(path); !why.empty()) {
    chain.warnings.push_back({shown, "cannot be read (" + why + "); FileUnsigned"});
  }
  chain.files.push_back(path);
}

void Collect(Chain& chain, const std::wstring& argument) {
  if (qve::platform::StatusOf(argument).kind != qve::platform::FileKind::Folder) {
    AddCandidate(chain, argument);
    return;
  }
  qve::platform::ScanFolder(
      argument,
      [&](const std::wstring& path, const std::wstring& name) {
        if (qve::IsSystemLogName(name)) AddCandidate(chain, path);
      },
      [&](const std::string& shown, const std::wstring& name, qve::platform::Skipped why,
          const std::string& reason) {
        // A link, FIFO or device is passed over like any file that is not a
        // log, unless its name says it would have been verified.
        if ((why == qve::platform::Skipped::Link || why == qve::platform::Skipped::NotRegular) &&
            !qve::IsSystemLogName(name))
          return;
        chain.warnings.push_back({shown, "skipped: " + reason});
      });
}

void WarnUnseenBytes(const qve::cli::VerifiedFile& file, std::vector<VerifyWarning>& out) {
  const FileCheckResult& result = *file.result;
  if (const BlockResult* tail = qve::cli::UnsignedTail(result)) {
    out.push_back({file.path, tail->firstLine == tail->lastLine
                                  ? "line " + std::to_string(tail->firstLine) + " is not signed"
                                  : "lines " + std::to_string(tail->firstLine) + "-" +
                                        std::to_string(tail->lastLine) + " are not signed"});
  }
  if (result.linesWithBytesAfterNul > 0) {
    std::string message = "line " + std::to_string(result.firstLineWithBytesAfterNul) +
                          ": bytes after a NUL are not signed";
    if (result.linesWithBytesAfterNul > 1)
      message += " (and on " + std::to_string(result.linesWithBytesAfterNul - 1) + " more lines)";
    out.push_back({file.path, message});
  }
  if (result.endOfInputLine > 0) {
    out.push_back({file.path, "line " + std::to_string(result.endOfInputLine) +
                                  ": data after an end-of-input byte (0x1A) is not read"});
  }
}

// Owns the report whose results the outcome points into.
struct Verified {
  qve::VerificationReport report;
  VerifyOutcome outcome;
  std::string failure;  // what the library threw, if it did
};

void Verify(Chain& chain, bool includeOk, Verified& out) {
  for (const auto& path : chain.files) out.report.AddFile(path);
  VerifyOutcome& outcome = out.outcome;
  outcome.path = chain.path;
  outcome.warnings = std::move(chain.warnings);
  try {
    outcome.result = out.report.Verify(includeOk);
  } catch (const std::exception& e) {
    out.failure = e.what();
    return;
  }
  outcome.totalFiles = out.report.TotalFiles();
  outcome.badFiles = out.report.NumberOfBadFiles();
  const auto& results = out.report.verifier().results;
  std::size_t record = 0;
  for (std::size_t i = 0; i < results.size(); ++i) {
    qve::cli::VerifiedFile file;
    file.path = Narrow(out.report.files()[i]);
    file.name = Narrow(results[i].fileName);
    file.result = &results[i];
    file.listed = includeOk || qve::FileVerdictOf(results[i]) != QVE_Helper::FileOk;
    if (file.listed) file.verdict = out.report.GetFileReport(std::uint32_t(record++)).verdict;
    WarnUnseenBytes(file, outcome.warnings);
    outcome.files.push_back(std::move(file));
  }
}

std::string Files(std::uint32_t count) {
  return std::to_string(count) + (count == 1 ? " file" : " files");
}

void PrintText(const VerifyOutcome& outcome, const VerifyArguments& args) {
  std::map<std::string, int> names;
  for (const auto& file : outcome.files) ++names[file.name];
  const std::string indent = args.each ? "  " : "";
  for (const auto& file : outcome.files) {
    if (file.listed) {
      std::cout << indent << qve::cli::FileVerdictName(file.verdict) << ' '
                << Escaped(names[file.name] > 1 ? file.path : file.name) << '\n';
    }
    if (args.details) {
      std::cout << indent << "  " << Escaped(file.path) << ": " << file.result->blockCount
                << " blocks, " << file.result->badBlockCount << " bad\n";
      for (const BlockResult& block : file.result->blocks) {
        std::cout << indent << "    " << qve::cli::BlockVerdictName(block.verdict) << " lines "
                  << block.firstLine << '-' << block.lastLine << '\n';
      }
    }
  }
  std::cout << (args.each ? Escaped(outcome.path) + ": " : "")
            << qve::cli::ReportResultName(outcome.result) << " (" << outcome.result
            << "): " << Files(outcome.totalFiles) << ", " << outcome.badFiles << " bad\n";
}

// Gives its exit status.
int Show(const Verified& verified, const VerifyArguments& args) {
  if (!verified.failure.empty()) {
    std::cerr << qve::cli::ProgramName() << " verify: " << verified.failure << '\n';
    return qve::cli::kSoftwareError;
  }
  const VerifyOutcome& outcome = verified.outcome;
  if (args.quiet) return static_cast<int>(outcome.result);
  if (args.json) {
    const auto json = qve::cli::ToJson(outcome, args.details);
    std::cout << json.dump(args.each ? -1 : 2, ' ', false,
                           nlohmann::ordered_json::error_handler_t::replace)
              << '\n';
  } else {
    for (const VerifyWarning& warning : outcome.warnings) {
      std::cerr << "warning: " << Escaped(warning.path) << ": " << Escaped(warning.message) << '\n';
    }
    PrintText(outcome, args);
  }
  return static_cast<int>(outcome.result);
}

// Every chain on up to `jobs` threads of its own, while this one shows each as
// soon as it and all before it are done, so the output keeps the order of the
// arguments.
int RunChains(std::vector<Chain>& chains, const VerifyArguments& args) {
  std::vector<std::unique_ptr<Verified>> done(chains.size());
  std::mutex mutex;
  std::condition_variable finished;
  std::atomic<std::size_t> next{0}, count{0};
  qve::cli::Progress progress(args.each && !args.quiet && !args.json,
                              qve::cli::Progress::Unit::Chains, chains.size(),
                              [&] { return count.load(); });
  auto work = [&] {
    for (std::size_t i; (i = next++) < chains.size();) {
      auto verified = std::make_unique<Verified>();
      Verify(chains[i], args.includeOk, *verified);
      const std::lock_guard<std::mutex> lock(mutex);
      done[i] = std::move(verified);
      ++count;
      finished.notify_all();
    }
  };
  const unsigned jobs = std::max(1u, std::min<unsigned>(args.jobs, unsigned(chains.size())));
  std::vector<std::thread> workers;
  for (unsigned j = 0; j < jobs; ++j) workers.emplace_back(work);
  int status = 0;
  std::vector<qve::cli::HtmlChain> page;
  for (std::size_t i = 0; i < chains.size(); ++i) {
    std::unique_ptr<Verified> verified;
    {
      std::unique_lock<std::mutex> lock(mutex);
      finished.wait(lock, [&] { return done[i] != nullptr; });
      verified = std::move(done[i]);
    }
    status = std::max(status, progress.Aside([&] { return Show(*verified, args); }));
    if (!args.html.empty() && verified->failure.empty()) {
      page.push_back({qve::cli::ToJson(verified->outcome, true), verified->report.files(),
                      verified->outcome.path});
    }
  }
  for (auto& worker : workers) worker.join();
  std::string error;
  if (!args.html.empty() && !qve::cli::WriteHtmlReport(args.html, page, &error)) {
    std::cerr << qve::cli::ProgramName() << " verify: " << error << '\n';
    return qve::cli::kCannotCreate;
  }
  return status;
}

int RunVerify(const VerifyArguments& args) {
  std::vector<std::wstring> paths;
  bool missing = false;
  for (const auto& arg : args.paths) {
    auto wide = qve::platform::ToWide(arg);
    if (!wide) {
      std::cerr << qve::cli::ProgramName() << " verify: not a UTF-8 path: " << Escaped(arg) << '\n';
      return qve::cli::kUsageError;
    }
    const qve::platform::FileStatus status = qve::platform::StatusOf(*wide);
    if (status.kind == qve::platform::FileKind::Missing) {
      std::cerr << qve::cli::ProgramName() << " verify: " << Escaped(arg) << ": "
                << qve::platform::ErrorText(status.error) << '\n';
      missing = true;
    }
    paths.push_back(std::move(*wide));
  }
  if (missing) return qve::cli::kNoInput;
  std::vector<Chain> chains(args.each ? paths.size() : 1);
  for (std::size_t i = 0; i < paths.size(); ++i) {
    Chain& chain = chains[args.each ? i : 0];
    if (args.each) chain.path = args.paths[i];
    Collect(chain, paths[i]);
  }
  return RunChains(chains, args);
}

const bool kRegistered = qve::cli::RegisterCommand(
    "verify",
    "Verifies signed system logs as one chain. A folder adds every system.log and System_*.log "
    "below it; a file reached twice is verified once.",
    [](CLI::App& cmd) {
      auto args = std::make_shared<VerifyArguments>();
      args->jobs = std::max(1u, std::thread::hardware_concurrency());
      cmd.add_flag("--include-ok", args->includeOk, "list FileOk files too");
      cmd.add_flag("--details", args->details,
                   "show every block that is not BlockOk, with its lines, per verified file");
      cmd.add_flag("--json", args->json,
                   "print one JSON object (with --each, one object per line for each PATH)");
      cmd.add_option("--html", args->html,
                     "also write the verification as one self-contained HTML page")
          ->type_name("REPORT.html");
      cmd.add_flag("-q,--quiet", args->quiet, "print nothing; only the exit status tells");
      cmd.add_flag("--each", args->each,
                   "verify every PATH as a chain of its own, with its own report");
      cmd.add_option("-j,--jobs", args->jobs, "with --each, chains verified at once")
          ->check(CLI::Range(1u, 4096u))
          ->capture_default_str();
      cmd.add_option("PATH", args->paths, "log files and folders")->required();
      cmd.footer(
          qve::cli::ExitStatusHelp("  0   ReportOk\n"
                                   "  1   ReportUnsigned: nothing signed was found\n"
                                   "  2   ReportSomeInvalid\n"
                                   "  3   ReportAllInvalid (with --each: the worst of all PATHs)\n"
                                   "  64  a usage error\n"
                                   "  66  a PATH does not exist; nothing was verified\n"
                                   "  70  an internal failure\n"
                                   "  73  the --html page cannot be written\n"
                                   "  74  standard output does not take the report\n"));
      return std::function<int()>([args] { return RunVerify(*args); });
    });

}  // namespace
