// SPDX-License-Identifier: Apache-2.0
#include <benchmark/benchmark.h>

#include <string>
#include <vector>

#include "crypto/block_check.h"
#include "crypto/built_in_keys.h"
#include "crypto/digest.h"
#include "format/base64.h"
#include "tools/writer/keys.h"
#include "tools/writer/signature_block_writer.h"

namespace {

using qve::Bytes;

// A block as the writer makes it, over `lines` log lines of ~120 bytes.
struct SignedFixture {
  std::vector<std::string> lines;
  Bytes block;
  Bytes link = qve::ComputeDigest({});
  Bytes covered;  // each line, then 0x00

  explicit SignedFixture(int lineCount) {
    for (int i = 0; i < lineCount; ++i)
      lines.push_back("2026-12-05T17:53:00Z service[" + std::to_string(i) +
                      "]: a log line of typical length, padded to about one hundred and twenty");
    const auto key =
        qve::writer::LoadPrivateKeyPem(QVE_SOURCE_DIR "/keys/dev/verification-private.pem");
    block = qve::writer::SignBlock(key.get(), {1, "bench", link}, lines);
    for (const auto& line : lines) {
      covered.insert(covered.end(), line.begin(), line.end());
      covered.push_back(0x00);
    }
  }
};

void BM_DecodeBase64(benchmark::State& state) {
  const std::string text = qve::writer::EncodeBase64(qve::writer::RandomBytes(state.range(0)));
  for (auto _ : state) benchmark::DoNotOptimize(qve::DecodeBase64(text));
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(text.size()));
}
BENCHMARK(BM_DecodeBase64)->Arg(300)->Arg(4096)->Arg(1 << 20);

void BM_ParseSignatureBlock(benchmark::State& state) {
  const SignedFixture fixture(0);
  for (auto _ : state) {
    qve::SignatureBlock block;
    benchmark::DoNotOptimize(qve::ParseSignatureBlock(fixture.block, block));
  }
}
BENCHMARK(BM_ParseSignatureBlock);

void BM_CheckSignatureBlock(benchmark::State& state) {
  const SignedFixture fixture(static_cast<int>(state.range(0)));
  const qve::VerificationKey key;
  qve::VerifyContext context(key.pkey());
  for (auto _ : state) {
    const auto result =
        qve::CheckSignatureBlock(fixture.link, fixture.covered, fixture.block, context);
    if (result != qve::BlockCheckResult::Valid) state.SkipWithError("block did not verify");
  }
  state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_CheckSignatureBlock)->Arg(0)->Arg(100)->Arg(1000);

void BM_ComputeDigest(benchmark::State& state) {
  const Bytes data = qve::writer::RandomBytes(state.range(0));
  for (auto _ : state) benchmark::DoNotOptimize(qve::ComputeDigest(data));
  state.SetBytesProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_ComputeDigest)->Arg(0)->Arg(300)->Arg(1 << 20);

}  // namespace
