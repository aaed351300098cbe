// SPDX-License-Identifier: Apache-2.0
#include <benchmark/benchmark.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>

#include "verify/log_line.h"
#include "verify/text_reader.h"

namespace {

// About 8 MB of log lines of 80 to 200 bytes, one signature line in 101.
class LogFile {
 public:
  LogFile() : path_(std::filesystem::temp_directory_path() / "qve-bench-log-reader.log") {
    std::ofstream out(path_, std::ios::binary | std::ios::trunc);
    const std::string pad(200, 'x');
    for (int i = 0; bytes_ < 8'000'000; ++i) {
      std::string line = "2026-12-05T18:00:00Z host service[" + std::to_string(i) + "]: ";
      line += pad.substr(0, static_cast<std::size_t>(80 + (i * 7919) % 121) - line.size());
      if (i % 101 == 100) line = "\x1f" + std::string(340, 'Q') + "\x1f";
      line += '\n';
      out << line;
      bytes_ += line.size();
    }
  }
  ~LogFile() { std::filesystem::remove(path_); }

  std::string path() const { return path_.string(); }
  std::size_t bytes() const { return bytes_; }

 private:
  std::filesystem::path path_;
  std::size_t bytes_ = 0;
};

// Reading and classifying every line, as the verifier does before any
// cryptography.
void BM_LogLineReader(benchmark::State& state) {
  const LogFile file;
  std::size_t signatures = 0;
  for (auto _ : state) {
    qve::TextLineReader reader(file.path());
    std::string_view piece;
    bool lineEnds = false;
    qve::LineText line;
    while (reader.NextPiece(&piece, &lineEnds)) {
      benchmark::DoNotOptimize(line.Counted(piece).data());
      if (!lineEnds) continue;
      signatures += line.isSignature() ? 1 : 0;
      line = qve::LineText{};
    }
  }
  benchmark::DoNotOptimize(signatures);
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(file.bytes()));
}
BENCHMARK(BM_LogLineReader)->Unit(benchmark::kMillisecond);

}  // namespace
