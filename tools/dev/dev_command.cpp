// SPDX-License-Identifier: Apache-2.0
#include "tools/dev/dev_command.h"

#include <charconv>
#include <cstdint>
#include <system_error>

#include "command/command_line.h"
#include "platform/file_status.h"
#include "platform/paths.h"
#include "tools/writer/unusable_input.h"

namespace qve::dev {

using command::CommandError;

const CLI::Validator& Digits() {
  static const CLI::Validator digits(
      [](std::string& text) {
        std::uint64_t value = 0;
        const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
        if (text.empty() || text.find_first_not_of("0123456789") != std::string::npos)
          return "not a number of digits: " + text;
        if (error != std::errc() || end != text.data() + text.size())
          return "a number past 64 bits: " + text;
        return std::string();
      },
      "DIGITS");
  return digits;
}

std::vector<command::OutputInput> Inputs(const std::vector<std::string>& paths) {
  std::vector<command::OutputInput> inputs;
  for (const auto& path : paths) {
    command::RefuseStandardStream(path, "a key or --chain-from");
    if (path.empty()) throw CommandError(command::kUsageError, "not a usable path: ''");
    const std::wstring wide = platform::ArgumentPath(path);
    const platform::FileStatus status = platform::StatusOf(wide);
    std::error_code why = status.error;
    if (status.kind != platform::FileKind::Missing) why = platform::ReadError(wide);
    if (why)
      throw CommandError(command::kNoInput,
                         "cannot open " + path + ": " + platform::ErrorText(why));
    inputs.push_back({path, status});
  }
  return inputs;
}

std::vector<std::string> FileInputs(const std::string& input) {
  if (input == command::kStandardStream) return {};
  return {input};
}

InputPath::InputPath(const std::string& argument) : path_(argument) {
  if (argument != command::kStandardStream) return;
  standardInput_.emplace("INPUT", command::StandardInput::Reading::Again);
  const auto narrow = platform::ToNarrow(standardInput_->path());
  if (!narrow)
    throw CommandError(command::kSoftwareError, "the copy of standard input has no usable name");
  path_ = *narrow;
}

int RunWriter(const std::function<void()>& work) {
  try {
    work();
  } catch (const writer::UnusableInput& e) {
    throw CommandError(command::kDataError, e.what());
  }
  return 0;
}

std::string WriterExitStatusHelp() {
  return command::ExitStatusHelp({
             {0, "OUTPUT holds the complete result"},
             {command::kUsageError,
              "a malformed option, OUTPUT the same file as an input, or - where it cannot be"},
             {command::kDataError,
              "a key is not an RSA key of the kind needed, an input line would not read back as "
              "itself (it reads as a signature line, or holds 0x1A or a NUL), or --chain-from "
              "names a "
              "log with no signature line"},
             {command::kNoInput, "an input, a key or the development keys cannot be found or read"},
             {command::kCannotCreate, "OUTPUT"},
             {command::kOutputError, "OUTPUT or standard output"},
         }) +
         "OUTPUT is replaced only by a complete result; on any failure it stays as it was.\n";
}

}  // namespace qve::dev
