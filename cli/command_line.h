// The shared frame of the qvehelper and qvehelper-dev commands: each
// subcommand registers itself from its own file, so adding one touches
// nothing else.
#pragma once

#include <CLI/CLI.hpp>

#include <functional>
#include <string>
#include <vector>

namespace qve::cli {

// Exit status for a command line that cannot be parsed.
inline constexpr int kUsageError = 64;

// Adds the subcommand's options to `command` and returns what runs it once
// the command line has been parsed; the action's result is the exit status.
using CommandSetup = std::function<std::function<int()>(CLI::App& command)>;

// Call from a namespace-scope initialiser in the subcommand's file.
bool RegisterCommand(std::string name, std::string description, CommandSetup setup);

// Parses argv against the registered subcommands and runs the chosen one.
// Usage errors print the message and the usage to stderr and give kUsageError.
int RunCommandLine(const std::string& program, const std::string& description, int argc,
                   char** argv);

// The arguments of this run, program name first, as RunCommandLine got them.
const std::vector<std::string>& CommandLineArguments();

}  // namespace qve::cli
