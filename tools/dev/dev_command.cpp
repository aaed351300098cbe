#include "tools/dev/output_file.h"

#include <cerrno>
#include <charconv>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <system_error>

#include "cli/command_line.h"
#include "platform/file_status.h"
#include "platform/paths.h"
#include "platform/temp_output.h"

namespace qve::dev {

namespace {

std::wstring Wide(const std::string& path) {
  auto wide = platform::ToWide(path);
  if (path.empty() || !wide)
    throw CommandError(cli::kUsageError, "not a usable path: '" + path + "'");
  return *wide;
}

}  // namespace

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

void CheckPaths(const std::vector<std::string>& inputs, const std::string& output) {
  const platform::FileStatus target = platform::StatusOf(Wide(output));
  if (target.kind == platform::FileKind::Folder || target.kind == platform::FileKind::Other)
    throw CommandError(cli::kCannotCreate, output + " is " + target.what + ", not a regular file");
  for (const auto& input : inputs) {
    const platform::FileStatus status = platform::StatusOf(Wide(input));
    if (status.kind == platform::FileKind::Missing)
      throw CommandError(kCannotUse,
                         "cannot open " + input + ": " + platform::ErrorText(status.error));
    if (status.SameFileAs(target))
      throw CommandError(cli::kUsageError, input + " and " + output + " are the same file");
  }
}

void WriteOutput(const std::string& output, const std::function<void(std::ostream&)>& write) {
  const std::wstring target = platform::FinalPath(Wide(output));
  std::error_code error;
  const auto temporary = platform::TempOutput::Create(platform::FolderOf(target), error);
  if (!temporary)
    throw CommandError(cli::kCannotCreate,
                       "cannot create a file beside " + output + ": " + cli::Reason(error));
  {
    std::ofstream out(std::filesystem::path(temporary->path()), std::ios::binary);
    if (!out) throw CommandError(cli::kCannotCreate, "cannot open a file beside " + output);
    // A stream that stopped taking bytes is the cause, whatever the work threw.
    const auto cannotWrite = [&] {
      return CommandError(cli::kOutputError, "cannot write " + output + ": " +
                                                 cli::Reason({errno, std::generic_category()}));
    };
    try {
      errno = 0;
      write(out);
    } catch (const std::exception&) {
      if (!out) throw cannotWrite();
      throw;
    }
    out.close();
    if (!out) throw cannotWrite();
  }
  temporary->Publish(target, error);
  if (error)
    throw CommandError(cli::kCannotCreate, "cannot replace " + output + ": " + cli::Reason(error));
}

int RunReporting(const std::string& command, const std::function<void()>& work) {
  try {
    work();
    return 0;
  } catch (const CommandError& e) {
    std::cerr << cli::ProgramName() << ' ' << command << ": " << e.what() << '\n';
    return e.status;
  } catch (const std::exception& e) {
    std::cerr << cli::ProgramName() << ' ' << command << ": " << e.what() << '\n';
    return kCannotUse;
  }
}

}  // namespace qve::dev
