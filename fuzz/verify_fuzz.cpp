// SPDX-License-Identifier: Apache-2.0
// A whole verification run over hostile log files. The input is split into
// one to three files at the positions its first bytes choose; every file must
// come back with a consistent result and no run may crash or leak.
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "platform/paths.h"
#include "verify/verify_files.h"

namespace {

void Write(const std::string& path, const std::uint8_t* data, std::size_t size) {
  std::FILE* file = std::fopen(path.c_str(), "wb");
  if (file == nullptr) std::abort();
  std::fwrite(data, 1, size, file);
  std::fclose(file);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 3) return 0;
  static const std::string folder = [] {
    std::string name = "/tmp/qve-fuzz-verify-" + std::to_string(::getpid());
    ::mkdir(name.c_str(), 0700);
    return name;
  }();
  static const char* const kNames[] = {"System_1.log", "System_2.log", "system.log"};

  const std::size_t fileCount = 1 + data[0] % 3;
  const std::uint8_t* body = data + 3;
  const std::size_t bodySize = size - 3;
  std::size_t cuts[4] = {0, 0, 0, bodySize};
  cuts[1] = bodySize == 0 ? 0 : data[1] * bodySize / 255;
  cuts[2] = bodySize == 0 ? 0 : std::max<std::size_t>(cuts[1], data[2] * bodySize / 255);
  if (fileCount == 1) cuts[1] = cuts[2] = 0;
  if (fileCount == 2) cuts[2] = cuts[1];

  std::vector<std::wstring> paths;
  std::vector<std::string> written;
  for (std::size_t i = 0; i < fileCount; ++i) {
    const std::size_t from = cuts[i == 0 ? 0 : i];
    const std::size_t to = i + 1 == fileCount ? bodySize : cuts[i + 1];
    const std::string path = folder + "/" + kNames[i];
    Write(path, body + from, to - from);
    written.push_back(path);
    paths.push_back(*qve::platform::ToWide(path));
  }

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
