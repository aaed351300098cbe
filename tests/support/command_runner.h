// SPDX-License-Identifier: Apache-2.0
// Runs a built program in a forked child, as a user would, and keeps what it printed.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <filesystem>
#include <functional>
#include <set>
#include <string>
#include <vector>

namespace qve::testing {

struct CommandResult {
  int exitCode = -1;  // 128 + the signal for a child that a signal ended
  std::string out;
  std::string err;
};

struct Command {
  std::string program = {};
  std::vector<std::string> args = {};
  std::string folder = {};   // where it runs; the test's own when empty
  std::string input = {};    // its standard input
  bool inputInFifo = false;  // `input` in a FIFO whose writer has gone, as a producer leaves it
  // A file standard output goes to; captured when empty, closed when "-",
  // captured through a pipe when "|", a pipe whose reader has gone when "|x".
  std::string outputTo = {};
  std::vector<std::string> environment = {};  // NAME=value, added to the test's own
  bool errorToTerminal = false;               // standard error on a pseudo-terminal
  bool errorClosed = false;
  bool asNobody = false;       // drop to the unprivileged user before exec
  unsigned openFileLimit = 0;  // RLIMIT_NOFILE when not 0
  unsigned fileSizeLimit = 0;  // RLIMIT_FSIZE when not 0
  // Standard input is a pipe instead, whose write end this gets in the parent
  // before the wait; the runner closes it afterwards.
  std::function<void(pid_t, int)> feedInput = {};
  // A guard, not a timing: a command that waits for good is ended by SIGALRM
  // after this many seconds, so a test fails instead of hanging. 0: none.
  unsigned hangGuardSeconds = 0;
};

CommandResult Run(const Command& command);

// `how` run as `program subcommand args...` in `folder`.
Command InFolder(Command how, const std::string& program, const std::string& subcommand,
                 std::vector<std::string> args, const std::string& folder);
CommandResult RunCommand(const std::string& program, const std::vector<std::string>& args);

// Writes `whole` into the pipe `to`; with a signal, all but its last 1000
// bytes and then the signal, while the child waits for the rest.
void FeedPipe(pid_t child, int to, const std::vector<std::uint8_t>& whole, int signal);

// The names in a folder.
std::set<std::string> NamesIn(const std::filesystem::path& folder);

// The user that asNobody drops to, for chown in a test's setup.
unsigned NobodyUid();
unsigned NobodyGid();

}  // namespace qve::testing
