// SPDX-License-Identifier: Apache-2.0
// The files a fuzz target writes its input into: a folder of the process's
// own (several fuzzing processes may run at once), and the input's body cut
// into up to three logs where its control bytes say.
#pragma once

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace qve::fuzz {

inline void WriteBytes(const std::string& path, const std::uint8_t* data, std::size_t size) {
  std::FILE* file = std::fopen(path.c_str(), "wb");
  if (file == nullptr) std::abort();
  if (size > 0) std::fwrite(data, 1, size, file);
  std::fclose(file);
}

// /tmp/qve-fuzz-TARGET-PID, made on the first call.
inline std::string ScratchFolder(const char* target) {
  std::string name = std::string("/tmp/qve-fuzz-") + target + "-" + std::to_string(::getpid());
  ::mkdir(name.c_str(), 0700);
  return name;
}

// Writes the input after its first three bytes as names.size() files of
// `folder`, cut at data[1] and data[2] (in 255ths of the body), and gives
// their paths. The input holds at least three bytes.
inline std::vector<std::string> WriteCutInto(const std::string& folder,
                                             const std::vector<std::string>& names,
                                             const std::uint8_t* data, std::size_t size) {
  const std::uint8_t* body = data + 3;
  const std::size_t bodySize = size - 3, count = names.size();
  std::size_t cuts[4] = {0, 0, 0, bodySize};
  cuts[1] = data[1] * bodySize / 255;
  cuts[2] = std::max<std::size_t>(cuts[1], data[2] * bodySize / 255);
  if (count == 1) cuts[1] = cuts[2] = 0;
  if (count == 2) cuts[2] = cuts[1];
  std::vector<std::string> written;
  for (std::size_t i = 0; i < count; ++i) {
    const std::size_t to = i + 1 == count ? bodySize : cuts[i + 1];
    written.push_back(folder + "/" + names[i]);
    WriteBytes(written.back(), body + cuts[i], to - cuts[i]);
  }
  return written;
}

}  // namespace qve::fuzz
