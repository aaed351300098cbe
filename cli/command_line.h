// The shared frame of the qvehelper and qvehelper-dev commands: each
// subcommand registers itself from its own file, so adding one touches
// nothing else.
#pragma once

#include <CLI/CLI.hpp>

#include <functional>
#include <string>
#include <system_error>
#include <vector>

namespace qve::cli {

// Exit statuses beyond a command's own results (sysexits.h).
inline constexpr int kUsageError = 64;     // a command line that cannot be used
inline constexpr int kDataError = 65;      // an input that is not what it must be
inline constexpr int kNoInput = 66;        // an input that does not exist
inline constexpr int kSoftwareError = 70;  // a failure inside the work itself
inline constexpr int kCannotCreate = 73;   // an output that cannot be put in place
inline constexpr int kOutputError = 74;    // writing an output or standard output failed

// Adds the subcommand's options to `command` and returns what runs it once
// the command line has been parsed; the action's result is the exit status.
using CommandSetup = std::function<std::function<int()>(CLI::App& command)>;

// Call from a namespace-scope initialiser in the subcommand's file.
bool RegisterCommand(std::string name, std::string description, CommandSetup setup);

// Parses argv against the registered subcommands and runs the chosen one.
// Usage errors print the message and the usage to stderr and give
// kUsageError; a standard output that does not take what was written gives
// kOutputError.
int RunCommandLine(const std::string& program, const std::string& description, int argc,
                   char** argv);

// The program name, for messages: "qvehelper decrypt: ...".
const std::string& ProgramName();

// An error's text as messages show it, in lower case: "no space left on device".
std::string Reason(const std::error_code& error);

// The footer of a command's --help: its every exit status, one a line.
std::string ExitStatusHelp(const std::string& ownStatuses);

// The arguments of this run, program name first, as RunCommandLine got them.
const std::vector<std::string>& CommandLineArguments();

}  // namespace qve::cli
