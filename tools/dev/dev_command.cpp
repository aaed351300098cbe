#include "tools/dev/dev_command.h"

#include <charconv>
#include <cstdint>
#include <system_error>

#include "cli/command_line.h"
#include "platform/file_status.h"
#include "platform/paths.h"

namespace qve::dev {

using cli::CommandError;

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

std::vector<cli::OutputInput> Inputs(const std::vector<std::string>& paths) {
  std::vector<cli::OutputInput> inputs;
  for (const auto& path : paths) {
    if (path.empty()) throw CommandError(cli::kUsageError, "not a usable path: ''");
    const platform::FileStatus status = platform::StatusOf(platform::ArgumentPath(path));
    if (status.kind == platform::FileKind::Missing)
      throw CommandError(kCannotUse,
                         "cannot open " + path + ": " + platform::ErrorText(status.error));
    inputs.push_back({path, status});
  }
  return inputs;
}

int RunWriter(const std::function<void()>& work) {
  try {
    work();
  } catch (const CommandError&) {
    throw;
  } catch (const std::exception& e) {
    throw CommandError(kCannotUse, e.what());
  }
  return 0;
}

}  // namespace qve::dev
