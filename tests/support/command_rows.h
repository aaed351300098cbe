// SPDX-License-Identifier: Apache-2.0
// What the command tests share: logs of one chain written from scripts, shell
// steps in a test's folder, and table rows named by their `name`.
#pragma once

#include <filesystem>
#include <iterator>
#include <ostream>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

#include "tests/support/builders.h"
#include "tests/support/command_runner.h"

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

// Instantiates `suite` on `rows`, each test named and printed by its row's `name`.
#define QVE_NAMED_ROWS(suite, rows)                                                   \
  [[maybe_unused]] void PrintTo(const std::decay_t<decltype(*std::begin(rows))>& row, \
                                std::ostream* os) {                                   \
    *os << row.name;                                                                  \
  }                                                                                   \
  INSTANTIATE_TEST_SUITE_P(Rows, suite, ::testing::ValuesIn(rows),                    \
                           [](const auto& info) { return std::string(info.param.name); })
