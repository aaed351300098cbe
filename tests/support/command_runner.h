// Runs a built program as a subprocess and keeps what it printed.
#pragma once

#include <string>
#include <vector>

namespace qve::testing {

struct CommandResult {
  int exitCode = -1;
  std::string out;
  std::string err;
};

CommandResult RunCommand(const std::string& program, const std::vector<std::string>& args);

}  // namespace qve::testing
