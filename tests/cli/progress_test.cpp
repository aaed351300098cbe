// SPDX-License-Identifier: Apache-2.0
// The progress line in process, on a clock the test moves: when it first
// shows, what it says as time passes, and that it leaves a clean line.
#include "command/progress.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <string>

namespace qve::cli {
namespace {

using namespace std::chrono_literals;

// Time stands still until the test moves it. Each move waits until the
// watcher has done what the new time asks and waits again (or has stopped).
class TestClock final : public ProgressClock {
 public:
  TimePoint Now() override { return now_; }

  bool WaitUntil(std::unique_lock<std::mutex>& lock, std::condition_variable& wake, TimePoint until,
                 const std::function<bool()>& stopped) override {
    if (waits_ == 0) {
      {
        const std::lock_guard<std::mutex> first(firstWait_);
        mutex_ = lock.mutex();
        wake_ = &wake;
      }
      firstWaitSeen_.notify_all();
    }
    until_ = until;
    ++waits_;
    waiting_.notify_all();
    wake.wait(lock, [&] { return stopped() || now_ >= until; });
    return stopped();
  }

  void Advance(std::chrono::milliseconds by) {
    {
      std::unique_lock<std::mutex> first(firstWait_);
      firstWaitSeen_.wait(first, [&] { return mutex_ != nullptr; });
    }
    std::unique_lock<std::mutex> lock(*mutex_);
    const int seen = waits_;
    now_ += by;
    wake_->notify_all();
    if (now_ >= until_) waiting_.wait(lock, [&] { return waits_ > seen; });
  }

 private:
  TimePoint now_{};
  TimePoint until_{};
  int waits_ = 0;
  std::mutex* mutex_ = nullptr;
  std::condition_variable* wake_ = nullptr;
  std::condition_variable waiting_;
  std::mutex firstWait_;
  std::condition_variable firstWaitSeen_;
};

// What was written so far.
class Sink {
 public:
  Sink() : file_(open_memstream(&data_, &size_)) {}
  ~Sink() {
    std::fclose(file_);
    std::free(data_);
  }
  std::FILE* file() { return file_; }
  std::string Take() {
    std::fflush(file_);
    const std::string fresh(data_ + taken_, size_ - taken_);
    taken_ = size_;
    return fresh;
  }

 private:
  char* data_ = nullptr;
  std::size_t size_ = 0;
  std::size_t taken_ = 0;
  std::FILE* file_;
};

TEST(Progress, LinesAsTimePasses) {
  TestClock clock;
  Sink sink;
  std::atomic<std::uint64_t> done{0};
  {
    Progress progress(true, Progress::Unit::Bytes, 1 << 20, [&] { return done.load(); },
                      {1000ms, 250ms, &clock, sink.file()});
    done = 1000;
    clock.Advance(999ms);
    EXPECT_EQ(sink.Take(), "") << "nothing before the delay";
    clock.Advance(1ms);
    EXPECT_EQ(sink.Take(), "\r1000 B of 1.0 MiB, 1000 B/s, 17:27 left");
    done = 3 << 19;  // past the total, as a growing input may be
    clock.Advance(1000ms);
    EXPECT_EQ(sink.Take(), "\r1.5 MiB of 1.0 MiB, 768.0 KiB/s" + std::string(8, ' '));
    const int printed = progress.Aside([&] {
      std::fputs("beside\n", sink.file());
      return 7;
    });
    EXPECT_EQ(printed, 7);
    EXPECT_EQ(sink.Take(), "\r" + std::string(31, ' ') + "\rbeside\n");
    done = 1 << 20;
    clock.Advance(250ms);
    EXPECT_EQ(sink.Take(), "\r1.0 MiB of 1.0 MiB, 455.1 KiB/s");
  }
  EXPECT_EQ(sink.Take(), "\r" + std::string(31, ' ') + "\r") << "cleared at the end";
}

// A decryption whose payload is done while its seal is still checked: the
// line is not done until the last step is.
TEST(Progress, StepsAreDoneOnlyTogether) {
  TestClock clock;
  Sink sink;
  std::atomic<std::uint64_t> decrypted{1 << 20}, checked{0};
  {
    Progress progress(true,
                      [&] {
                        return std::vector<ProgressStep>{{"decrypted", decrypted, 1 << 20},
                                                         {"seal checked", checked, 1 << 20}};
                      },
                      {0ms, 250ms, &clock, sink.file()});
    EXPECT_EQ(sink.Take(), "\rdecrypted 1.0 MiB of 1.0 MiB, seal checked 0 B of 1.0 MiB, 0 B/s");
    clock.Advance(1000ms);
    EXPECT_EQ(sink.Take(),
              "\rdecrypted 1.0 MiB of 1.0 MiB, seal checked 0 B of 1.0 MiB, 1.0 MiB/s, 0:01 left");
    checked = 1 << 20;
    clock.Advance(1000ms);
    EXPECT_EQ(sink.Take(),
              "\rdecrypted 1.0 MiB of 1.0 MiB, seal checked 1.0 MiB of 1.0 MiB, 1.0 MiB/s" +
                  std::string(7, ' '));
  }
  sink.Take();
}

TEST(Progress, ChainsAtOnceWithNoDelayAndNothingUnwanted) {
  TestClock clock;
  Sink sink;
  {
    Progress progress(true, Progress::Unit::Chains, 2, [] { return 1; },
                      {0ms, 250ms, &clock, sink.file()});
    EXPECT_EQ(sink.Take(), "\r1 of 2 chains done");
  }
  EXPECT_EQ(sink.Take(), "\r" + std::string(18, ' ') + "\r");
  {
    // Not wanted: no watcher, nothing written, and Aside just prints.
    Progress progress(false, Progress::Unit::Chains, 2, [] { return 1; },
                      {0ms, 250ms, &clock, sink.file()});
    EXPECT_EQ(progress.Aside([] { return 3; }), 3);
  }
  EXPECT_EQ(sink.Take(), "");
}

}  // namespace
}  // namespace qve::cli
