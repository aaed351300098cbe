// SPDX-License-Identifier: Apache-2.0
// A whole verification run over hostile log files. The input is split into
// one to three files at the positions its first bytes choose; every file must
// come back with a consistent result and no run may crash or leak.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "fuzz/scratch_files.h"
#include "platform/paths.h"
#include "verify/verify_files.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 3) return 0;
  static const std::string folder = qve::fuzz::ScratchFolder("verify");
  static const char* const kNames[] = {"System_1.log", "System_2.log", "system.log"};

  const std::size_t fileCount = 1 + data[0] % 3;
  const std::vector<std::string> written =
      qve::fuzz::WriteCutInto(folder, {kNames, kNames + fileCount}, data, size);
  std::vector<std::wstring> paths;
  for (const auto& path : written) paths.push_back(*qve::platform::ToWide(path));

  qve::FileVerifier verifier;
  qve::VerifyFiles(verifier, paths);
  if (verifier.results.size() != fileCount) std::abort();
  for (const auto& result : verifier.results) {
    if (result.badBlockCount > result.blockCount || result.blocks.size() > result.blockCount)
      std::abort();
    std::uint32_t bad = 0;
    for (const auto& block : result.blocks) {
      if (block.verdict == qve::BlockOk) std::abort();
      bad += block.verdict >= qve::BlockInvalid;
    }
    if (bad != result.badBlockCount) std::abort();
  }
  // Every block read again from its file, lines in pieces of a few bytes.
  qve::FileVerifier again;
  qve::VerifyFiles(again, paths, {.heldBlockBytes = 0, .readBuffer = 2u + data[0] % 7});
  if (again.results != verifier.results) std::abort();
  for (const auto& path : written) std::remove(path.c_str());
  return 0;
}
