// Separate calls share no state: eight threads decrypt and verify their own
// files at once, and every result must be the one a lone call gives. Run
// under the tsan preset this is the library's race check.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "QVEHelper.h"
#include "platform/paths.h"
#include "tests/support/container_builder.h"
#include "tests/support/log_builder.h"
#include "tests/support/temp_dir.h"

namespace qve {
namespace {

namespace fs = std::filesystem;
using testing::ContainerBuilder;
using testing::LogBuilder;
using testing::LogChain;
using testing::Pattern;
using testing::ReadFile;
using testing::TempDir;
using testing::WriteFile;

constexpr int kThreads = 8;
constexpr int kRounds = 6;

using testing::WidePath;

struct ThreadFiles {
  fs::path container, output, tamperedContainer;
  Bytes body;
  std::vector<fs::path> logs;          // one good chain
  std::vector<fs::path> tamperedLogs;  // the same chain, one line changed
};

struct ThreadOutcome {
  int decryptedRight = 0;
  int tamperRefused = 0;
  int reportsRight = 0;
  int tamperedReportsRight = 0;
};

ThreadFiles MakeFiles(const fs::path& dir, int index) {
  ThreadFiles files;
  const fs::path own = dir / ("thread" + std::to_string(index));
  fs::create_directories(own / "good");
  fs::create_directories(own / "tampered");
  files.body =
      Pattern(5000 + 37 * static_cast<std::size_t>(index), static_cast<std::uint8_t>(index));
  Bytes container = ContainerBuilder().Body(files.body).Build();
  files.container = own / "in.qves";
  WriteFile(files.container, container);
  container[container.size() / 2] ^= 0x40;
  files.tamperedContainer = own / "tampered.qves";
  WriteFile(files.tamperedContainer, container);
  files.output = own / "out.bin";

  LogChain chain;
  LogBuilder first(chain), second(chain);
  first.DataLines(3 + index, "thread line ").Sign();
  second.Data("more").Sign().Data("tail");
  for (const auto& [name, log] : {std::pair{"System_1.log", &first}, {"system.log", &second}}) {
    files.logs.push_back(own / "good" / name);
    log->WriteTo(files.logs.back());
    Bytes bytes = log->bytes();
    if (log == &first) bytes[0] ^= 1;  // the tampered chain differs in one byte
    files.tamperedLogs.push_back(own / "tampered" / name);
    WriteFile(files.tamperedLogs.back(), bytes);
  }
  return files;
}

std::uint32_t VerifyThroughCFunctions(const std::vector<fs::path>& logs,
                                      std::vector<std::uint32_t>& verdicts) {
  QVE_VerificationReport* report = CreateVerificationReport();
  for (const auto& path : logs) AddFileToVerificationReport(report, WidePath(path).c_str());
  const std::uint32_t result = VerifyReport(report, true);
  verdicts.clear();
  for (std::uint32_t i = 0; i < GetFileReportCountInVerificationReport(report); ++i)
    verdicts.push_back(GetFileReportVerditInVerificationReport(report, i));
  DeleteVerificationReport(report);
  return result;
}

void RunThread(const ThreadFiles& files, ThreadOutcome& outcome) {
  std::vector<std::uint32_t> verdicts;
  for (int round = 0; round < kRounds; ++round) {
    if (QVE_Helper::Decrypt(WidePath(files.container), WidePath(files.output)) ==
            QVE_Helper::Success &&
        ReadFile(files.output) == files.body)
      ++outcome.decryptedRight;
    if (QVE_Helper::Decrypt(WidePath(files.tamperedContainer), WidePath(files.output)) !=
        QVE_Helper::Success)
      ++outcome.tamperRefused;
    if (VerifyThroughCFunctions(files.logs, verdicts) == QVE_Helper::ReportOk &&
        verdicts == std::vector<std::uint32_t>{QVE_Helper::FileOk, QVE_Helper::FileOk})
      ++outcome.reportsRight;
    if (VerifyThroughCFunctions(files.tamperedLogs, verdicts) == QVE_Helper::ReportSomeInvalid &&
        verdicts == std::vector<std::uint32_t>{QVE_Helper::FileInvalid, QVE_Helper::FileOk})
      ++outcome.tamperedReportsRight;
  }
}

TEST(ConcurrencyTest, EightThreadsDecryptAndVerifyTheirOwnFiles) {
  TempDir dir;
  std::vector<ThreadFiles> files;
  for (int i = 0; i < kThreads; ++i) files.push_back(MakeFiles(dir.path(), i));
  std::vector<ThreadOutcome> outcomes(kThreads);
  {
    std::vector<std::jthread> threads;
    for (int i = 0; i < kThreads; ++i)
      threads.emplace_back(RunThread, std::cref(files[i]), std::ref(outcomes[i]));
  }
  for (int i = 0; i < kThreads; ++i) {
    SCOPED_TRACE("thread " + std::to_string(i));
    EXPECT_EQ(outcomes[i].decryptedRight, kRounds);
    EXPECT_EQ(outcomes[i].tamperRefused, kRounds);
    EXPECT_EQ(outcomes[i].reportsRight, kRounds);
    EXPECT_EQ(outcomes[i].tamperedReportsRight, kRounds);
  }
}

}  // namespace
}  // namespace qve
