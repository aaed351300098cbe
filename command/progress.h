// SPDX-License-Identifier: Apache-2.0
// One line of progress on standard error for long work, from a thread that
// only looks at a counter now and then, so the work itself is not slowed.
// When the line first shows, how often it changes, the clock it reads and
// the stream it goes to are given from outside, so a test drives time itself.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <iostream>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

namespace qve::command {

// Time as the progress line sees it.
class ProgressClock {
 public:
  using TimePoint = std::chrono::steady_clock::time_point;
  virtual ~ProgressClock() = default;
  virtual TimePoint Now() = 0;
  // Waits on `wake`, `lock` held, until `until` or until `stopped()`; gives
  // stopped().
  virtual bool WaitUntil(std::unique_lock<std::mutex>& lock, std::condition_variable& wake,
                         TimePoint until, const std::function<bool()>& stopped) = 0;
};

struct ProgressSetup {
  std::chrono::milliseconds delay{1000};  // before the first line; 0 shows it at once
  std::chrono::milliseconds interval{250};
  ProgressClock* clock = nullptr;  // the steady clock when null
  std::FILE* to = nullptr;         // when null, standard error if it is a terminal
};

// The commands' setup: the defaults, with the delay of the command line's
// hidden --progress-delay=MILLISECONDS, which lets the command tests see the
// line without waiting for it.
ProgressSetup& CommandProgressSetup();

// Bytes of one step of the work: "decrypted 512.0 MiB of 1.0 GiB". A total
// of 0 is unknown (a pipe as input).
struct ProgressStep {
  const char* name = "";
  std::uint64_t done = 0;
  std::uint64_t total = 0;
};

// How far one decryption is, as the library's progress callback tells it,
// for the thread that draws the line.
struct DecryptionCounts {
  std::atomic<std::uint64_t> decrypted{0};  // container bytes read
  std::atomic<std::uint64_t> size{0};       // of the container; 0 unknown (a pipe)
  std::atomic<std::uint64_t> checked{0};    // plaintext bytes read back for the seal
  std::atomic<std::uint64_t> plaintext{0};  // to read back, once checking
  std::atomic<bool> checking{false};

  // A qve_progress_fn whose context is the counts; never stops the work.
  static int Count(std::uint64_t done, std::uint64_t total, int step, void* counts);
};

// The bytes of both steps of every decryption of a run: decrypted, then
// read back for the seal check. One under way counts what it has done so
// far, one finished its whole size in both.
class DecryptionRun {
 public:
  struct Running {
    std::uint64_t size;
    DecryptionCounts counts;
  };

  std::vector<ProgressStep> Steps();
  void Start(const Running* running);
  void Finish(const Running* running);
  void SetTotal(std::uint64_t total) { total_ = total; }

 private:
  std::mutex mutex_;
  std::uint64_t total_ = 0;
  std::uint64_t finished_ = 0;
  std::set<const Running*> running_;
};

class Progress {
 public:
  enum class Unit { Bytes, Chains };

  // Shows `done()` of `total` once the work has run for the delay, only
  // when `wanted` and there is somewhere to show it; nothing otherwise.
  Progress(bool wanted, Unit unit, std::uint64_t total, std::function<std::uint64_t()> done,
           const ProgressSetup& setup = CommandProgressSetup());
  // Work in steps, each shown with its bytes, so that the line is not done
  // before the last step is; the rate and the time left are of all of them.
  Progress(bool wanted, std::function<std::vector<ProgressStep>()> steps,
           const ProgressSetup& setup = CommandProgressSetup());
  ~Progress();  // clears the line
  Progress(const Progress&) = delete;
  Progress& operator=(const Progress&) = delete;

  // Runs `print` with the line cleared, so what it writes never lands on the
  // line; the line comes back at the next tick.
  template <typename Print>
  auto Aside(Print print) {
    std::unique_lock<std::mutex> lock(mutex_, std::defer_lock);
    if (watcher_.joinable()) {
      lock.lock();
      Clear();
    }
    auto result = print();
    std::cout.flush();
    return result;
  }

 private:
  Progress(bool wanted, std::function<std::vector<ProgressStep>()> steps, Unit unit,
           const ProgressSetup& setup);
  void Watch();
  void Show();
  void Clear();
  std::string Line(double seconds) const;

  Unit unit_;
  std::function<std::vector<ProgressStep>()> steps_;
  ProgressSetup setup_;
  ProgressClock::TimePoint start_;
  std::mutex mutex_;
  std::condition_variable wake_;
  bool stop_ = false;
  std::size_t shown_ = 0;  // length of the line on screen
  std::thread watcher_;
};

}  // namespace qve::command
