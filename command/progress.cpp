// SPDX-License-Identifier: Apache-2.0
#include "command/progress.h"

#include <algorithm>
#include <chrono>
#include <cstdio>

#include "QVEHelper.h"
#include "platform/file_status.h"

namespace qve::command {

namespace {

std::string Bytes(double value) {
  static constexpr const char* kUnits[] = {"B", "KiB", "MiB", "GiB", "TiB"};
  int unit = 0;
  while (value >= 1024 && unit < 4) {
    value /= 1024;
    ++unit;
  }
  char text[32];
  std::snprintf(text, sizeof text, unit == 0 ? "%.0f %s" : "%.1f %s", value, kUnits[unit]);
  return text;
}

class SteadyClock final : public ProgressClock {
 public:
  TimePoint Now() override { return std::chrono::steady_clock::now(); }
  bool WaitUntil(std::unique_lock<std::mutex>& lock, std::condition_variable& wake, TimePoint until,
                 const std::function<bool()>& stopped) override {
    return wake.wait_until(lock, until, stopped);
  }
};

}  // namespace

ProgressSetup& CommandProgressSetup() {
  static ProgressSetup setup;
  return setup;
}

Progress::Progress(bool wanted, Unit unit, std::uint64_t total, std::function<std::uint64_t()> done,
                   const ProgressSetup& setup)
    : Progress(
          wanted,
          [total, done = std::move(done)] {
            return std::vector<ProgressStep>{{"", done(), total}};
          },
          unit, setup) {}

Progress::Progress(bool wanted, std::function<std::vector<ProgressStep>()> steps,
                   const ProgressSetup& setup)
    : Progress(wanted, std::move(steps), Unit::Bytes, setup) {}

Progress::Progress(bool wanted, std::function<std::vector<ProgressStep>()> steps, Unit unit,
                   const ProgressSetup& setup)
    : unit_(unit), steps_(std::move(steps)), setup_(setup) {
  static SteadyClock steady;
  if (setup_.clock == nullptr) setup_.clock = &steady;
  if (setup_.to == nullptr && platform::StandardErrorIsTerminal()) setup_.to = stderr;
  if (!wanted || setup_.to == nullptr) return;
  start_ = setup_.clock->Now();
  if (setup_.delay.count() <= 0) Show();
  watcher_ = std::thread([this] { Watch(); });
}

Progress::~Progress() {
  if (!watcher_.joinable()) return;
  {
    const std::lock_guard<std::mutex> lock(mutex_);
    stop_ = true;
  }
  wake_.notify_one();
  watcher_.join();
}

std::string Progress::Line(double seconds) const {
  const std::vector<ProgressStep> steps = steps_();
  if (unit_ == Unit::Chains) {
    return std::to_string(steps[0].done) + " of " + std::to_string(steps[0].total) + " chains done";
  }
  std::string line;
  std::uint64_t done = 0, total = 0;
  bool known = true;
  for (const ProgressStep& step : steps) {
    line += std::string(line.empty() ? "" : ", ") + step.name + (*step.name ? " " : "") +
            Bytes(double(step.done));
    // A pipe or a device as input has no size to count against.
    if (step.total > 0) line += " of " + Bytes(double(step.total));
    known = known && step.total > 0;
    done += step.done;
    total += std::max(step.total, step.done);
  }
  const double rate = seconds > 0 ? double(done) / seconds : 0;
  line += ", " + Bytes(rate) + "/s";
  if (known && rate > 0 && done < total) {
    const auto left = static_cast<unsigned long>(double(total - done) / rate);
    char text[32];
    std::snprintf(text, sizeof text, ", %lu:%02lu left", left / 60, left % 60);
    line += text;
  }
  return line;
}

int DecryptionCounts::Count(std::uint64_t done, std::uint64_t total, int step, void* counts) {
  auto& to = *static_cast<DecryptionCounts*>(counts);
  if (step == QVE_STEP_DECRYPTING) {
    to.size = total;
    to.decrypted = done;
  } else {
    to.plaintext = total;
    to.checked = done;
    to.checking = true;
  }
  return 0;
}

std::vector<ProgressStep> DecryptionRun::Steps() {
  const std::lock_guard<std::mutex> lock(mutex_);
  std::uint64_t decrypted = finished_, checked = finished_;
  for (const Running* running : running_) {
    if (running->counts.checking) {
      decrypted += running->size;
      checked += running->counts.checked;
    } else {
      decrypted += std::min<std::uint64_t>(running->counts.decrypted, running->size);
    }
  }
  return {{"decrypted", decrypted, total_}, {"seal checked", checked, total_}};
}

void DecryptionRun::Start(const Running* running) {
  const std::lock_guard<std::mutex> lock(mutex_);
  running_.insert(running);
}

void DecryptionRun::Finish(const Running* running) {
  const std::lock_guard<std::mutex> lock(mutex_);
  running_.erase(running);
  finished_ += running->size;
}

void Progress::Watch() {
  std::unique_lock<std::mutex> lock(mutex_);
  auto next = start_ + (setup_.delay.count() > 0 ? setup_.delay : setup_.interval);
  while (!setup_.clock->WaitUntil(lock, wake_, next, [this] { return stop_; })) {
    Show();
    next = setup_.clock->Now() + setup_.interval;
  }
  Clear();
}

void Progress::Show() {
  const double seconds = std::chrono::duration<double>(setup_.clock->Now() - start_).count();
  std::string line = Line(seconds);
  const std::size_t length = line.size();
  // Spaces, not an escape sequence, so any console clears the rest.
  if (length < shown_) line.append(shown_ - length, ' ');
  std::fprintf(setup_.to, "\r%s", line.c_str());
  std::fflush(setup_.to);
  shown_ = length;
}

void Progress::Clear() {
  if (shown_ == 0) return;
  std::fprintf(setup_.to, "\r%s\r", std::string(shown_, ' ').c_str());
  std::fflush(setup_.to);
  shown_ = 0;
}

}  // namespace qve::command
