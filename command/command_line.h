// SPDX-License-Identifier: Apache-2.0
// The shared frame of the qvehelper and qvehelper-dev commands: each
// subcommand registers itself from its own file, so adding one touches
// nothing else.
//
// Error style of the commands: a command that cannot go on throws
// CommandError, which RunCommandLine turns into its message on standard
// error and its exit status. What a command reports and goes on after
// (a result per file, a warning) it prints itself.
#pragma once

#include <CLI/CLI.hpp>

#include <functional>
#include <stdexcept>
#include <string>
#include <system_error>
#include <vector>

#include "platform/command_text.h"
#include "platform/folder_walk.h"

namespace qve::platform {
struct SkippedEntry;
}

namespace qve::command {

// The exit statuses of every command, one table: 0 for success, below 64 a
// command's own results (decrypt's and check's 1-13, verify's 1-3), and
// these, as sysexits.h numbers them. Their meanings, as --help words them,
// stand beside them in command_line.cpp.
inline constexpr int kUsageError = 64;     // a command line that cannot be used
inline constexpr int kDataError = 65;      // an input of the wrong kind
inline constexpr int kNoInput = 66;        // an input that does not exist or cannot be read
inline constexpr int kSoftwareError = 70;  // a failure inside the work itself
inline constexpr int kCannotCreate = 73;   // an output that cannot be created or put in place
inline constexpr int kOutputError = 74;    // an output that does not take the data
inline constexpr int kBusy = 75;           // another run holds what this one needs; try later

// One line of a command's exit statuses: a status of the table, with what
// it means for this command if `detail` says more, or a range of the
// command's own results with their meaning.
struct ExitStatus {
  ExitStatus(int status, std::string detail = {})
      : first(status), last(status), text(std::move(detail)) {}
  ExitStatus(int first, int last, std::string meaning)
      : first(first), last(last), text(std::move(meaning)), own(true) {}
  int first;
  int last;
  std::string text;
  bool own = false;
};

// The footer of a command's --help: its exit statuses in order. 0, 64, 70
// and 74 are there for every command, which the frame gives them.
std::string ExitStatusHelp(std::vector<ExitStatus> statuses);

// -j/--jobs N, with the one limit of every command that runs work at once.
inline constexpr unsigned kMaxJobs = 256;
CLI::Option* AddJobsOption(CLI::App& command, unsigned& jobs, const std::string& description);

// Ends a command: RunCommandLine prints "PROGRAM COMMAND: " before each line
// of the message and exits with `status`.
struct CommandError : std::runtime_error {
  CommandError(int status, const std::string& message)
      : std::runtime_error(message), status(status) {}
  int status;
};

// Adds the subcommand's options to `command` and returns what runs it once
// the command line has been parsed; the action's result is the exit status.
using CommandSetup = std::function<std::function<int()>(CLI::App& command)>;

// Call from a namespace-scope initialiser in the subcommand's file.
bool RegisterCommand(std::string name, std::string description, CommandSetup setup);

// Parses argv against the registered subcommands and runs the chosen one.
// Usage errors (a CommandError of kUsageError too) print the usage line,
// the message and where the help is to stderr and give kUsageError; a CommandError its message and
// status; any other exception its message and kSoftwareError; a standard output that does not take
// what was written gives kOutputError. `backslashQuote` says how Windows reads a backslash before a
// quote.
int RunCommandLine(const std::string& program, const std::string& description, int argc,
                   char** argv,
                   platform::BackslashQuote backslashQuote = platform::BackslashQuote::Escapes);

// The program name, for messages: "qvehelper decrypt: ...".
const std::string& ProgramName();

// "PROGRAM COMMAND: " before each line of `message`, on standard error: what
// ends the command, and what it says and goes on after.
void Say(const std::string& message);

// "warning: PATH: MESSAGE" on standard error, both escaped.
void Warn(const std::string& path, const std::string& message);

using qve::platform::SkippedText;

// The arguments of this run, program name first, as RunCommandLine got them.
const std::vector<std::string>& CommandLineArguments();

// PATH arguments with their wildcards expanded where the shell leaves them to
// the program (Windows); "-" stays. A pattern that matches nothing ends the
// command with kNoInput, naming it.
std::vector<std::string> ExpandPathArguments(const std::vector<std::string>& arguments);

}  // namespace qve::command
