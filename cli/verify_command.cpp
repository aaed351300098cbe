// SPDX-License-Identifier: Apache-2.0
// qvehelper verify: verifies signed logs as one chain (or, with --each, every
// PATH as its own chain) through the library's run, and prints a verdict per
// file with a warning for all that a verdict cannot say. The command keeps
// each chain's checkpoint record where the options say, under its lock, and
// shows the run as text, JSON or a page; a chain's status is the most severe
// of all.
#include <algorithm>
#include <atomic>
#include <cctype>
#include <chrono>
#include <filesystem>
#include <iostream>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>

#include "cli/frame.h"
#include "cli/html_report.h"
#include "cli/jobs.h"
#include "cli/verify_metrics.h"
#include "cli/verify_outcome.h"
#include "command/output_file.h"
#include "command/progress.h"
#include "command/standard_input.h"
#include "platform/file_lock.h"
#include "platform/file_status.h"
#include "platform/files.h"
#include "platform/paths.h"

namespace qve::cli {

using command::OutputFile;
using command::OutputInput;
using command::Progress;
using command::RefuseForeignLink;
using command::RefuseStandardStream;

namespace {

// The ways to name a chain's record: one, or one per PATH in a folder;
// read-only or not. Each excludes those before it.
struct RecordOption {
  const char* name;
  const char* help;
  bool dir;
  bool readOnly;
};

constexpr RecordOption kRecordOptions[] = {
    {"--checkpoint",
     "the chain must still hold the newest block recorded in FILE; a run that passes records its "
     "own",
     false, false},
    {"--checkpoint-dir",
     "with --each, one checkpoint per PATH in DIR, named after the PATH's last component", true,
     false},
    {"--checkpoint-read-only", "as --checkpoint, but FILE is never written and no lock is taken",
     false, true},
    {"--checkpoint-dir-read-only",
     "as --checkpoint-dir, but no record is written and no lock is taken", true, true},
};

struct VerifyArguments {
  bool includeOk = false;
  bool details = false;
  bool json = false;
  bool quiet = false;
  bool each = false;
  unsigned jobs = 0;
  std::optional<std::string> html;
  std::optional<std::string> metrics;
  std::string order = "links";
  const RecordOption* record = nullptr;   // the one given
  std::optional<std::string> checkpoint;  // its FILE or DIR
  bool checkpointInit = false;
  unsigned wait = 300;
  bool strict = false;
  bool accept = false;
  unsigned staleAfter = 0;   // days; 0: not asked
  unsigned maxUnsigned = 0;  // lines; 0: the longest signed block
  std::vector<std::string> paths;
};

constexpr std::size_t kLargestRecord = 1 << 16;
constexpr std::chrono::milliseconds kLockPoll{100};

// One chain to verify: its PATH arguments, the run that found their files,
// and its record.
//
// The record never goes back: a run that may write it holds an exclusive
// lock on FILE.lock for all its work, so overlapping runs (cron) take turns,
// and before it puts its record in place it reads FILE again and writes only
// if FILE still holds what the run was judged against (a writer that takes
// no lock may have replaced it). The new record reaches the disk before it
// takes FILE's name. A read-only record is read and never locked or written.
struct Chain {
  std::vector<std::pair<std::wstring, std::string>> sources;
  RunHandle run{nullptr, qve_run_free};   // the next run, its PATHs added
  std::vector<std::string> empty;         // PATHs that hold no log
  std::optional<std::string> recordFile;  // where it has a record
  std::unique_ptr<platform::FileLock> lock;
  std::optional<std::string> recorded;  // FILE's bytes as last read; nothing: made anew
  qve_loan* pool = nullptr;             // workers for its runs' blocks, with -j above 1
  // What keeps the chain from being verified, or ended its work (the library
  // failed); nothing else is shown then. With --each it is the chain's
  // result and the others go on.
  std::optional<CommandError> error;
  // Why its record cannot be written (its folder is read-only, full, ...):
  // the chain is verified all the same, and this is said with it.
  std::optional<CommandError> recordError;
  std::atomic<std::uint64_t>* read = nullptr;  // bytes of its files read, for the progress line
  VerifyOutcome outcome;                       // its path with --each
  std::unique_ptr<PageGatherer> page;          // with --html
  PageLimits pageLimits;
};

// Every reason is said; the status is the worst of them.
void Fail(Chain& chain, const CommandError& error) {
  chain.error = !chain.error ? error
                             : CommandError(WorseStatus(chain.error->status, error.status),
                                            std::string(chain.error->what()) + "\n" + error.what());
}

// Takes the lock on the chain's record, unless read-only. Throws
// CommandError: kBusy when another run holds it past `deadline`;
// kCannotCreate when the lock file cannot be opened or locked.
void LockRecord(Chain& chain, const VerifyArguments& args,
                std::chrono::steady_clock::time_point deadline) {
  const std::string& file = *chain.recordFile;
  if (args.record->readOnly) return;
  // A record that must exist and does not fails when it is read; no lock
  // file is left for it.
  if (!args.checkpointInit &&
      platform::IsNotFound(platform::StatusOf(platform::ArgumentPath(file)).error))
    return;
  const std::wstring lockFile = platform::ArgumentPath(file + ".lock");
  const std::string called =
      "the lock file " + Escaped(file + ".lock") + " of " + args.record->name;
  RefuseForeignLink(called, lockFile);
  std::error_code error;
  std::unique_ptr<platform::FileLock> lock = platform::FileLock::Open(lockFile, error);
  if (!lock) throw CommandError(kCannotCreate, called + ": " + platform::ErrorText(error));
  while (!lock->TryLock(error)) {
    if (error) throw CommandError(kCannotCreate, called + ": " + platform::ErrorText(error));
    const auto now = std::chrono::steady_clock::now();
    if (now >= deadline) {
      throw CommandError(kBusy, "another run holds " + called + " " + Escaped(file) +
                                    "; gave up after waiting " + std::to_string(args.wait) +
                                    " s (--wait)");
    }
    std::this_thread::sleep_for(
        std::min(kLockPoll, std::chrono::duration_cast<std::chrono::milliseconds>(deadline - now)));
  }
  chain.lock = std::move(lock);
}

// Reads the record's bytes, which the library judges: nothing when it does
// not exist and may be created. Throws CommandError: kNoInput when it cannot
// be read or does not exist and must; kDataError when it is no file or
// larger than any record.
void ReadRecord(Chain& chain, const VerifyArguments& args) {
  const std::wstring path = platform::ArgumentPath(*chain.recordFile);
  const platform::FileStatus status = platform::StatusOf(path);
  const std::string called = "checkpoint " + Escaped(*chain.recordFile);
  chain.recorded.reset();
  if (status.kind == platform::FileKind::Missing) {
    if (!platform::IsNotFound(status.error))
      throw CommandError(kNoInput, called + ": " + platform::ErrorText(status.error));
    if (args.checkpointInit) return;
    const char* hint = args.record->readOnly ? "" : "; --checkpoint-init creates a missing record";
    throw CommandError(kNoInput, called + " does not exist" + hint);
  }
  if (status.kind != platform::FileKind::Regular)
    throw CommandError(kDataError, called + " is " + status.what + ", not a regular file");
  platform::FileStream in;
  if (!platform::OpenForReading(in, path))
    throw CommandError(
        kNoInput, called + " cannot be read: " + platform::ErrorText(platform::ReadError(path)));
  std::string text(kLargestRecord + 1, '\0');
  in.read(text.data(), std::streamsize(text.size()));
  text.resize(std::size_t(in.gcount()));
  if (in.bad()) throw CommandError(kNoInput, called + " cannot be read");
  if (text.size() > kLargestRecord)
    throw CommandError(kDataError,
                       called + " is damaged: larger than any record; it is left as it is");
  chain.recorded = std::move(text);
}

// Puts `record`, a record's bytes, in place if FILE still holds what was
// read, and gives true; else false, and ReadRecord finds what it holds now.
// Throws CommandError as OutputFile does.
bool ReplaceRecord(Chain& chain, const VerifyArguments& args, const std::string& record,
                   const std::vector<OutputInput>& inputs) {
  const std::optional<std::string> started = chain.recorded;
  try {
    ReadRecord(chain, args);
  } catch (const CommandError&) {
    // What replaced it is judged by the next reading, which says what is wrong.
    return false;
  }
  if (chain.recorded != started) return false;
  OutputFile out(args.record->name, *chain.recordFile, inputs, false, chain.lock != nullptr);
  out.Write([&](std::ostream& stream) { stream << record; });
  // Checked once more as it is replaced: a writer without the lock may act
  // between the reading above and this.
  if (!out.CommitIfUnchanged(chain.recorded)) return false;
  chain.recorded = record;
  return true;
}

// A run of the chain with its PATHs added; what cannot be used fails the
// chain.
void Prepare(Chain& chain, const VerifyArguments& args) {
  qve_run_options options{};
  options.size = sizeof options;
  options.order = args.order == "links" ? QVE_ORDER_LINKS : QVE_ORDER_NAME;
  options.strict = args.strict ? 1 : 0;
  options.excerpt_lines = args.html ? chain.pageLimits.linesPerBlock : 0;
  options.excerpt_line_bytes = chain.pageLimits.bytesPerLine;
  options.loan = chain.pool;
  options.max_unsigned_lines = args.maxUnsigned;
  options.stale_after_days = args.staleAfter;
  options.accept = args.accept ? 1 : 0;
  qve_run* made = nullptr;
  if (const int code = qve_run_create(&options, &made); code != 0) throw std::bad_alloc();
  chain.run.reset(made);
  chain.empty.clear();
  for (const auto& [wide, argument] : chain.sources) {
    const int code = qve_run_add_w(made, wide.c_str());
    if (code == QVE_ERROR_NO_LOG) {
      chain.empty.push_back(argument);
    } else if (code == QVE_ERROR_NO_MEMORY) {
      throw std::bad_alloc();
    } else if (code != 0) {
      const std::string why = *qve_run_refusal(made) != '\0'
                                  ? qve_run_refusal(made)
                                  : qve_result_name(QVE_RESULT_OF_RUN, code);
      Fail(chain, CommandError(kNoInput, Escaped(argument) + ": " + why));
    }
  }
}

// Holds the chain's next run to its record. Throws CommandError kDataError
// for a record the library refuses.
void HoldToRecord(Chain& chain) {
  const int code =
      chain.recorded
          ? qve_run_set_record(chain.run.get(), chain.recorded->data(), chain.recorded->size(), 0)
          : qve_run_set_record(chain.run.get(), nullptr, 0, QVE_RECORD_INIT);
  if (code == QVE_ERROR_NO_MEMORY) throw std::bad_alloc();
  if (code != 0) {
    throw CommandError(kDataError, "checkpoint " + Escaped(*chain.recordFile) + " " +
                                       qve_run_refusal(chain.run.get()) + "; it is left as it is");
  }
}

// Counts the bytes of the chain's files read, for the progress line, and
// passes the run's events on.
class ReadCounter final : public BlockSink {
 public:
  ReadCounter(std::atomic<std::uint64_t>& read, BlockSink* next) : read_(read), next_(next) {}
  void OnRestart() override {
    finished_ = size_ = 0;
    read_ = 0;
    if (next_ != nullptr) next_->OnRestart();
  }
  void OnFileStart(qve_run* run) override {
    if (qve_run_event_reading(run) == 1) finished_ += size_;
    size_ = platform::StatusOf(platform::ArgumentPath(qve_run_event_path(run))).size;
    read_ = finished_;
    if (next_ != nullptr) next_->OnFileStart(run);
  }
  void OnBlock(qve_run* run) override {
    // A .gz's offsets are of its content, larger than the file.
    read_ = finished_ + std::min<std::uint64_t>(qve_run_block_offset(run), size_);
    if (next_ != nullptr) next_->OnBlock(run);
  }

 private:
  std::atomic<std::uint64_t>& read_;
  BlockSink* next_;
  std::uint64_t finished_ = 0, size_ = 0;
};

// Verifies the chain and, with a record, replaces the record when the run
// passes. Should the record have changed meanwhile (a writer that takes no
// lock), the chain is verified again against the new one. `chains` share
// the page's room for lines.
void VerifyChain(Chain& chain, const VerifyArguments& args, std::size_t chains,
                 const std::vector<OutputInput>& read) {
  constexpr int kAttempts = 3;
  VerifyOutcome& outcome = chain.outcome;
  chain.pageLimits.excerptBytes /= std::max<std::size_t>(chains, 1);
  for (int attempt = 1;; ++attempt) {
    outcome.run = std::move(chain.run);
    if (args.html) chain.page = std::make_unique<PageGatherer>(chain.pageLimits);
    qve_run* const run = outcome.get();
    std::optional<ReadCounter> counter;
    if (chain.read != nullptr) counter.emplace(*chain.read, chain.page.get());
    if (const int code =
            ReadRun(outcome, args.details, counter ? &*counter : (BlockSink*)chain.page.get())) {
      if (code == QVE_ERROR_NO_MEMORY) throw std::bad_alloc();
      chain.error = CommandError(kSoftwareError, std::string("the verification failed: ") +
                                                     qve_result_name(QVE_RESULT_OF_RUN, code));
      return;
    }
    if (!chain.recordFile) return;
    RecordKept& checkpoint = outcome.record.emplace();
    checkpoint.file = *chain.recordFile;
    checkpoint.readOnly = args.record->readOnly;
    checkpoint.accepted = args.accept;
    if (chain.recordError) {
      checkpoint.notWritten = chain.recordError->what();
      checkpoint.failed = chain.recordError->status;
      return;
    }
    // --accept rewrites even a record whose block is lost.
    if (qve_run_checkpoint(run) == QVE_CHECKPOINT_LOST && !args.accept) return;
    checkpoint.notWritten =
        checkpoint.readOnly ? "it is read-only here" : qve_run_checkpoint_not_recorded(run);
    if (!checkpoint.notWritten.empty()) return;
    std::size_t length = 0;
    const std::uint8_t* bytes = qve_run_record(run, &length);
    try {
      const std::string record(reinterpret_cast<const char*>(bytes), length);
      if (ReplaceRecord(chain, args, record, read)) {
        checkpoint.written = true;
        return;
      }
      if (attempt == kAttempts) {
        throw CommandError(kBusy, "checkpoint " + Escaped(*chain.recordFile) +
                                      " kept changing while the chain was verified");
      }
      // Again, against what the record holds now.
      ReadRecord(chain, args);
      Prepare(chain, args);
      if (chain.error) return;
      HoldToRecord(chain);
    } catch (const CommandError& e) {
      checkpoint.notWritten = e.what();
      checkpoint.failed = e.status;
      return;
    }
  }
}

void PrintText(const VerifyOutcome& outcome, int status, const VerifyArguments& args,
               std::ostream& out) {
  qve_run* run = outcome.get();
  std::map<std::string, int> names;
  for (std::size_t i = 0; i < outcome.files(); ++i) ++names[qve_run_file_name(run, i)];
  const std::string indent = args.each ? "  " : "";
  for (std::size_t i = 0; i < outcome.files(); ++i) {
    const std::string name = qve_run_file_name(run, i), path = qve_run_file_path(run, i);
    if (outcome.Listed(i)) {
      out << indent << qve_result_name(QVE_RESULT_OF_FILE, qve_run_file_verdict(run, i)) << ' '
          << Escaped(names[name] > 1 ? path : name) << '\n';
    }
    if (!args.details) continue;
    out << indent << "  " << Escaped(path) << ": " << Counted(qve_run_file_blocks(run, i), "block")
        << ", " << qve_run_file_bad_blocks(run, i) << " bad\n";
    const std::string follows = qve_run_file_break_follows(run, i);
    for (const BlockRow& block : outcome.blocks[i]) {
      out << indent << "    " << qve_result_name(QVE_RESULT_OF_BLOCK, block.verdict) << " lines "
          << block.lines.first << '-' << block.lines.last;
      if (&block == &outcome.blocks[i].front() && !follows.empty())
        out << ": follows from " << Escaped(follows) << ", which cannot be read";
      out << '\n';
    }
  }
  // The chain's status first, so that a line read alone says it.
  out << (args.each ? Escaped(outcome.path) + ": " : "")
      << StatusText(status, qve_run_result(run),
                    ": " + Counted(qve_run_total_files(run), "file") + ", " +
                        std::to_string(qve_run_bad_files(run)) + " bad")
      << '\n';
  if (outcome.record) out << indent << CheckpointText(outcome) << '\n';
  if (const std::size_t reasons = qve_run_strict_count(run); outcome.strict && reasons > 0) {
    out << indent << "StrictPolicyFailed (" << QVE_STATUS_STRICT_FAILED
        << "): " << Counted(reasons, "reason") << '\n';
    for (std::size_t i = 0; i < reasons; ++i) {
      out << indent << "  " << Escaped(qve_run_strict_path(run, i)) << ": "
          << Escaped(qve_run_strict_text(run, i)) << '\n';
    }
  }
}

// Under -q, what makes a verified chain's status other than 0, a line each
// naming its file, and the record's warnings; the notices and the other
// warnings are left out, and so is a break that follows from a file that
// cannot be read, which has its own line.
void SayProblems(const VerifyOutcome& outcome, int status) {
  qve_run* run = outcome.get();
  if (outcome.record) WriteRecordWarnings(outcome, std::cerr);
  if (status == 0) return;
  const std::string chain = outcome.path.empty() ? "" : Escaped(outcome.path) + ": ";
  if (status == 1) Say(chain + StatusText(1, 1, ": nothing signed was found"));
  for (std::size_t i = 0; i < outcome.files(); ++i) {
    const int verdict = qve_run_file_verdict(run, i);
    if (verdict == QVE_FILE_INVALID ||
        (verdict == QVE_FILE_CHAIN_BREAK && *qve_run_file_break_follows(run, i) == '\0'))
      Say(Escaped(qve_run_file_path(run, i)) + ": " + qve_result_name(QVE_RESULT_OF_FILE, verdict));
  }
  if (outcome.record && qve_run_checkpoint(run) == QVE_CHECKPOINT_LOST)
    Say(Escaped(outcome.record->file) + ": " + CheckpointText(outcome));
  for (std::size_t i = 0; outcome.strict && i < qve_run_strict_count(run); ++i)
    Say(Escaped(qve_run_strict_path(run, i)) + ": " + Escaped(qve_run_strict_text(run, i)));
  for (const VerifyWarning& warning : outcome.warnings) {
    if (warning.unverified) Say(Escaped(warning.path) + ": " + Escaped(warning.message));
  }
}

// Gives the chain's share of the run's exit status: its own, or the error
// that kept its record from being written where that ranks above it. `out`
// is standard error when the page goes to standard output. A chain that
// could not be verified shows its error, and with --each its line.
int Show(const Chain& chain, const VerifyArguments& args, std::ostream& out) {
  const VerifyOutcome& outcome = chain.outcome;
  const int status = chain.error ? chain.error->status : qve_run_status(outcome.get());
  int share = status;
  if (chain.error) {
    Say(chain.error->what());
    if (!args.each) return status;
  } else if (outcome.record && outcome.record->failed != 0) {
    Say(outcome.record->notWritten);
    share = WorseStatus(status, outcome.record->failed);
  }
  if (args.quiet) {
    if (!chain.error) SayProblems(outcome, status);
    return share;
  }
  if (args.json) {
    auto json = chain.error ? nlohmann::ordered_json{{"path", outcome.path}}
                            : ToJson(outcome, args.details);
    json["exitStatus"] = status;
    json["status"] = StatusName(status);
    if (chain.error) json["error"] = chain.error->what();
    MakeRecoverable(json);
    out << json.dump(args.each ? -1 : 2, ' ', false,
                     nlohmann::ordered_json::error_handler_t::replace)
        << '\n';
  } else if (chain.error) {
    out << Escaped(outcome.path) << ": " << StatusText(status, status, ": not verified") << '\n';
  } else {
    for (const VerifyWarning& warning : outcome.warnings) Warn(warning.path, warning.message);
    if (outcome.record) WriteCheckpointNotices(outcome, std::cerr);
    PrintText(outcome, status, args, out);
  }
  return share;
}

// Every chain on up to `jobs` threads; each is shown as soon as it and all
// before it are done, by the thread that finished the last of them, so the
// output keeps the order of the arguments.
int RunChains(std::vector<Chain>& chains, const VerifyArguments& args, OutputFile* html,
              const std::vector<OutputInput>& read, qve_loan* pool, VerifyMetrics* metrics) {
  std::vector<bool> done(chains.size());
  std::mutex mutex;
  std::size_t shown = 0;
  std::atomic<std::size_t> count{0};
  // With --each, chains done; of one chain, the bytes of its files read.
  std::atomic<std::uint64_t> bytesRead{0};
  std::uint64_t bytes = 0;
  if (!args.each && chains[0].run) {
    chains[0].read = &bytesRead;
    for (std::size_t i = 0; i < qve_run_input_count(chains[0].run.get()); ++i)
      bytes +=
          platform::StatusOf(platform::ArgumentPath(qve_run_input_path(chains[0].run.get(), i)))
              .size;
  }
  Progress progress(!args.quiet && !args.json,
                    args.each ? Progress::Unit::Chains : Progress::Unit::Bytes,
                    args.each ? chains.size() : bytes,
                    [&]() -> std::uint64_t { return args.each ? count.load() : bytesRead.load(); });
  std::optional<int> status;
  std::vector<HtmlChain> page;
  std::ostream& out = html != nullptr && html->toStandardOutput() ? std::cerr : std::cout;
  const auto verifyOne = [&](std::size_t i) {
    try {
      if (!chains[i].error) VerifyChain(chains[i], args, chains.size(), read);
    } catch (const std::exception& e) {
      chains[i].error = CommandError(kSoftwareError, e.what());
    }
    const std::lock_guard<std::mutex> lock(mutex);
    done[i] = true;
    ++count;
    for (; shown < chains.size() && done[shown]; ++shown) {
      Chain& next = chains[shown];
      const int chainStatus = progress.Aside([&] { return Show(next, args, out); });
      status = status ? WorseStatus(*status, chainStatus) : chainStatus;
      if (metrics != nullptr) metrics->Add(next.outcome, chainStatus);
      if (html != nullptr && next.error) {
        page.push_back({std::move(next.outcome), {}, next.pageLimits, next.error});
      } else if (html != nullptr) {
        page.push_back(
            {std::move(next.outcome), std::move(next.page->files), next.pageLimits, std::nullopt});
      }
      // Shown: what it found is let go.
      next.outcome = VerifyOutcome{};
      next.page.reset();
    }
    return true;
  };
  RunJobs(chains.size(), args.jobs, verifyOne, pool);
  if (html != nullptr) {
    html->Write([&](std::ostream& pageOut) { WriteHtmlReport(pageOut, page, status.value_or(0)); });
    html->Commit();
  }
  if (metrics != nullptr) metrics->Commit();
  return status.value_or(0);
}

namespace fs = std::filesystem;

// Where a path leads, whatever its spelling.
fs::path Resolved(const fs::path& path) {
  std::error_code error;
  return fs::weakly_canonical(fs::absolute(path, error), error);
}

// The name a PATH's record takes in --checkpoint-dir: its last component.
std::string RecordName(const std::wstring& path) {
  fs::path normal = platform::NativePath(path).lexically_normal();
  if (!normal.has_filename()) normal = normal.parent_path();  // "dev42/"
  fs::path name = normal.filename();
  if (name.empty() || name == "." || name == "..") name = Resolved(normal).filename();
  return ShownText(platform::FromNativePath(name));
}

// Each chain's record: locked (in one order, so two runs never wait on each
// other), read and checked writable before any work. A chain whose record
// cannot be read, or whose lock another run holds, gets the error; one whose
// record or lock cannot be written is verified all the same.
void OpenRecords(std::vector<Chain>& chains, const VerifyArguments& args,
                 const std::vector<OutputInput>& read) {
  std::vector<Chain*> locking;
  for (Chain& chain : chains) {
    if (chain.recordFile && !chain.error) locking.push_back(&chain);
  }
  // Where the locks lie, as one key whatever their spelling.
  const auto lockKey = [](const Chain* chain) {
    return Resolved(platform::NativePath(platform::ArgumentPath(*chain->recordFile + ".lock")));
  };
  std::sort(locking.begin(), locking.end(),
            [&](const Chain* a, const Chain* b) { return lockKey(a) < lockKey(b); });
  // Sets the chain's recordError when the record could not be replaced;
  // throws CommandError kUsageError for a file read. Under the lock, it
  // also removes the temporary a killed run left.
  const auto checkWritable = [&](Chain& chain) {
    if (args.record->readOnly || chain.recordError) return;
    try {
      const OutputFile probe(args.record->name, *chain.recordFile, read, false,
                             chain.lock != nullptr);
    } catch (const CommandError& e) {
      if (e.status == kUsageError) throw;
      chain.recordError = e;
    }
  };
  // Every lock by the same deadline.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(args.wait);
  for (Chain* chain : locking) {
    try {
      try {
        LockRecord(*chain, args, deadline);
      } catch (const CommandError& e) {
        if (e.status != kCannotCreate) throw;
        // A folder that is missing or takes no file says so better as the
        // record's than as its lock's.
        checkWritable(*chain);
        if (!chain->recordError) chain->recordError = e;
      }
      ReadRecord(*chain, args);
      HoldToRecord(*chain);
      checkWritable(*chain);
    } catch (const CommandError& e) {
      Fail(*chain, e);
    }
  }
}

// Ends a run whose one chain cannot be verified, with its error, and says
// so on the page in place of the one a run before left: a page green from
// last night must not stand. A page that may not go where it is asked (a
// log, a record, a folder) is not written.
[[noreturn]] void Stop(const Chain& chain, const VerifyArguments& args,
                       std::vector<OutputInput> inputs) {
  if (args.html) {
    if (chain.recordFile)
      inputs.push_back(
          {*chain.recordFile, platform::StatusOf(platform::ArgumentPath(*chain.recordFile))});
    try {
      OutputFile html("--html", *args.html, inputs, true);
      if (!html.toStandardOutput() || !args.json) {
        std::vector<HtmlChain> page(1);
        page[0].error = chain.error;
        html.Write([&](std::ostream& out) { WriteHtmlReport(out, page, chain.error->status); });
        html.Commit();
      }
    } catch (const CommandError& e) {
      if (e.status != kUsageError) Say(e.what());
    }
  }
  throw *chain.error;
}

// A folder given as one chain that holds device folders (each with a log
// of its own) is more likely a fleet than a device.
void HintEach(const VerifyArguments& args, const std::vector<std::wstring>& paths) {
  if (args.each || args.quiet) return;
  namespace fs = std::filesystem;
  const auto holdsLog = [](const fs::path& folder) {
    std::error_code error;
    for (fs::directory_iterator it(folder, error), end; !error && it != end; it.increment(error)) {
      // Compared as the system spells names: a name need not convert.
      const fs::path name = it->path().filename();
      if (name == "system.log" || name.native().starts_with(fs::path("System_").native()))
        return true;
    }
    return false;
  };
  for (std::size_t i = 0; i < paths.size(); ++i) {
    std::error_code error;
    std::size_t devices = 0;
    try {
      for (fs::directory_iterator it(platform::NativePath(paths[i]), error), end;
           !error && it != end; it.increment(error)) {
        std::error_code kind;
        if (it->is_directory(kind) && holdsLog(it->path())) ++devices;
      }
    } catch (const std::exception&) {
      continue;  // a name the library's own conversion takes; no hint is worth the run
    }
    if (devices > 1) {
      std::cerr << "notice: " << Escaped(args.paths[i]) << " holds " << devices
                << " folders with logs of their own, verified here as one chain; --each verifies "
                   "each PATH as a chain of its own\n";
    }
  }
}

// A page or metrics by a log's name would be taken for evidence by the
// next run, or replace it: refused, whether or not it is among the PATHs.
void RefuseLogName(const char* option, const std::optional<std::string>& file) {
  if (!file) return;
  std::string name = std::filesystem::path(*file).filename().string();
  for (char& c : name) c = char(std::tolower(static_cast<unsigned char>(c)));
  if (name.ends_with(".gz")) name.resize(name.size() - 3);
  if (name == "system.log" || (name.starts_with("system_") && name.ends_with(".log") &&
                               name.size() > std::string_view("system_.log").size()))
    throw CommandError(kUsageError, std::string(option) + " " + Escaped(*file) +
                                        " has a log's name; the page and the metrics never "
                                        "take the place of evidence");
}

int RunVerify(const VerifyArguments& args) {
  RefuseLogName("--html", args.html);
  RefuseLogName("--metrics", args.metrics);
  std::vector<std::wstring> paths;
  std::vector<OutputInput> read;
  for (const auto& arg : args.paths) {
    if (arg.empty()) throw CommandError(kUsageError, "PATH must not be empty");
    RefuseStandardStream(arg, "PATH");
    std::wstring wide = platform::ArgumentPath(arg);
    read.push_back({arg, platform::StatusOf(wide)});
    paths.push_back(std::move(wide));
  }
  const std::string recordOption = args.record ? args.record->name : "";
  if (args.record && !args.record->dir && args.each && paths.size() > 1)
    throw CommandError(kUsageError,
                       recordOption +
                           " keeps the record of one chain; with --each and several PATHs, "
                           "--checkpoint-dir keeps one for each");
  if (args.record && args.checkpoint->empty())
    throw CommandError(kUsageError, recordOption + " must not be empty");
  // The threads of -j go to chains and, once none is left to take, to the
  // blocks of those still running. The pool outlives the runs it serves.
  const WorkerPool pool = WorkerPoolFor(args.jobs);
  std::vector<Chain> chains(args.each ? paths.size() : 1);
  std::set<std::string> recordNames;
  for (std::size_t i = 0; i < paths.size(); ++i) {
    Chain& chain = chains[args.each ? i : 0];
    if (args.each) chain.outcome.path = args.paths[i];
    chain.sources.emplace_back(paths[i], args.paths[i]);
    if (!args.record || !args.record->dir) continue;
    const std::string name = RecordName(paths[i]);
    if (name.empty())
      throw CommandError(kUsageError, recordOption + ": " + Escaped(args.paths[i]) +
                                          " has no name to call its record by");
    const std::string file = *args.checkpoint + "/" + name + ".checkpoint";
    if (!recordNames.insert(file).second)
      throw CommandError(kUsageError, recordOption + ": two PATHs are called " + Escaped(name) +
                                          ", and so would be their records");
    chain.recordFile = file;
  }
  if (args.record && !args.record->dir) chains[0].recordFile = args.checkpoint;
  for (Chain& chain : chains) {
    chain.pool = pool.get();
    chain.outcome.includeOk = args.includeOk;
    chain.outcome.strict = args.strict;
    Prepare(chain, args);
  }
  // Without --each every PATH that cannot be used is named, and nothing is verified.
  if (!args.each && chains[0].error) Stop(chains[0], args, read);
  for (const Chain& chain : chains) {
    for (std::size_t i = 0; i < qve_run_input_count(chain.run.get()); ++i) {
      const std::string shown = qve_run_input_path(chain.run.get(), i);
      read.push_back({shown, platform::StatusOf(platform::ArgumentPath(shown))});
    }
  }
  // Every output is checked before any work, and a record is read now: it
  // is written only after a run that passes.
  std::vector<OutputInput> records;
  for (Chain& chain : chains) {
    if (!chain.recordFile) continue;
    const std::string& file = *chain.recordFile;
    if (args.html && file == *args.html)
      throw CommandError(kUsageError,
                         "--html and " + recordOption + " name one file, " + Escaped(*args.html));
    const platform::FileStatus status = platform::StatusOf(platform::ArgumentPath(file));
    for (const OutputInput& input : read) {
      if (input.status.SameFileAs(status))
        throw CommandError(kUsageError, recordOption + " " + Escaped(file) +
                                            " is the same file as " + input.shown);
    }
    records.push_back({recordOption + " " + file, status});
  }
  OpenRecords(chains, args, read);
  HintEach(args, paths);
  // With a record the run warns that a folder's blocks are lost.
  for (Chain& chain : chains) {
    if (chain.recorded) continue;
    for (const std::string& empty : chain.empty)
      Fail(chain,
           CommandError(kNoInput, Escaped(empty) + " holds no log (system.log or System_*.log)"));
  }
  if (!args.each && chains[0].error) Stop(chains[0], args, read);
  // The page must not replace anything it reports on, nor a record.
  std::optional<OutputFile> html;
  if (args.html) {
    records.insert(records.end(), read.begin(), read.end());
    html.emplace("--html", *args.html, records, true);
    if (html->toStandardOutput() && args.json)
      throw CommandError(kUsageError, "the page and --json cannot both go to standard output");
  }
  std::optional<VerifyMetrics> metrics;
  if (args.metrics) metrics.emplace(*args.metrics, records, read, args.html);
  return RunChains(chains, args, html ? &*html : nullptr, read, pool.get(),
                   metrics ? &*metrics : nullptr);
}

const bool kRegistered = RegisterCommand(
    "verify",
    "Verifies signed system logs as one chain. A folder adds every system.log and System_*.log "
    "below it, and their gzip'd rotations (.gz), read as their content; a file reached twice is "
    "verified once.",
    [](CLI::App& cmd) {
      auto args = std::make_shared<VerifyArguments>();
      args->jobs = CoreCount();
      cmd.add_flag("--include-ok", args->includeOk, "list FileOk files too");
      cmd.add_flag("--details", args->details,
                   "show every block that is not BlockOk, with its lines, per verified file");
      cmd.add_flag("--json", args->json,
                   "print one JSON object (with --each, one object per line for each PATH); "
                   "names that are not UTF-8 in the text's escape (\\xe9)");
      cmd.add_option("--html", args->html,
                     "also write the verification as one self-contained HTML page")
          ->type_name("REPORT.html");
      cmd.add_flag("-q,--quiet", args->quiet,
                   "for cron: nothing on success (an unsigned tail, a rotation's notice) but "
                   "history gone beyond rotation and a stale chain, and on failure one line per "
                   "problem, naming its file, on standard error");
      CLI::Option* each = cmd.add_flag(
          "--each", args->each, "verify every PATH as a chain of its own, with its own report");
      AddMetricsOption(cmd, args->metrics, each);
      AddJobsOption(cmd, args->jobs,
                    "threads spent on the chain's blocks (with --each, on the chains "
                    "and their blocks together)")
          ->capture_default_str();
      cmd.add_option("--order", args->order,
                     "verify the files in the order their signature blocks link (runs the links "
                     "do not join in order of names), or in order of their names, as the "
                     "library does")
          ->check(CLI::IsMember({"links", "name"}))
          ->capture_default_str();
      std::vector<CLI::Option*> records;
      for (const RecordOption& record : kRecordOptions) {
        CLI::Option* option = cmd.add_option(record.name, args->checkpoint, record.help)
                                  ->type_name(record.dir ? "DIR" : "FILE");
        if (record.dir) option->needs(each);
        for (CLI::Option* before : records) option->excludes(before);
        records.push_back(option);
      }
      cmd.add_flag(
          "--checkpoint-init", args->checkpointInit,
          "create the records that do not exist yet (without it, a missing record is an error)");
      cmd.add_option("--wait", args->wait,
                     "seconds to wait for another run that holds a record's lock")
          ->type_name("SECONDS")
          ->check(CLI::Range(0u, 86400u))
          ->capture_default_str();
      cmd.add_flag(
          "--accept", args->accept,
          "write every record from this run whatever it found (a device reset, history removed on "
          "purpose, lost evidence), after saying what the record gives up; the exit status stays "
          "that of the verification");
      cmd.add_option("--stale-after", args->staleAfter,
                     "a chain whose record has not grown for DAYS is stale: a warning, with "
                     "--strict a reason to fail")
          ->type_name("DAYS")
          ->check(CLI::Range(1u, 36500u));
      cmd.add_flag("--strict", args->strict,
                   "fail with 5 on: a file with no signature in a chain with signed ones; unsigned "
                   "lines but at the newest file's end, or more of them there than the chain's "
                   "longest signed block covers (or --max-unsigned); empty signature lines; bytes "
                   "after a NUL or 0x1A; anything that could hold evidence and was not verified; "
                   "with a record, more files gone from the old end than arrived at the new end, "
                   "and a record stale for --stale-after. Without a record it cannot see files "
                   "removed from either end, a newest file cut back, nor one stripped of its "
                   "signatures that has no more lines than a signed block");
      cmd.add_option("--max-unsigned", args->maxUnsigned,
                     "with --strict, the newest file's unsigned tail may be LINES long (default: "
                     "as long as the chain's longest signed block)")
          ->type_name("LINES")
          ->check(CLI::Range(1u, 1000000u));
      cmd.add_option("PATH", args->paths, "log files and folders")->required();
      cmd.footer(ExitStatusHelp({
          {0, "ReportOk"},
          {1, 1, "ReportUnsigned: nothing signed was found"},
          {2, 2, "ReportSomeInvalid"},
          {3, 3, "ReportAllInvalid"},
          {4, 4, "CheckpointLost: the chain no longer holds the block the checkpoint recorded"},
          {5, 5, "StrictPolicyFailed: --strict found a reason to fail"},
          {6, 6,
           "Incomplete: a file that could hold evidence was not read, or an entry was passed "
           "over (of 0-6 the first of 4, 3, 2, 5, 6, 1, 0 that applies; with --each, of all "
           "PATHs, and 65, 66 or 75 only where no PATH has 2-6)"},
          {kUsageError,
           "an empty PATH, --html or a checkpoint naming a file to verify, or the page to "
           "standard output with --json, among others"},
          {kDataError, "a checkpoint that is damaged, of another version or for another chain"},
          {kNoInput,
           "a PATH does not exist, cannot be read or holds no log, or a checkpoint does not "
           "exist (without --checkpoint-init) or cannot be read; without --each nothing was "
           "verified"},
          {kCannotCreate,
           "the --html page, a checkpoint or its lock file (the chain is verified all the same; "
           "the record's 73 or 74 only where no PATH has 2-6)"},
          {kOutputError, "standard output, the --html page or a checkpoint"},
          {kBusy, "another run held a checkpoint's lock for longer than --wait"},
      }));
      return std::function<int()>([args, records] {
        for (std::size_t i = 0; i < records.size(); ++i) {
          if (records[i]->count() > 0) args->record = &kRecordOptions[i];
        }
        if (args->checkpointInit && (!args->record || args->record->readOnly)) {
          throw CommandError(kUsageError,
                             "--checkpoint-init creates records of --checkpoint or "
                             "--checkpoint-dir; a read-only record is never written");
        }
        if (args->accept && (!args->record || args->record->readOnly)) {
          throw CommandError(kUsageError,
                             "--accept writes records of --checkpoint or --checkpoint-dir; a "
                             "read-only record is never written");
        }
        if (args->staleAfter != 0 && !args->record)
          throw CommandError(kUsageError, "--stale-after judges a chain by its record: give one");
        if (args->maxUnsigned != 0 && !args->strict)
          throw CommandError(kUsageError, "--max-unsigned is a rule of --strict");
        args->paths = ExpandPathArguments(args->paths);
        return RunVerify(*args);
      });
    });

}  // namespace

}  // namespace qve::cli
