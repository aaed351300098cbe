// SPDX-License-Identifier: Apache-2.0
// qvehelper check CONTAINER...: the library's check of each container, which
// decrypts it into an unnamed scratch file that is discarded afterwards, so
// no plaintext is left anywhere; prints the result per container.
#include <CLI/CLI.hpp>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <iostream>
#include <memory>
#include <new>
#include <optional>
#include <string>
#include <vector>

#include "QVEHelper.h"
#include "cli/frame.h"
#include "cli/jobs.h"
#include "command/output_file.h"
#include "command/progress.h"
#include "command/standard_input.h"
#include "platform/file_status.h"
#include "platform/paths.h"

namespace qve::cli {

using command::DecryptionCounts;
using command::DecryptionRun;
using command::Progress;
using command::RefuseStandardStream;
using command::SpecialFileText;
using command::UsableScratchFolder;

namespace {

struct Checked {
  std::wstring path;
  std::string shown;
  int result = -1;         // -1: no result, for `failure` or an error
  std::string error = {};  // why, for every result but Success
  std::uint64_t size = 0;
  // Not the container's fault but the run's: its scratch file could not be
  // made (kCannotCreate) or took no more (kOutputError); or 0.
  int failure = 0;
  bool started = false;  // false when the run stopped before it
};

void CheckOne(Checked& item, DecryptionRun& counted, const std::wstring& folder, qve_loan* pool) {
  item.started = true;
  DecryptionRun::Running running{item.size, {}};
  counted.Start(&running);
  qve_check_options options{sizeof options, DecryptionCounts::Count, &running.counts,
                            nullptr,        folder.c_str(),          pool};
  const int code = qve_check_w(item.path.c_str(), &options);
  counted.Finish(&running);
  if (code == QVE_ERROR_NO_MEMORY) throw std::bad_alloc();
  item.error = qve_last_message();
  if (code >= 0) {
    item.result = code;
  } else if (code == QVE_ERROR_SCRATCH) {
    item.failure = qve_last_problem() == QVE_PROBLEM_TEMPORARY ? kCannotCreate : kOutputError;
    item.error = "not checked: " + item.error;
  }
}

// Checks every container, or stops taking more once a scratch file fails:
// the others would only fail the same way.
void CheckAll(std::vector<Checked>& items, unsigned jobs, bool showProgress,
              const std::wstring& folder) {
  std::uint64_t total = 0;
  for (Checked& item : items) total += item.size = platform::StatusOf(item.path).size;
  DecryptionRun counted;
  counted.SetTotal(total);
  const Progress progress(showProgress, [&] { return counted.Steps(); });
  // With one thread there is no pool, and the plaintext is read back.
  const WorkerPool pool = WorkerPoolFor(jobs);
  RunJobs(
      items.size(), jobs,
      [&](std::size_t i) {
        CheckOne(items[i], counted, folder, pool.get());
        return items[i].failure == 0;
      },
      pool.get());
}

// A folder stands for the containers the library finds below it; all it
// passes over is said. False when it holds no container.
bool AddFolder(const std::wstring& folder, std::vector<Checked>& items) {
  const auto found = [](const char* path, const wchar_t* wide, const char* warning, void* to) {
    try {
      if (warning != nullptr) {
        Warn(path, warning);
      } else {
        static_cast<std::vector<Checked>*>(to)->push_back({wide, path});
      }
      return 0;
    } catch (...) {
      return 1;
    }
  };
  const int count = qve_find_containers_w(folder.c_str(), found, &items);
  if (count < 0) throw std::bad_alloc();
  return count > 0;
}

struct CheckArguments {
  std::vector<std::string> paths;
  unsigned jobs = CoreCount();
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
      items.push_back({path, args.paths[i]});
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
    if (!error.empty()) Say(Escaped(item.shown) + ": " + error);
    if (item.result < 0) {
      // One that was not started leaves the status to the failure that
      // stopped the run.
      status = std::max(status, item.failure != 0 ? item.failure
                                : item.started    ? kSoftwareError
                                                  : 0);
      continue;
    }
    const char* name = qve_result_name(QVE_RESULT_OF_DECRYPTION, item.result);
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
      AddJobsOption(cmd, args->jobs,
                    "threads for the containers and their seal checks together (default: the "
                    "cores); 1 reads each plaintext back, more digest it as it is written");
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
