// One line of progress on standard error for long work, from a thread that
// only looks at a counter now and then, so the work itself is not slowed.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <iostream>
#include <mutex>
#include <string>
#include <thread>

namespace qve::cli {

class Progress {
 public:
  enum class Unit { Bytes, Chains };

  // Shows `done()` of `total` once the work has run for a second, only when
  // `wanted` and standard error is a terminal; nothing otherwise.
  Progress(bool wanted, Unit unit, std::uint64_t total, std::function<std::uint64_t()> done);
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
  void Watch();
  void Clear();
  std::string Line(std::uint64_t done, double seconds) const;

  Unit unit_;
  std::uint64_t total_;
  std::function<std::uint64_t()> done_;
  std::mutex mutex_;
  std::condition_variable wake_;
  bool stop_ = false;
  std::size_t shown_ = 0;  // length of the line on screen
  std::thread watcher_;
};

}  // namespace qve::cli
