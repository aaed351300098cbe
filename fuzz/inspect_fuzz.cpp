// SPDX-License-Identifier: Apache-2.0
// inspect on a hostile file, read both as a container (with the in-memory
// seal pass) and as a log: nothing may crash or leak, and what is printed
// stays lines of text that hide nothing, whatever the file holds.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <string>

#include "cli/inspect.h"

namespace {

// Every line printed shows as it is: the escaper has nothing left to do.
void Inspect(const std::string& path, qve::cli::ReadAs kind, bool json) {
  std::ostringstream out;
  qve::cli::InspectFile(path, {kind, true, json}, out);
  std::istringstream lines(out.str());
  for (std::string line; std::getline(lines, line);) {
    if (qve::command::Escaped(line) != line) std::abort();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const std::string path = "/tmp/qve-fuzz-inspect-" + std::to_string(::getpid());
  std::FILE* file = std::fopen(path.c_str(), "wb");
  if (file == nullptr) std::abort();
  std::fwrite(data, 1, size, file);
  std::fclose(file);
  for (const bool json : {false, true}) {
    Inspect(path, qve::cli::ReadAs::Container, json);
    Inspect(path, qve::cli::ReadAs::Log, json);
  }
  std::remove(path.c_str());
  return 0;
}
