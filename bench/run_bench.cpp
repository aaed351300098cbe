// SPDX-License-Identifier: Apache-2.0
// A C host's verification run against the command's on the same chain: the
// host with no lent thread and with two asleep in qve_run_work_wait, the
// command with one thread and with three (its own and two more).
#include <QVEHelper.h>
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "tools/writer/keys.h"
#include "tools/writer/log_signer.h"

namespace {

namespace fs = std::filesystem;

// About 32 MB of log lines in one signed chain, a block every 100 lines.
class Chain {
 public:
  Chain() : folder_(fs::temp_directory_path() / "qve-bench-run") {
    fs::create_directories(folder_);
    const fs::path text = folder_ / "plain.txt";
    {
      std::ofstream out(text, std::ios::binary | std::ios::trunc);
      const std::string pad(120, 'x');
      for (int i = 0; i < 300'000; ++i)
        out << "2026-12-05T18:00:00Z host service[" << i << "]: " << pad.substr(0, 40 + i % 80)
            << '\n';
    }
    const auto key =
        qve::writer::LoadPrivateKeyPem(QVE_SOURCE_DIR "/keys/dev/verification-private.pem");
    fs::create_directories(folder_ / "logs");
    std::ofstream log(folder_ / "logs" / "system.log", std::ios::binary | std::ios::trunc);
    qve::writer::LogSignerOptions signing;
    signing.key = key.get();
    signing.id = 1;
    signing.linesPerBlock = 100;
    qve::writer::SignLog(text.string(), log, signing);
    fs::remove(text);
  }
  ~Chain() { fs::remove_all(folder_); }

  fs::path logs() const { return folder_ / "logs"; }

 private:
  fs::path folder_;
};

const Chain& TheChain() {
  static const Chain chain;
  return chain;
}

void BM_HostRun(benchmark::State& state) {
  const std::string logs = TheChain().logs().string();
  for (auto _ : state) {
    qve_run_options options = QVE_RUN_OPTIONS_INIT;
    qve_run* run = nullptr;
    if (qve_run_create(&options, &run) != 0 || qve_run_add(run, logs.c_str()) != 0) {
      state.SkipWithError(qve_last_message());
      break;
    }
    std::vector<std::thread> lent;
    for (int64_t i = 0; i < state.range(0); ++i)
      lent.emplace_back([run] { qve_run_work_wait(run); });
    int kind;
    while ((kind = qve_run_next(run)) > 0 && kind != QVE_EVENT_DONE)
      benchmark::DoNotOptimize(kind == QVE_EVENT_BLOCK ? qve_run_block_verdict(run) : kind);
    for (std::thread& thread : lent) thread.join();
    if (kind != QVE_EVENT_DONE || qve_run_status(run) != QVE_STATUS_OK)
      state.SkipWithError("the chain does not verify");
    qve_run_free(run);
  }
}
BENCHMARK(BM_HostRun)->Arg(0)->Arg(2)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_Command(benchmark::State& state) {
  const std::string command = std::string(QVE_CLI_FILE) + " verify -j " +
                              std::to_string(state.range(0)) + " " + TheChain().logs().string() +
                              " >/dev/null";
  for (auto _ : state) {
    if (std::system(command.c_str()) != 0) state.SkipWithError("the command does not verify");
  }
}
BENCHMARK(BM_Command)->Arg(1)->Arg(3)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
