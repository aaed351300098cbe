// SPDX-License-Identifier: Apache-2.0
// What the command tests share: logs of one chain written from scripts, shell
// steps in a test's folder.
#pragma once

#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "tests/support/builders.h"
#include "tests/support/command_runner.h"
#include "tests/support/harness.h"

namespace qve::testing {

// Files of one chain in the order given, each from a LogBuilder script.
inline void WriteChain(const std::filesystem::path& dir,
                       const std::vector<std::pair<std::string, std::string>>& files) {
  LogChain chain;
  for (const auto& [name, script] : files) {
    std::filesystem::create_directories((dir / name).parent_path());
    LogBuilder(chain).Script(script).WriteTo(dir / name);
  }
}

// `script` run by /bin/sh in `dir`, $Q naming qvehelper: its exit status.
inline int Shell(const std::filesystem::path& dir, const std::string& script) {
  return Run({.program = "/bin/sh",
              .args = {"-c", script},
              .folder = dir.string(),
              .environment = {"Q=" QVE_CLI_FILE}})
      .exitCode;
}

}  // namespace qve::testing
