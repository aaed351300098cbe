// SPDX-License-Identifier: Apache-2.0
// What the qvehelper-dev commands share beyond the frame: their inputs are
// checked before OUTPUT is touched (command/output_file.h writes it), INPUT and
// OUTPUT may be - for the standard streams, and what the writer cannot use
// ends with the exit status the table gives an input of the wrong kind.
#pragma once

#include <CLI/CLI.hpp>

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "command/output_file.h"
#include "command/standard_input.h"

namespace qve::dev {

// For options that take a number: digits only, so "-1" is not read as a huge
// unsigned value; CLI11 then refuses what does not fit the type.
const CLI::Validator& Digits();

// The inputs as OUTPUT must not be: throws CommandError, kUsageError for a
// path that is empty, not UTF-8 or -, kNoInput with the system's reason for
// one that does not exist or cannot be read.
std::vector<command::OutputInput> Inputs(const std::vector<std::string>& paths);

// INPUT as a file OUTPUT must not be: none for -.
std::vector<std::string> FileInputs(const std::string& input);

// INPUT by a path the writer opens: a copy of standard input for -.
class InputPath {
 public:
  explicit InputPath(const std::string& argument);
  // The path, in the narrow form the writer takes.
  const std::string& path() const { return path_; }

 private:
  std::optional<command::StandardInput> standardInput_;
  std::string path_;
};

// Runs the work; an input the writer cannot use (writer::UnusableInput)
// ends as CommandError(kDataError).
int RunWriter(const std::function<void()>& work);

// The exit statuses both commands share.
std::string WriterExitStatusHelp();

}  // namespace qve::dev
