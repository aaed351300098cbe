// SPDX-License-Identifier: Apache-2.0
// qvehelper verify: verifies signed logs as one chain (or, with --each, every
// PATH as its own chain) and prints a verdict per file. Reads the block
// details that the exported interface does not show, and warns about all
// that a verdict cannot: what the scan passed over, files that do not read,
// files reached twice, bytes that no signature covers and files whose links
// say something their names do not. On top of the library's verdicts it may
// order the files by their links, hold the chain to a checkpoint and apply
// the strict policy.
#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <filesystem>
#include <iostream>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "cli/command_line.h"
#include "cli/escape.h"
#include "cli/html_report.h"
#include "cli/output_file.h"
#include "cli/progress.h"
#include "cli/standard_input.h"
#include "cli/verify_checkpoint.h"
#include "cli/verify_links.h"
#include "cli/verify_outcome.h"
#include "platform/file_status.h"
#include "platform/folder_walk.h"
#include "platform/paths.h"
#include "report/system_log_name.h"
#include "report/verification_report.h"

namespace {

using qve::BlockResult;
using qve::cli::Escaped;
using qve::cli::Narrow;
using qve::cli::VerifyOutcome;
using qve::cli::VerifyWarning;

struct VerifyArguments {
  bool includeOk = false;
  bool details = false;
  bool json = false;
  bool quiet = false;
  bool each = false;
  unsigned jobs = 0;
  std::optional<std::string> html;
  std::string order = "name";
  std::string checkpoint;
  bool checkpointGiven = false;
  std::string checkpointDir;
  bool checkpointDirGiven = false;
  bool strict = false;
  std::vector<std::string> paths;
};

// One chain to verify: the files found for its PATH arguments and what was
// said while finding them.
struct Chain {
  std::string path;  // the PATH with --each
  std::vector<std::wstring> files;
  std::vector<VerifyWarning> warnings;
  std::vector<VerifyWarning> caseOnly;  // names that are a log's but for case
  std::map<std::pair<std::uint64_t, std::uint64_t>, std::string> seen;
  std::vector<qve::cli::OutputInput> read;  // what the outputs must not replace
  // With a checkpoint: its FILE, how messages call it, and what it recorded.
  std::string checkpoint;
  std::string checkpointLabel;
  std::optional<qve::cli::CheckpointRecord> recorded;
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
    chain.read.push_back({shown, status});
  }
  if (status.kind == qve::platform::FileKind::Other) {
    chain.warnings.push_back({shown, "is " + status.what + ", not a regular file; FileUnsigned"});
  } else if (const std::error_code why = qve::platform::ReadError(path)) {
    chain.warnings.push_back(
        {shown, "cannot be read (" + qve::platform::ErrorText(why) + "); FileUnsigned"});
  } else if (!qve::platform::ToNarrow(path)) {
    chain.warnings.push_back(
        {shown,
         "cannot be read (the name is not valid UTF-16: an unpaired surrogate); FileUnsigned"});
  }
  // The library's reader refuses the whole run for a path it cannot take.
  chain.files.push_back(qve::platform::NarrowablePath(path));
}

void Collect(Chain& chain, const std::wstring& argument) {
  if (qve::platform::StatusOf(argument).kind != qve::platform::FileKind::Folder) {
    // The chain's order is that of the names as stored, whatever was typed.
    AddCandidate(chain, qve::platform::NameAsStored(argument));
    return;
  }
  qve::platform::WalkFolder(
      argument,
      [&](const std::wstring& path, const std::wstring& name) {
        if (qve::IsSystemLogName(name)) {
          AddCandidate(chain, path);
        } else if (const char* rule = qve::SystemLogNameButForCase(name)) {
          chain.caseOnly.push_back(
              {Narrow(path),
               std::string("not verified: the name differs from ") + rule + " in case"});
          chain.warnings.push_back(chain.caseOnly.back());
        }
      },
      [&](const qve::platform::SkippedEntry& entry) {
        // A link, FIFO or device is passed over like any file that is not a
        // log, unless its name says it would have been verified.
        using qve::platform::SkipReason;
        if ((entry.reason == SkipReason::Link || entry.reason == SkipReason::NotRegular) &&
            !qve::IsSystemLogName(entry.name))
          return;
        chain.warnings.push_back({entry.shown, qve::cli::SkippedText(entry)});
      },
      qve::platform::NotUtf8Names::Carry);
}

struct Verified {
  qve::VerificationReport report;
  VerifyOutcome outcome;
  std::unique_ptr<qve::cli::PageGatherer> page;  // with --html
  qve::cli::PageLimits pageLimits;
  qve::cli::ChainSeen seen;  // with a checkpoint
  std::string failure;       // what the library threw, if it did
};

// `chains` share the page's room for lines.
void Verify(Chain& chain, const VerifyArguments& args, std::size_t chains, Verified& out) {
  VerifyOutcome& outcome = out.outcome;
  outcome.path = chain.path;
  outcome.linkOrder = args.order == "links";
  outcome.warnings = std::move(chain.warnings);
  outcome.caseOnly = std::move(chain.caseOnly);
  qve::RunOptions options;
  std::vector<qve::VerifyObserver*> observers;
  if (args.html) {
    out.pageLimits.excerptBytes /= std::max<std::size_t>(chains, 1);
    out.page = std::make_unique<qve::cli::PageGatherer>(out.pageLimits);
    options = out.pageLimits.Gathering();
    observers.push_back(out.page.get());
  }
  std::optional<qve::cli::CheckpointWatch> watch;
  if (!chain.checkpoint.empty()) observers.push_back(&watch.emplace(chain.recorded));
  qve::cli::OutcomeBuilder builder(outcome, args.includeOk, args.details, observers);
  try {
    // The library's own run, on the order the links give.
    for (const auto& path : outcome.linkOrder ? qve::cli::SortByLinks(chain.files) : chain.files)
      out.report.AddFile(path);
    outcome.result = out.report.VerifyWith(
        args.includeOk, builder,
        outcome.linkOrder ? qve::RunOrder::AsListed : qve::RunOrder::ByName, options);
  } catch (const std::exception& e) {
    out.failure = e.what();
    return;
  }
  outcome.totalFiles = out.report.TotalFiles();
  outcome.badFiles = out.report.NumberOfBadFiles();
  qve::cli::WarnAboutLinks(outcome);
  if (watch) out.seen = watch->seen();
}

void PrintText(const VerifyOutcome& outcome, const VerifyArguments& args, std::ostream& out) {
  std::map<std::string, int> names;
  for (const auto& file : outcome.files) ++names[file.name];
  const std::string indent = args.each ? "  " : "";
  for (const auto& file : outcome.files) {
    if (file.listed) {
      out << indent << qve::FileVerdictName(file.verdict) << ' '
          << Escaped(names[file.name] > 1 ? file.path : file.name) << '\n';
    }
    if (args.details) {
      out << indent << "  " << Escaped(file.path) << ": "
          << qve::cli::Counted(file.detail.counts.blockCount, "block") << ", "
          << file.detail.counts.badBlockCount << " bad\n";
      for (const BlockResult& block : file.blocks) {
        out << indent << "    " << qve::BlockVerdictName(block.verdict) << " lines "
            << block.firstLine << '-' << block.lastLine;
        if (&block == &file.blocks.front() && !file.breakFollows.empty())
          out << ": follows from " << Escaped(file.breakFollows) << ", which cannot be read";
        out << '\n';
      }
    }
  }
  out << (args.each ? Escaped(outcome.path) + ": " : "") << qve::ReportResultName(outcome.result)
      << " (" << outcome.result << "): " << qve::cli::Counted(outcome.totalFiles, "file") << ", "
      << outcome.badFiles << " bad\n";
  if (outcome.checkpoint) out << indent << qve::cli::CheckpointText(*outcome.checkpoint) << '\n';
  if (outcome.strict && !outcome.strict->empty()) {
    out << indent << "StrictPolicyFailed (" << qve::cli::kStrictPolicyFailed
        << "): " << qve::cli::Counted(outcome.strict->size(), "reason") << '\n';
    for (const qve::cli::StrictFinding& finding : *outcome.strict)
      out << indent << "  " << Escaped(finding.path) << ": " << Escaped(finding.message) << '\n';
  }
}

// Judges the run by the policy and the checkpoint asked for, and records the
// checkpoint when the run passes; gives the error of writing it, if any.
std::optional<qve::cli::CommandError> Judge(Verified& verified, const Chain& chain,
                                            const VerifyArguments& args,
                                            const std::vector<qve::cli::OutputInput>& read) {
  VerifyOutcome& outcome = verified.outcome;
  if (args.strict) outcome.strict = qve::cli::StrictFindings(outcome);
  if (chain.checkpoint.empty()) return std::nullopt;
  const std::string failing = outcome.badFiles > 0 ? "the run has bad files"
                              : outcome.strict && !outcome.strict->empty()
                                  ? "the strict policy fails"
                                  : "";
  qve::cli::CheckpointOutcome& checkpoint = outcome.checkpoint.emplace(
      qve::cli::JudgeCheckpoint(chain.checkpoint, chain.recorded, verified.seen, failing));
  if (checkpoint.status == qve::cli::CheckpointStatus::Lost || !checkpoint.notWritten.empty())
    return std::nullopt;
  try {
    qve::cli::OutputFile file(chain.checkpointLabel, chain.checkpoint, read);
    file.Write([&](std::ostream& out) { out << qve::cli::CheckpointFileText(*checkpoint.now); });
    file.Commit();
  } catch (const qve::cli::CommandError& e) {
    checkpoint.notWritten = e.what();
    return e;
  }
  checkpoint.written = true;
  return std::nullopt;
}

// Gives its exit status. `out` is standard error when the page goes to
// standard output.
int Show(Verified& verified, const Chain& chain, const VerifyArguments& args,
         const std::vector<qve::cli::OutputInput>& read, std::ostream& out) {
  if (!verified.failure.empty()) {
    std::cerr << qve::cli::ProgramName() << " verify: " << verified.failure << '\n';
    return qve::cli::kSoftwareError;
  }
  const std::optional<qve::cli::CommandError> notRecorded = Judge(verified, chain, args, read);
  const VerifyOutcome& outcome = verified.outcome;
  int status = qve::cli::ExitStatusOf(outcome);
  if (notRecorded) {
    std::cerr << qve::cli::ProgramName() << " verify: " << notRecorded->what() << '\n';
    status = std::max(status, notRecorded->status);
  }
  if (args.quiet) return status;
  if (args.json) {
    const auto json = qve::cli::ToJson(outcome, args.details);
    std::cout << json.dump(args.each ? -1 : 2, ' ', false,
                           nlohmann::ordered_json::error_handler_t::replace)
              << '\n';
  } else {
    for (const VerifyWarning& warning : outcome.warnings)
      qve::cli::Warn(warning.path, warning.message);
    if (outcome.checkpoint && outcome.checkpoint->startsLater) {
      std::cerr << "notice: " << Escaped(outcome.checkpoint->file)
                << ": the run starts later than the recorded one: the oldest files were rotated "
                   "away\n";
    }
    PrintText(outcome, args, out);
  }
  return status;
}

// Every chain on up to `jobs` threads of its own, while this one shows each as
// soon as it and all before it are done, so the output keeps the order of the
// arguments.
int RunChains(std::vector<Chain>& chains, const VerifyArguments& args, qve::cli::OutputFile* html,
              const std::vector<qve::cli::OutputInput>& read) {
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
      Verify(chains[i], args, chains.size(), *verified);
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
    status = std::max(status, progress.Aside([&] {
      return Show(*verified, chains[i], args, read,
                  html != nullptr && html->toStandardOutput() ? std::cerr : std::cout);
    }));
    if (html != nullptr && verified->failure.empty()) {
      page.push_back(
          {std::move(verified->outcome), std::move(verified->page->files), verified->pageLimits});
    }
  }
  for (auto& worker : workers) worker.join();
  if (html != nullptr) {
    html->Write([&](std::ostream& out) { qve::cli::WriteHtmlReport(out, page); });
    html->Commit();
  }
  return status;
}

// The name a PATH's record takes in --checkpoint-dir: its last component.
std::string RecordName(const std::wstring& path) {
  namespace fs = std::filesystem;
  fs::path normal = fs::path(path).lexically_normal();
  if (!normal.has_filename()) normal = normal.parent_path();  // "dev42/"
  std::wstring name = normal.filename().wstring();
  if (name.empty() || name == L"." || name == L"..") {
    std::error_code error;
    name = fs::weakly_canonical(fs::absolute(normal, error), error).filename().wstring();
  }
  return Narrow(name);
}

int RunVerify(const VerifyArguments& args) {
  std::vector<std::wstring> paths;
  std::vector<qve::cli::OutputInput> read;
  std::string missing;
  for (const auto& arg : args.paths) {
    qve::cli::RefuseStandardStream(arg, "PATH");
    std::wstring wide = qve::platform::ArgumentPath(arg);
    const qve::platform::FileStatus status = qve::platform::StatusOf(wide);
    if (status.kind == qve::platform::FileKind::Missing)
      missing += (missing.empty() ? "" : "\n") + Escaped(arg) + ": " +
                 qve::platform::ErrorText(status.error);
    read.push_back({arg, status});
    paths.push_back(std::move(wide));
  }
  if (!missing.empty()) throw qve::cli::CommandError(qve::cli::kNoInput, missing);
  if (args.checkpointGiven && args.each && paths.size() > 1)
    throw qve::cli::CommandError(qve::cli::kUsageError,
                                 "--checkpoint keeps the record of one chain; with --each and "
                                 "several PATHs, --checkpoint-dir keeps one for each");
  if (args.checkpointDirGiven && args.checkpointDir.empty())
    throw qve::cli::CommandError(qve::cli::kUsageError, "--checkpoint-dir must not be empty");
  std::vector<Chain> chains(args.each ? paths.size() : 1);
  std::set<std::string> recordNames;
  for (std::size_t i = 0; i < paths.size(); ++i) {
    Chain& chain = chains[args.each ? i : 0];
    if (args.each) chain.path = args.paths[i];
    Collect(chain, paths[i]);
    if (!args.checkpointDirGiven) continue;
    const std::string name = RecordName(paths[i]);
    if (name.empty())
      throw qve::cli::CommandError(
          qve::cli::kUsageError,
          "--checkpoint-dir: " + Escaped(args.paths[i]) + " has no name to call its record by");
    chain.checkpoint = args.checkpointDir + "/" + name + ".checkpoint";
    chain.checkpointLabel = "--checkpoint-dir";
    if (!recordNames.insert(chain.checkpoint).second)
      throw qve::cli::CommandError(qve::cli::kUsageError,
                                   "--checkpoint-dir: two PATHs are called " + Escaped(name) +
                                       ", and so would be their records");
  }
  if (args.checkpointGiven) {
    chains[0].checkpoint = args.checkpoint;
    chains[0].checkpointLabel = "--checkpoint";
  }
  for (const Chain& chain : chains) read.insert(read.end(), chain.read.begin(), chain.read.end());
  // Every output is checked before any work, and a record is read now: it
  // is written only after a run that passes.
  std::vector<qve::cli::OutputInput> records;
  for (Chain& chain : chains) {
    if (!args.checkpointGiven && !args.checkpointDirGiven) break;
    if (args.html && chain.checkpoint == *args.html)
      throw qve::cli::CommandError(
          qve::cli::kUsageError,
          "--html and " + chain.checkpointLabel + " name one file, " + Escaped(*args.html));
    { const qve::cli::OutputFile probe(chain.checkpointLabel, chain.checkpoint, read); }
    chain.recorded = qve::cli::ReadCheckpoint(chain.checkpoint);
    records.push_back({chain.checkpointLabel + " " + chain.checkpoint,
                       qve::platform::StatusOf(qve::platform::ArgumentPath(chain.checkpoint))});
  }
  // The page must not replace anything it reports on, nor a record.
  std::optional<qve::cli::OutputFile> html;
  if (args.html) {
    records.insert(records.end(), read.begin(), read.end());
    html.emplace("--html", *args.html, records, true);
    if (html->toStandardOutput() && args.json)
      throw qve::cli::CommandError(qve::cli::kUsageError,
                                   "the page and --json cannot both go to standard output");
  }
  return RunChains(chains, args, html ? &*html : nullptr, read);
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
      CLI::Option* each = cmd.add_flag(
          "--each", args->each, "verify every PATH as a chain of its own, with its own report");
      qve::cli::AddJobsOption(cmd, args->jobs, "with --each, chains verified at once")
          ->needs(each)
          ->capture_default_str();
      cmd.add_option("--order", args->order,
                     "verify the files in order of their names, as the library does, or in "
                     "the order their signature blocks link")
          ->check(CLI::IsMember({"name", "links"}))
          ->capture_default_str();
      CLI::Option* checkpoint =
          cmd.add_option("--checkpoint", args->checkpoint,
                         "the chain must still hold the newest block recorded in FILE; a run "
                         "that passes records its own")
              ->type_name("FILE");
      const CLI::Option* checkpointDir =
          cmd.add_option("--checkpoint-dir", args->checkpointDir,
                         "with --each, one checkpoint per PATH in DIR, named after the PATH's "
                         "last component")
              ->type_name("DIR")
              ->needs(each)
              ->excludes(checkpoint);
      cmd.add_flag("--strict", args->strict,
                   "fail with 5 on signatures stripped, unsigned lines but at the newest file's "
                   "end, empty signature lines, bytes after a NUL or 0x1A, and log names that "
                   "differ in case");
      cmd.add_option("PATH", args->paths, "log files and folders")->required();
      using qve::cli::ExitStatus;
      cmd.footer(qve::cli::ExitStatusHelp({
          {0, "ReportOk"},
          {1, 1, "ReportUnsigned: nothing signed was found"},
          {2, 2, "ReportSomeInvalid"},
          {3, 3, "ReportAllInvalid"},
          {4, 4, "CheckpointLost: the chain no longer holds the block the checkpoint recorded"},
          {5, 5,
           "StrictPolicyFailed: --strict found a reason to fail (of 0-5 the highest that "
           "applies; with --each, of all PATHs)"},
          {qve::cli::kUsageError,
           "--html or a checkpoint naming a file to verify, -j without --each, or the page to "
           "standard output with --json, among others"},
          {qve::cli::kDataError,
           "a checkpoint that is damaged, of another version or for another chain"},
          {qve::cli::kNoInput,
           "a PATH does not exist, or a checkpoint cannot be read; nothing was verified"},
          {qve::cli::kCannotCreate, "the --html page or a checkpoint"},
          {qve::cli::kOutputError, "standard output, the --html page or a checkpoint"},
      }));
      return std::function<int()>([args, checkpoint, checkpointDir] {
        args->checkpointGiven = checkpoint->count() > 0;
        args->checkpointDirGiven = checkpointDir->count() > 0;
        args->paths = qve::cli::ExpandPathArguments(args->paths);
        return RunVerify(*args);
      });
    });

}  // namespace
