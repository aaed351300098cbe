// A log that is still being written: one thread appends the last file of a
// chain in pieces that may end anywhere, mid-line and mid-signature, while
// the chain is verified again and again. A reader sees a prefix of the file;
// a cut-off last line is a data line (a signature line needs its closing
// marker), so no run may find a bad block, only a possibly unsigned tail.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "platform/paths.h"
#include "tests/support/log_builder.h"
#include "tests/support/temp_dir.h"
#include "verify/file_verifier.h"

namespace qve {
namespace {

namespace fs = std::filesystem;
using testing::LogBuilder;
using testing::LogChain;
using testing::TempDir;

struct LiveCase {
  const char* name;
  bool crlf;
};

class LiveWriterTest : public ::testing::TestWithParam<LiveCase> {};

TEST_P(LiveWriterTest, ARunSeesOnlyGoodBlocksAndAnUnsignedTail) {
  TempDir dir;
  LogChain chain;
  LogBuilder done(chain), live(chain);
  if (GetParam().crlf) {
    done.CrLf();
    live.CrLf();
  }
  done.DataLines(4, "earlier ").Sign();
  for (int block = 0; block < 12; ++block) live.DataLines(1 + block % 4, "event ").Sign();
  live.Data("still open");
  done.WriteTo(dir / "System_1.log");
  const fs::path livePath = dir / "system.log";
  { std::ofstream create(livePath, std::ios::binary); }

  // The writer waits after each piece until a run has started and ended
  // after it, so every cut is verified at least once, while other runs overlap
  // the writes themselves.
  std::atomic<bool> writing = true;
  int pieces = 0;
  std::atomic<int> runs = 0;
  std::jthread writer([&] {
    std::mt19937 random(GetParam().crlf ? 11 : 7);
    std::ofstream out(livePath, std::ios::binary | std::ios::app);
    const Bytes& bytes = live.bytes();
    for (std::size_t at = 0; at < bytes.size();) {
      const std::size_t piece = std::min<std::size_t>(1 + random() % 97, bytes.size() - at);
      out.write(reinterpret_cast<const char*>(bytes.data() + at),
                static_cast<std::streamsize>(piece));
      out.flush();
      at += piece;
      const int seen = runs;
      while (runs < seen + 2) std::this_thread::sleep_for(std::chrono::microseconds(50));
      ++pieces;
    }
    writing = false;
  });

  int runsWithTail = 0;
  std::uint32_t mostBlocks = 0;
  const auto check = [&] {
    std::vector<std::wstring> paths = {*platform::ToWide((dir / "System_1.log").string()),
                                       *platform::ToWide(livePath.string())};
    FileVerifier verifier;
    VerifyFiles(verifier, paths);
    ++runs;
    EXPECT_EQ(verifier.results.size(), 2u);
    for (const auto& result : verifier.results) {
      EXPECT_EQ(result.badBlockCount, 0u) << "run " << runs.load();
      for (const auto& block : result.blocks)
        EXPECT_EQ(block.verdict, BlockUnsigned)
            << "run " << runs.load() << ": lines " << block.firstLine << " to " << block.lastLine;
    }
    if (!verifier.results.back().blocks.empty()) ++runsWithTail;
    mostBlocks = std::max(mostBlocks, verifier.results.back().blockCount);
  };
  while (writing) check();
  writer.join();
  check();

  std::cout << GetParam().name << ": " << pieces << " pieces written, " << runs.load()
            << " runs during the write, " << runsWithTail << " with an unsigned tail\n";
  RecordProperty("runs", runs.load());
  EXPECT_GE(runs.load(), 2 * pieces);
  EXPECT_GT(runsWithTail, 0);
  EXPECT_EQ(mostBlocks, 13u);  // 12 signed blocks and the open tail, all seen at the end
}

INSTANTIATE_TEST_SUITE_P(LineEnds, LiveWriterTest,
                         ::testing::Values(LiveCase{"lf", false}, LiveCase{"crlf", true}),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace qve
