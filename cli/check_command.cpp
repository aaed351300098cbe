// SPDX-License-Identifier: Apache-2.0
// qvehelper check CONTAINER...: decrypts each container into an unnamed
// temporary file that is discarded afterwards, so no plaintext is left
// anywhere, and prints the library's result per container.
#include <CLI/CLI.hpp>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <atomic>
#include <exception>
#include <iostream>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "QVEHelper.h"
#include "cli/command_line.h"
#include "cli/decrypt_cause.h"
#include "cli/escape.h"
#include "cli/output_file.h"
#include "cli/progress.h"
#include "cli/standard_input.h"
#include "decrypt/decrypt_file.h"
#include "format/container_format.h"
#include "platform/file_status.h"
#include "platform/files.h"
#include "platform/folder_walk.h"
#include "platform/paths.h"
#include "platform/temp_output.h"

namespace qve::cli {

namespace {

struct Checked {
  std::wstring path;
  std::string shown;
  int result = -1;    // -1: no result, for `failure` or an exception
  std::string error;  // why, for every result but Success
  std::uint64_t size = 0;
  bool regular = false;  // may be read again, to say why
  // Not the container's fault but the run's: its scratch file could not be
  // made (kCannotCreate) or took no more (kOutputError); or 0.
  int failure = 0;
  bool started = false;  // false when the run stopped before it
};

// The results that tell of the file the library wrote, here the scratch
// file, and nothing of the container.
bool OfTheScratchFile(QVE_Helper::DecryptResult result) {
  using namespace QVE_Helper;
  return result == OutputOpenFailed || result == OutputWriteFailed || result == OutputSizeFailed ||
         result == OutputTruncateFailed || result == OutputReopenFailed;
}

// The bytes of both steps of every container: decrypted, then read back for
// the seal check. A container being checked counts what it has done so far.
class Counted {
 public:
  std::vector<ProgressStep> Steps() {
    const std::lock_guard<std::mutex> lock(mutex_);
    std::uint64_t decrypted = finished_, checked = finished_;
    for (const Running* running : running_) {
      if (running->progress.checkingSeal) {
        decrypted += running->size;
        checked += running->progress.readBack;
      } else {
        decrypted += std::min(running->scratch->Size(), running->size);
      }
    }
    return {{"decrypted", decrypted, total_}, {"seal checked", checked, total_}};
  }
  struct Running {
    const platform::TempOutput* scratch;
    std::uint64_t size;
    DecryptProgress progress;
  };
  void Start(const Running* running) {
    const std::lock_guard<std::mutex> lock(mutex_);
    running_.insert(running);
  }
  void Finish(const Running* running) {
    const std::lock_guard<std::mutex> lock(mutex_);
    running_.erase(running);
    finished_ += running->size;
  }
  void SetTotal(std::uint64_t total) { total_ = total; }

 private:
  std::mutex mutex_;
  std::uint64_t total_ = 0;
  std::uint64_t finished_ = 0;
  std::set<const Running*> running_;
};

void CheckOne(Checked& item, Counted& counted, const std::wstring& folder) {
  const std::string inFolder = "the scratch file in " + Escaped(Narrow(folder));
  item.started = true;
  try {
    std::error_code error;
    // Never published: the plaintext goes with the object.
    const auto scratch = platform::TempOutput::Create(folder, error);
    if (!scratch) {
      item.failure = kCannotCreate;
      item.error = "not checked: " + inFolder + " cannot be made: " + platform::ErrorText(error);
      return;
    }
    Counted::Running running{scratch.get(), item.size, {}};
    counted.Start(&running);
    try {
      const auto result = DecryptFile(item.path, scratch->path(), &running.progress);
      // While the scratch file is there to ask why it took no more.
      const std::string cause = DecryptCause(result, item.path, item.regular, scratch->path());
      if (OfTheScratchFile(result)) {
        item.failure = result == QVE_Helper::OutputOpenFailed ? kCannotCreate : kOutputError;
        item.error = "not checked: " + inFolder +
                     (result == QVE_Helper::OutputWriteFailed
                          ? " takes no more: " + cause
                          : " failed: " + cause + " (" + DecryptResultName(result) + ")");
      } else {
        item.error = cause;
        item.result = result;
      }
    } catch (...) {
      counted.Finish(&running);  // before the scratch file goes
      throw;
    }
    counted.Finish(&running);
  } catch (const std::exception& e) {
    item.error = e.what();
  }
}

// Checks every container, or stops taking more once a scratch file fails:
// the others would only fail the same way.
void CheckAll(std::vector<Checked>& items, unsigned jobs, bool showProgress,
              const std::wstring& folder) {
  std::uint64_t total = 0;
  for (Checked& item : items) {
    const platform::FileStatus status = platform::StatusOf(item.path);
    item.regular = status.kind == platform::FileKind::Regular;
    total += item.size = status.size;
  }
  Counted counted;
  counted.SetTotal(total);
  const Progress progress(showProgress, [&] { return counted.Steps(); });
  std::atomic<std::size_t> next{0};
  std::atomic<bool> stop{false};
  const auto work = [&] {
    for (std::size_t i = next++; i < items.size() && !stop; i = next++) {
      CheckOne(items[i], counted, folder);
      if (items[i].failure != 0) stop = true;
    }
  };
  std::vector<std::thread> threads;
  for (unsigned i = 1; i < std::min<std::size_t>(jobs, items.size()); ++i)
    threads.emplace_back(work);
  work();
  for (auto& thread : threads) thread.join();
}

// What a file's first bytes say: nothing there, the magic, something else,
// or that it does not open.
enum class Start { Empty, Magic, Other, Unreadable };

Start StartOf(const std::wstring& path) {
  platform::FileStream file;
  if (!platform::OpenForReading(file, path)) return Start::Unreadable;
  char magic[4] = {};
  file.read(magic, 4);
  if (file.gcount() == 0) return file.bad() ? Start::Unreadable : Start::Empty;
  const std::span read(reinterpret_cast<const std::uint8_t*>(magic), std::size_t(file.gcount()));
  return StartsWithContainerMagic(read) ? Start::Magic : Start::Other;
}

bool HasContainerName(std::wstring_view name) {
  constexpr std::wstring_view kSuffix = L".qves";
  if (name.size() < kSuffix.size()) return false;
  const std::wstring_view end = name.substr(name.size() - kSuffix.size());
  return std::equal(end.begin(), end.end(), kSuffix.begin(), [](wchar_t a, wchar_t b) {
    return (a >= L'A' && a <= L'Z' ? a + 32 : a) == b;
  });
}

// A folder stands for every regular file below it named *.qves (any case) or
// starting with the magic; all it passes over is said. False when it holds
// no container.
bool AddFolder(const std::wstring& folder, std::vector<Checked>& items) {
  std::vector<std::wstring> found;
  platform::WalkFolder(
      folder,
      [&](const std::wstring& path, const std::wstring& name) {
        const Start start = StartOf(path);
        const bool named = HasContainerName(name);
        if (named && start == Start::Empty) {
          Warn(Narrow(path), "the file is empty");
        } else if (named && start == Start::Other) {
          Warn(Narrow(path), "does not start with \"" + std::string(kContainerMagic) + "\"");
        } else if (!named && start == Start::Unreadable) {
          Warn(Narrow(path), "skipped: " + platform::ErrorText(platform::ReadError(path)));
        }
        if (named || start == Start::Magic) found.push_back(path);
      },
      [&](const platform::SkippedEntry& entry) { Warn(entry.shown, SkippedText(entry)); },
      platform::NotUtf8Names::Carry);
  std::sort(found.begin(), found.end());
  for (auto& file : found) items.push_back({file, Narrow(file), -1, {}, 0});
  return !found.empty();
}

struct CheckArguments {
  std::vector<std::string> paths;
  unsigned jobs = 1;
  bool json = false;
};

int RunCheck(const CheckArguments& args) {
  // Every argument is looked at before any work: the library would wait on a
  // FIFO for good.
  std::vector<platform::FileStatus> statuses;
  for (const std::string& arg : args.paths) {
    if (arg.empty()) throw CommandError(kUsageError, "CONTAINER must not be empty");
    RefuseStandardStream(arg, "CONTAINER");
    statuses.push_back(platform::StatusOf(platform::ArgumentPath(arg)));
    if (statuses.back().kind == platform::FileKind::Other)
      throw CommandError(kDataError, "CONTAINER " + Escaped(arg) + " is " +
                                         SpecialFileText(statuses.back(), false));
  }
  const std::wstring folder = UsableScratchFolder();
  std::vector<Checked> items;
  for (std::size_t i = 0; i < args.paths.size(); ++i) {
    const std::wstring path = platform::ArgumentPath(args.paths[i]);
    if (statuses[i].kind != platform::FileKind::Folder) {
      items.push_back({path, args.paths[i], -1, {}, 0});
    } else if (!AddFolder(path, items)) {
      Warn(args.paths[i], "no container below it");
    }
  }
  if (items.empty()) throw CommandError(kNoInput, "no container found");
  CheckAll(items, std::max(1u, args.jobs), !args.json, folder);
  int status = 0;
  nlohmann::ordered_json list = nlohmann::ordered_json::array();
  for (const Checked& item : items) {
    const std::string error =
        item.started ? item.error : "not checked: the run stopped at the scratch file's failure";
    if (!error.empty())
      std::cerr << ProgramName() << " check: " << Escaped(item.shown) << ": " << error << '\n';
    if (item.result < 0) {
      // One that was not started leaves the status to the failure that
      // stopped the run.
      status = std::max(status, item.failure != 0 ? item.failure
                                : item.started    ? kSoftwareError
                                                  : 0);
      continue;
    }
    const char* name = DecryptResultName(QVE_Helper::DecryptResult(item.result));
    status = std::max(status, item.result);
    if (args.json) {
      list.push_back(
          {{"path", Escaped(item.shown)}, {"result", name}, {"resultCode", item.result}});
    } else {
      std::cout << name << ' ' << Escaped(item.shown) << '\n';
    }
  }
  if (args.json) std::cout << list.dump(2) << '\n';
  return status;
}

const bool kRegistered = RegisterCommand(
    "check",
    "Checks that containers decrypt and their seals verify, leaving no plaintext anywhere. A "
    "folder adds every regular file below it named *.qves (any case) or starting with "
    "\"QVES\", and warns about every entry it passes over.",
    [](CLI::App& cmd) {
      auto args = std::make_shared<CheckArguments>();
      AddJobsOption(cmd, args->jobs, "check N containers at once");
      cmd.add_flag("--json", args->json, "print a JSON list");
      cmd.add_option("CONTAINER", args->paths, "containers and folders")->required();
      cmd.footer(ExitStatusHelp({
          {0, "every container gives Success"},
          {1, 13,
           "the largest result of any container (see 'decrypt'); a line on standard error "
           "says why each one that is not Success gives its result"},
          {kUsageError, "a CONTAINER is empty or -"},
          {kDataError, "a CONTAINER is a FIFO, socket or device"},
          {kNoInput, "no container was found"},
          {kCannotCreate, "the scratch folder ($TMPDIR), named, takes no file"},
          {kOutputError,
           "a scratch file, which stops the run and names its folder, or standard output"},
      }));
      return std::function<int()>([args] {
        args->paths = ExpandPathArguments(args->paths);
        return RunCheck(*args);
      });
    });

}  // namespace

}  // namespace qve::cli
