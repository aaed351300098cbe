#include "cli/progress.h"

#include <chrono>
#include <cstdio>

#include "platform/file_status.h"

namespace qve::cli {

namespace {

using Clock = std::chrono::steady_clock;

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

}  // namespace

Progress::Progress(bool wanted, Unit unit, std::uint64_t total, std::function<std::uint64_t()> done)
    : unit_(unit), total_(total), done_(std::move(done)) {
  if (wanted && platform::StandardErrorIsTerminal()) watcher_ = std::thread([this] { Watch(); });
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

std::string Progress::Line(std::uint64_t done, double seconds) const {
  if (unit_ == Unit::Chains) {
    return std::to_string(done) + " of " + std::to_string(total_) + " chains done";
  }
  const double rate = seconds > 0 ? double(done) / seconds : 0;
  // A pipe or a device as input has no size to count against.
  if (total_ == 0) return Bytes(double(done)) + ", " + Bytes(rate) + "/s";
  std::string line =
      Bytes(double(done)) + " of " + Bytes(double(total_)) + ", " + Bytes(rate) + "/s";
  if (rate > 0 && done < total_) {
    const auto left = static_cast<unsigned long>(double(total_ - done) / rate);
    char text[32];
    std::snprintf(text, sizeof text, ", %lu:%02lu left", left / 60, left % 60);
    line += text;
  }
  return line;
}

void Progress::Watch() {
  const auto start = Clock::now();
  std::unique_lock<std::mutex> lock(mutex_);
  if (wake_.wait_for(lock, std::chrono::seconds(1), [this] { return stop_; })) return;
  do {
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    std::string line = Line(done_(), seconds);
    const std::size_t length = line.size();
    // Spaces, not an escape sequence, so any console clears the rest.
    if (length < shown_) line.append(shown_ - length, ' ');
    std::fprintf(stderr, "\r%s", line.c_str());
    std::fflush(stderr);
    shown_ = length;
  } while (!wake_.wait_for(lock, std::chrono::milliseconds(250), [this] { return stop_; }));
  Clear();
}

void Progress::Clear() {
  if (shown_ == 0) return;
  std::fprintf(stderr, "\r%s\r", std::string(shown_, ' ').c_str());
  std::fflush(stderr);
  shown_ = 0;
}

}  // namespace qve::cli
