// SPDX-License-Identifier: Apache-2.0
#include <benchmark/benchmark.h>

#include <cstdint>
#include <span>

#include "decrypt/byte_ring.h"
#include "decrypt/crc32.h"
#include "decrypt/seal_trailer.h"
#include "format/bytes.h"
#include "tools/writer/container_writer.h"
#include "tools/writer/keys.h"

namespace {

using qve::Bytes;

void BM_Crc32Update(benchmark::State& state) {
  const Bytes data = qve::writer::RandomBytes(static_cast<std::size_t>(state.range(0)));
  for (auto _ : state)
    benchmark::DoNotOptimize(qve::Crc32Update(qve::kCrc32Start, data.data(), data.size()));
  state.SetBytesProcessed(state.iterations() * state.range(0));
}
// A key block is 36 bytes; the larger sizes show the per-byte cost.
BENCHMARK(BM_Crc32Update)->Arg(36)->Arg(4096)->Arg(1 << 20);

// What the decryption does per chunk: append it to the trailing window.
void BM_ByteRingAppend(benchmark::State& state) {
  const Bytes chunk = qve::writer::RandomBytes(static_cast<std::size_t>(state.range(0)));
  qve::ByteRing ring(qve::kWindowSize);
  for (auto _ : state) {
    ring.Append(chunk);
    benchmark::DoNotOptimize(ring.size());
  }
  state.SetBytesProcessed(state.iterations() * state.range(0));
}
// 4096 is the chunk size; 4112 and 100 leave the ring unaligned to it.
BENCHMARK(BM_ByteRingAppend)->Arg(100)->Arg(4096)->Arg(4112)->Arg(20000);

// The window as the decryption leaves it: plaintext ending in a trailer.
void BM_ParseSeal(benchmark::State& state) {
  qve::ByteRing window(qve::kWindowSize);
  const Bytes body = qve::writer::RandomBytes(20000);
  const Bytes trailer = qve::writer::EncodeSeal({.keyId = qve::KeyIdOf(qve::kVerificationKeyNumber),
                                                 .signature = qve::writer::RandomBytes(256)});
  window.Append(body);
  window.Append(trailer);
  Bytes keyId;
  Bytes signature;
  for (auto _ : state) {
    if (qve::ParseSeal(window.Contents(), keyId, signature) != trailer.size())
      state.SkipWithError("trailer not recognised");
  }
}
BENCHMARK(BM_ParseSeal);

}  // namespace
