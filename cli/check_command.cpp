// qvehelper check CONTAINER...: decrypts each container into an unnamed
// temporary file that is discarded afterwards, so no plaintext is left
// anywhere, and prints the library's result per container.
#include <CLI/CLI.hpp>

#include <algorithm>
#include <atomic>
#include <exception>
#include <filesystem>
#include <fstream>
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
#include "cli/inspect.h"
#include "cli/progress.h"
#include "format/container_format.h"
#include "platform/file_status.h"
#include "platform/files.h"
#include "platform/folder_walk.h"
#include "platform/paths.h"
#include "platform/temp_output.h"

namespace qve::cli {

namespace {

// Internal exit status for a failure inside a decryption.
constexpr int kSoftwareError = 70;

struct Checked {
  std::wstring path;
  std::string shown;
  int result = -1;  // -1: the decryption failed with an exception
  std::string error;
  std::uint64_t size = 0;
};

// Bytes done for the progress line: the containers finished, and the
// plaintext written so far for those being checked.
class Counted {
 public:
  std::uint64_t Done() {
    const std::lock_guard<std::mutex> lock(mutex_);
    std::uint64_t done = finished_;
    for (const platform::TempOutput* scratch : running_) done += scratch->Size();
    return done;
  }
  void Start(const platform::TempOutput* scratch) {
    const std::lock_guard<std::mutex> lock(mutex_);
    running_.insert(scratch);
  }
  void Finish(const platform::TempOutput* scratch, std::uint64_t size) {
    const std::lock_guard<std::mutex> lock(mutex_);
    running_.erase(scratch);
    finished_ += size;
  }

 private:
  std::mutex mutex_;
  std::uint64_t finished_ = 0;
  std::set<const platform::TempOutput*> running_;
};

void CheckOne(Checked& item, Counted& counted) {
  try {
    std::error_code error;
    // Never published: the plaintext goes with the object.
    const auto scratch =
        platform::TempOutput::Create(std::filesystem::temp_directory_path().wstring(), error);
    if (!scratch) {
      item.result = QVE_Helper::OutputOpenFailed;
      item.error = "no temporary file can be made: " + error.message();
      return;
    }
    counted.Start(scratch.get());
    try {
      item.result = QVE_Helper::Decrypt(item.path, scratch->path());
    } catch (...) {
      counted.Finish(scratch.get(), 0);  // before the scratch file goes
      throw;
    }
    counted.Finish(scratch.get(), item.size);
  } catch (const std::exception& e) {
    item.error = e.what();
  }
}

void CheckAll(std::vector<Checked>& items, unsigned jobs, bool showProgress) {
  std::uint64_t total = 0;
  for (Checked& item : items) total += item.size = platform::StatusOf(item.path).size;
  Counted counted;
  const Progress progress(showProgress, Progress::Unit::Bytes, total,
                          [&] { return counted.Done(); });
  std::atomic<std::size_t> next{0};
  const auto work = [&] {
    for (std::size_t i = next++; i < items.size(); i = next++) CheckOne(items[i], counted);
  };
  std::vector<std::thread> threads;
  for (unsigned i = 1; i < std::min<std::size_t>(jobs, items.size()); ++i)
    threads.emplace_back(work);
  work();
  for (auto& thread : threads) thread.join();
}

bool StartsWithMagic(const std::wstring& path) {
  platform::FileStream file;
  char magic[4] = {};
  return platform::OpenForReading(file, path) && file.read(magic, 4) &&
         StartsWithContainerMagic({reinterpret_cast<const std::uint8_t*>(magic), 4});
}

// A folder stands for every file below it that starts with the magic.
void AddPath(const std::string& arg, const std::wstring& path, std::vector<Checked>& items) {
  if (!platform::IsFolder(path)) {
    items.push_back({path, arg, -1, {}, 0});
    return;
  }
  std::vector<std::wstring> found;
  platform::WalkRegularFiles(path, [&](const std::wstring& file, const std::wstring&) {
    if (StartsWithMagic(file)) found.push_back(file);
  });
  std::sort(found.begin(), found.end());
  for (auto& file : found)
    items.push_back({file, platform::ToNarrow(file).value_or("?"), -1, {}, 0});
}

struct CheckArguments {
  std::vector<std::string> paths;
  unsigned jobs = 1;
  bool json = false;
};

int RunCheck(const CheckArguments& args) {
  std::vector<Checked> items;
  for (const std::string& arg : args.paths) {
    const auto wide = platform::ToWide(arg);
    if (!wide) {
      std::cerr << "qvehelper check: not a valid path: " << Escaped(arg) << '\n';
      return kUsageError;
    }
    AddPath(arg, *wide, items);
  }
  CheckAll(items, std::max(1u, args.jobs), !args.json);
  int status = 0;
  Json list = Json::array();
  for (const Checked& item : items) {
    if (item.result < 0) {
      std::cerr << "qvehelper check: " << Escaped(item.shown) << ": " << item.error << '\n';
      status = std::max(status, kSoftwareError);
      continue;
    }
    if (!item.error.empty())
      std::cerr << "qvehelper check: " << Escaped(item.shown) << ": " << item.error << '\n';
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
    "folder adds every file below it that starts with \"QVES\". Exit status: the largest result "
    "value, 0 when every container gives Success.",
    [](CLI::App& cmd) {
      auto args = std::make_shared<CheckArguments>();
      cmd.add_option("-j,--jobs", args->jobs, "check N containers at once")
          ->check(CLI::Range(1u, 256u));
      cmd.add_flag("--json", args->json, "print a JSON list");
      cmd.add_option("CONTAINER", args->paths, "containers and folders")->required();
      return std::function<int()>([args] { return RunCheck(*args); });
    });

}  // namespace

}  // namespace qve::cli
