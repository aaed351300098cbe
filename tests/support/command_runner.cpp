#include "tests/support/command_runner.h"

#include <sys/wait.h>

#include <cstdlib>

#include "tests/support/temp_dir.h"

namespace qve::testing {

namespace {

std::string Quoted(const std::string& arg) {
  std::string quoted = "'";
  for (const char c : arg) {
    if (c == '\'') {
      quoted += "'\\''";
    } else {
      quoted += c;
    }
  }
  quoted += '\'';
  return quoted;
}

std::string AsText(const Bytes& bytes) { return std::string(bytes.begin(), bytes.end()); }

}  // namespace

CommandResult RunCommand(const std::string& program, const std::vector<std::string>& args) {
  TempDir capture;
  std::string line = Quoted(program);
  for (const auto& arg : args) {
    line += ' ';
    line += Quoted(arg);
  }
  line += " </dev/null >";
  line += Quoted((capture / "out").string());
  line += " 2>";
  line += Quoted((capture / "err").string());
  const int status = std::system(line.c_str());
  CommandResult result;
  if (status != -1 && WIFEXITED(status)) result.exitCode = WEXITSTATUS(status);
  result.out = AsText(ReadFile(capture / "out"));
  result.err = AsText(ReadFile(capture / "err"));
  return result;
}

}  // namespace qve::testing
