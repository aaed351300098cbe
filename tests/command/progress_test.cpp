// SPDX-License-Identifier: Apache-2.0
// The progress line on a clock the test moves, and what a run of decryptions
// gives it to show.
#include "command/progress.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <future>
#include <string>
#include <tuple>
#include <vector>

#include "QVEHelper.h"
#include "tests/support/command_rows.h"

namespace qve::command {
namespace {

using namespace std::chrono_literals;

// A progress line of `width` wiped: back to the start, blanks, back again.
// Built in place: g++ 12 -O3 warns on "\r" + a temporary (-Wrestrict).
std::string Wiped(std::size_t width) {
  std::string line(width + 2, ' ');
  line.front() = line.back() = '\r';
  return line;
}

// Each wait of the watcher jumps to the time it waits for and runs the
// test's next step there, the watcher's lock let go as a real wait does;
// after the last step it waits to be stopped.
class StepClock final : public ProgressClock {
 public:
  using Step = std::function<void(std::chrono::milliseconds)>;  // given the time now
  explicit StepClock(std::vector<Step> steps) : steps_(std::move(steps)) {}
  TimePoint Now() override { return now_; }
  bool WaitUntil(std::unique_lock<std::mutex>& lock, std::condition_variable& wake, TimePoint until,
                 const std::function<bool()>& stopped) override {
    if (next_ == steps_.size()) {
      ended_.set_value();
      wake.wait(lock, stopped);
      return true;
    }
    now_ = until;
    lock.unlock();
    steps_[next_++](std::chrono::duration_cast<std::chrono::milliseconds>(until - TimePoint{}));
    lock.lock();
    return stopped();
  }
  void WaitForSteps() { ended_.get_future().wait(); }

 private:
  TimePoint now_{};
  std::vector<Step> steps_;
  std::size_t next_ = 0;
  std::promise<void> ended_;
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
  Sink sink;
  std::atomic<std::uint64_t> done{0};
  StepClock clock({[&](auto now) {
                     EXPECT_EQ(now, 1000ms);
                     EXPECT_EQ(sink.Take(), "") << "nothing before the delay";
                     done = 1000;
                   },
                   [&](auto now) {
                     EXPECT_EQ(now, 1250ms);
                     EXPECT_EQ(sink.Take(), "\r1000 B of 1.0 MiB, 1000 B/s, 17:27 left");
                     done = 3 << 19;  // past the total, as a growing input may be
                   },
                   [&](auto) {
                     EXPECT_EQ(sink.Take(),
                               "\r1.5 MiB of 1.0 MiB, 1.2 MiB/s" + std::string(10, ' '));
                     done = 1 << 20;
                   }});
  Progress progress(true, Progress::Unit::Bytes, 1 << 20, [&] { return done.load(); },
                    {1000ms, 250ms, &clock, sink.file()});
  clock.WaitForSteps();
  EXPECT_EQ(sink.Take(), "\r1.0 MiB of 1.0 MiB, 682.7 KiB/s");
  const int printed = progress.Aside([&] {
    std::fputs("beside\n", sink.file());
    return 7;
  });
  EXPECT_EQ(printed, 7);
  EXPECT_EQ(sink.Take(), Wiped(31) + "beside\n");
}

// A decryption whose payload is done while its seal is still checked: the
// line is not done until the last step is.
TEST(Progress, StepsAreDoneOnlyTogether) {
  Sink sink;
  std::atomic<std::uint64_t> decrypted{1 << 20}, checked{0};
  const std::string both = "\rdecrypted 1.0 MiB of 1.0 MiB, seal checked ";
  StepClock clock({[&](auto) { EXPECT_EQ(sink.Take(), both + "0 B of 1.0 MiB, 0 B/s"); },
                   [&](auto) {
                     EXPECT_EQ(sink.Take(), both + "0 B of 1.0 MiB, 4.0 MiB/s, 0:00 left");
                     checked = 1 << 20;
                   }});
  Progress progress(true,
                    [&] {
                      return std::vector<ProgressStep>{{"decrypted", decrypted, 1 << 20},
                                                       {"seal checked", checked, 1 << 20}};
                    },
                    {0ms, 250ms, &clock, sink.file()});
  clock.WaitForSteps();
  EXPECT_EQ(sink.Take(), both + "1.0 MiB of 1.0 MiB, 4.0 MiB/s" + std::string(7, ' '));
}

// A run of decryptions as check counts it, each decryption as the library's
// callback left it: both steps add up what every decryption has done, a
// finished one its whole size, and a container counts its size as decrypted,
// no more, once it is read past it, and whatever was reported once its seal
// is being checked.
using Reported = std::tuple<int, std::uint64_t, std::uint64_t>;
constexpr int D = QVE_STEP_DECRYPTING, C = QVE_STEP_CHECKING_SEAL;
struct Decryption {
  std::uint64_t size;
  std::vector<Reported> reported = {};
  bool finished = false;
};
struct RunRow {
  const char* name;
  std::vector<Decryption> decryptions = {};
  std::uint64_t decrypted = 0, checked = 0;  // of the sizes' sum
};

class ProgressRun : public ::testing::TestWithParam<RunRow> {};

TEST_P(ProgressRun, CountsTheStepsOfEveryDecryption) {
  const RunRow& row = GetParam();
  DecryptionRun run;
  std::vector<DecryptionRun::Running> running(row.decryptions.size());
  std::uint64_t total = 0;
  for (std::size_t i = 0; i < running.size(); ++i) {
    const Decryption& decryption = row.decryptions[i];
    running[i].size = decryption.size;
    total += decryption.size;
    run.Start(&running[i]);
    for (const auto& [step, done, of] : decryption.reported)
      EXPECT_EQ(DecryptionCounts::Count(done, of, step, &running[i].counts), 0);
    if (decryption.finished) run.Finish(&running[i]);
  }
  run.SetTotal(total);
  const std::vector<ProgressStep> steps = run.Steps();
  ASSERT_EQ(steps.size(), 2u);
  EXPECT_STREQ(steps[0].name, "decrypted");
  EXPECT_STREQ(steps[1].name, "seal checked");
  EXPECT_EQ(std::make_tuple(steps[0].done, steps[0].total, steps[1].done, steps[1].total),
            std::make_tuple(row.decrypted, total, row.checked, total));
}

// clang-format off
const RunRow kRows[] = {
    {.name = "None"},
    {.name = "StartedNothingReported", .decryptions = {{1000}}},
    {.name = "Decrypting", .decryptions = {{1000, {{D, 0, 1000}, {D, 400, 1000}}}}, .decrypted = 400},
    {.name = "ReadPastItsSize", .decryptions = {{1000, {{D, 1500, 1000}}}}, .decrypted = 1000},
    {.name = "CheckingItsSeal", .decryptions = {{1000, {{D, 1000, 1000}, {C, 300, 900}}}}, .decrypted = 1000,
           .checked = 300},
    {.name = "CheckingDecryptionEndUnreported", .decryptions = {{1000, {{D, 600, 1000}, {C, 0, 900}}}},
           .decrypted = 1000},
    {.name = "Finished", .decryptions = {{700, {{D, 700, 700}, {C, 600, 600}}, true}}, .decrypted = 700,
           .checked = 700},
    {.name = "FinishedNothingReported", .decryptions = {{700, {}, true}}, .decrypted = 700, .checked = 700},
    {.name = "SeveralAtOnce", .decryptions = {{1000, {{D, 1000, 1000}, {C, 900, 900}}, true},
                                                    {2000, {{D, 2000, 2000}, {C, 500, 1900}}},
                                                    {4000},
                                                    {8000, {{D, 100, 8000}}},
                                                    {16000, {}, true}},
           .decrypted = 19100, .checked = 17500}};
// clang-format on

QVE_ROWS(ProgressRun, kRows);

TEST(Progress, ChainsAtOnceWithNoDelayAndNothingUnwanted) {
  StepClock clock({});
  Sink sink;
  {
    Progress progress(true, Progress::Unit::Chains, 2, [] { return 1; },
                      {0ms, 250ms, &clock, sink.file()});
    EXPECT_EQ(sink.Take(), "\r1 of 2 chains done");
  }
  EXPECT_EQ(sink.Take(), Wiped(18));
  {
    // Not wanted: no watcher, nothing written, and Aside just prints.
    Progress progress(false, Progress::Unit::Chains, 2, [] { return 1; },
                      {0ms, 250ms, &clock, sink.file()});
    EXPECT_EQ(progress.Aside([] { return 3; }), 3);
  }
  EXPECT_EQ(sink.Take(), "");
}

}  // namespace
}  // namespace qve::command
