// How the qvehelper-dev commands write: every argument and input is checked
// before OUTPUT is touched, and OUTPUT is replaced only by a complete file.
#pragma once

#include <CLI/CLI.hpp>

#include <functional>
#include <ostream>
#include <stdexcept>
#include <string>
#include <vector>

namespace qve::dev {

// An input, a key or --chain-from that cannot be used.
inline constexpr int kCannotUse = 1;

// A failure with the exit status it ends the command with.
struct CommandError : std::runtime_error {
  CommandError(int status, const std::string& message)
      : std::runtime_error(message), status(status) {}
  int status;
};

// For options that take a number: digits only, so "-1" is not read as a huge
// unsigned value; CLI11 then refuses what does not fit the type.
const CLI::Validator& Digits();

// Throws CommandError (64) unless every path is non-empty, UTF-8 and names a
// file other than `output`; an input that does not exist gives kCannotUse.
void CheckPaths(const std::vector<std::string>& inputs, const std::string& output);

// Runs `write` on a stream into a temporary file beside OUTPUT (links
// followed) and puts the file in place when `write` returns and every byte
// reached the disk. On any failure OUTPUT is left as it was.
void WriteOutput(const std::string& output, const std::function<void(std::ostream&)>& write);

// Runs the command's work and turns what it throws into a message and an exit
// status: CommandError's own, kCannotUse for any other failure of the work.
int RunReporting(const std::string& command, const std::function<void()>& work);

}  // namespace qve::dev
