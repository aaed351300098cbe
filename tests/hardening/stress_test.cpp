// SPDX-License-Identifier: Apache-2.0
// Load: a 64 MiB line, eight threads, a log verified while being written.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <fstream>
#include <random>
#include <thread>

#include "tests/support/builders.h"
#include "tests/support/harness.h"
#include "tools/writer/signature_block_writer.h"

namespace qve {
namespace {

using namespace testing;

// 64 MiB in one line or one block, plain or gzip'd (a member per MiB),
// verified in a child whose peak memory must not grow with the input.
TEST(Stress, SixtyFourMegabytesVerifyInFlatMemory) {
  std::string lines;
  while (lines.size() < (1u << 20)) lines += "a short line.\n";
  // A block that parses, so that its lines are read again to check it.
  const std::string signature = writer::EncodeBase64(Block{.signature = Bytes(256, 1)}.Build());
  const struct {
    const char* name;
    std::string head, chunk, tail;  // the file: head, 64 times chunk, tail
    BlockResult block;
  } rows[] = {
      {"one data line", "", std::string(1 << 20, 'x'), "", {BlockUnsigned, 1, 1}},
      {"one signature line", "\x1F", std::string(1 << 20, 'A'), "\x1F", {BlockInvalid, 1, 1}},
      {"one block", "", lines, "\x1F" + signature + "\x1F", {BlockInvalid, 1, 64 * 74899 + 1}},
  };
  for (const auto& row : rows) {
    for (const bool gzip : {false, true}) {
      TempDir dir;
      const fs::path path = dir / (gzip ? "system.log.gz" : "system.log");
      {
        std::ofstream file(path, std::ios::binary);
        const auto put = [&](const std::string& text) {
          const Bytes bytes = gzip ? Gzip(BytesOf(text)) : Bytes(BytesOf(text));
          file.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
        };
        put(row.head);
        for (int i = 0; i < 64; ++i) put(row.chunk);
        put(row.tail);
      }
      const pid_t child = fork();
      ASSERT_GE(child, 0);
      if (child == 0) {
        std::vector<BlockResult> blocks;
        if (gzip) {
          const SeenFile seen = VerifyInOrder({WidePath(path)}, {.gunzip = true}).at(0);
          if (seen.file.fault != platform::ReadFault::None) _exit(1);
          for (const BlockDetail& b : seen.blocks)
            blocks.push_back({b.verdict, b.lines.first, b.lines.last});
        } else {
          blocks = VerifyRun({WidePath(path)}).at(0).blocks;
        }
        _exit(blocks == std::vector{row.block} ? 0 : 1);
      }
      int status = 0;
      rusage usage{};
      ASSERT_EQ(wait4(child, &status, 0, &usage), child);
      EXPECT_EQ(status, 0) << row.name << gzip << ": not the one block expected";
      // A sanitizer's shadow memory and quarantine grow with what passes through.
#if !defined(__SANITIZE_THREAD__) && !defined(__SANITIZE_ADDRESS__)
      EXPECT_LT(usage.ru_maxrss, 32 << 10) << row.name << gzip << ": peak KiB";
#endif
    }
  }
}

std::vector<std::uint32_t> VerdictsOf(const std::vector<fs::path>& logs) {
  Report report(CreateVerificationReport());
  for (const auto& path : logs) AddFileToVerificationReport(report.get(), WidePath(path).c_str());
  std::vector<std::uint32_t> verdicts = {VerifyReport(report.get(), true)};
  for (const auto& [name, verdict] : RecordsOf(report.get())) verdicts.push_back(verdict);
  return verdicts;
}

// Separate calls share no state: every result must be the one a lone call
// gives. Under the tsan preset this is the library's race check.
TEST(Stress, EightThreadsDecryptAndVerifyTheirOwnFiles) {
  constexpr int kThreads = 8, kRounds = 6;
  TempDir dir;
  std::vector<int> right(kThreads);
  {
    std::vector<std::jthread> threads;
    for (int t = 0; t < kThreads; ++t) {
      const fs::path own = dir / ("thread" + std::to_string(t));
      const Bytes body = Pattern(5000 + 37 * std::size_t(t), std::uint8_t(t));
      Bytes container = Container{.body = body}.Build();
      LogChain chain;
      LogBuilder first(chain), second(chain);
      first.DataLines(3 + t, "thread line ").Sign();
      second.Script("more S tail");
      for (const char* folder : {"good", "tampered"}) {
        fs::create_directories(own / folder);
        WriteFile(own / (folder + std::string(".qves")), container);
        first.WriteTo(own / folder / "System_1.log");
        second.WriteTo(own / folder / "system.log");
        container[container.size() / 2] ^= 0x40;
      }
      WriteFile(own / "tampered/System_1.log", Concat({'x'}, first.bytes()));
      threads.emplace_back([own, body, &count = right[t]] {
        for (int round = 0; round < kRounds; ++round) {
          count += Decrypt(own / "good.qves", own / "out.bin") == QVE_Helper::Success &&
                   ReadFile(own / "out.bin") == body;
          count += Decrypt(own / "tampered.qves", own / "out.bin") != QVE_Helper::Success;
          count += VerdictsOf({own / "good/System_1.log", own / "good/system.log"}) ==
                   std::vector<std::uint32_t>{QVE_REPORT_OK, QVE_FILE_OK, QVE_FILE_OK};
          count +=
              VerdictsOf({own / "tampered/System_1.log", own / "tampered/system.log"}) ==
              std::vector<std::uint32_t>{QVE_REPORT_SOME_INVALID, QVE_FILE_INVALID, QVE_FILE_OK};
        }
      });
    }
  }
  for (int t = 0; t < kThreads; ++t) EXPECT_EQ(right[t], 4 * kRounds) << "thread " << t;
}

// One thread appends the last file of a chain in pieces that end anywhere
// while runs verify it: a cut-off last line is a data line (a signature line
// needs its closing marker), so no run may find a bad block.
class LiveWriter : public ::testing::TestWithParam<bool> {};

TEST_P(LiveWriter, ARunSeesOnlyGoodBlocksAndAnUnsignedTail) {
  TempDir dir;
  LogChain chain;
  LogBuilder done(chain), live(chain);
  if (GetParam()) done.CrLf(), live.CrLf();
  done.DataLines(4, "earlier ").Sign();
  for (int block = 0; block < 12; ++block) live.DataLines(1 + block % 4, "event ").Sign();
  live.Data("still open");
  done.WriteTo(dir / "System_1.log");
  WriteFile(dir / "system.log", Bytes{});
  // After each piece the writer waits for a whole run, so every cut is verified.
  std::atomic<bool> writing = true;
  std::atomic<int> runs = 0;
  int pieces = 0, runsWithTail = 0;
  std::uint32_t mostBlocks = 0;
  std::jthread writer([&] {
    std::mt19937 random(GetParam() ? 11 : 7);
    std::ofstream out(dir / "system.log", std::ios::binary | std::ios::app);
    const Bytes& bytes = live.bytes();
    for (std::size_t at = 0; at < bytes.size(); ++pieces) {
      const std::size_t piece = std::min<std::size_t>(1 + random() % 97, bytes.size() - at);
      out.write(reinterpret_cast<const char*>(bytes.data() + at), std::streamsize(piece)).flush();
      at += piece;
      // Woken by each run's end rather than polling a clock.
      const int seen = runs;
      for (int now = seen; now < seen + 2; now = runs) runs.wait(now);
    }
    writing = false;
  });
  const std::vector<std::wstring> paths = {WidePath(dir / "System_1.log"),
                                           WidePath(dir / "system.log")};
  // Each block held, and each read again from the file.
  const auto check = [&] {
    for (const VerifyLimits& limits : {VerifyLimits{}, kReadAgain}) {
      const auto results = VerifyRun(paths, limits);
      ASSERT_EQ(results.size(), 2u);
      for (const auto& result : results) {
        EXPECT_EQ(result.badBlockCount, 0u) << "run " << runs.load();
        for (const auto& block : result.blocks)
          EXPECT_EQ(block.verdict, BlockUnsigned) << "run " << runs.load();
      }
      runsWithTail += !results.back().blocks.empty();
      mostBlocks = std::max(mostBlocks, results.back().blockCount);
    }
    ++runs;
    runs.notify_all();
  };
  while (writing) check();
  writer.join();
  check();
  Verify(paths);  // once the file stands still, both ways alike
  EXPECT_GE(runs.load(), 2 * pieces);
  EXPECT_GT(runsWithTail, 0);
  EXPECT_EQ(mostBlocks, 13u);  // 12 signed blocks and the open tail, all seen at the end
}

INSTANTIATE_TEST_SUITE_P(LineEnds, LiveWriter, ::testing::Bool(),
                         [](const auto& info) { return info.param ? "crlf" : "lf"; });

}  // namespace
}  // namespace qve
