// SPDX-License-Identifier: Apache-2.0
// qvehelper inspect FILE...: tells a container from a log by its content and
// prints what the readers find in it, as text or one JSON object per line.
#include <CLI/CLI.hpp>

#include <algorithm>
#include <iostream>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "cli/frame.h"
#include "cli/inspect.h"
#include "command/standard_input.h"

namespace qve::cli {

using command::kStandardStream;
using command::StandardInput;

namespace {

struct InspectArguments {
  std::vector<std::string> paths;
  std::string as = "auto";
  InspectOptions options;
};

int RunInspect(InspectArguments& args) {
  if (args.as != "auto") args.options.as = args.as == "log" ? ReadAs::Log : ReadAs::Container;
  const std::vector<std::string> paths = ExpandPathArguments(args.paths);
  if (std::ranges::count(paths, "") > 0) throw CommandError(kUsageError, "FILE must not be empty");
  const auto dashes = std::ranges::count(paths, kStandardStream);
  if (dashes > 1) throw CommandError(kUsageError, "standard input (-) can be read only once");
  // Copied once into a file that can be read again: the kind is decided by
  // its first bytes, and a log's long blocks are read twice.
  std::optional<StandardInput> standardInput;
  if (dashes == 1) standardInput.emplace("FILE", StandardInput::Reading::Again);
  int status = 0;
  for (const std::string& path : paths) {
    // Nobody reads on: the frame says so and exits kOutputError.
    if (!std::cout) break;
    std::string kind;
    try {
      kind = InspectFile(path, args.options, std::cout,
                         path == kStandardStream ? &standardInput->path() : nullptr);
    } catch (const std::exception& e) {
      if (!std::cout) break;  // a log's rows stopped for that
      std::cout.flush();
      throw CommandError(kSoftwareError, Escaped(path) + ": " + e.what());
    }
    if (kind == "unknown" || kind == "special") status = std::max(status, kDataError);
    if (kind == "unreadable") status = std::max(status, kNoInput);
  }
  return status;
}

const bool kRegistered = RegisterCommand(
    "inspect",
    "Shows what a container or a signed log holds, as the library reads it, and where it is "
    "malformed.",
    [](CLI::App& cmd) {
      auto args = std::make_shared<InspectArguments>();
      cmd.add_option("--as", args->as, "read every FILE as this kind instead of telling by content")
          ->check(CLI::IsMember({"auto", "container", "log"}));
      cmd.add_flag("--seal", args->options.seal,
                   "decrypt each container in memory and check its seal trailer");
      cmd.add_flag("--json", args->options.json, "print one JSON object per FILE, one per line");
      cmd.add_option("FILE", args->paths, "containers and log files; - for standard input")
          ->required();
      cmd.footer(
          ExitStatusHelp({{kUsageError, "a FILE is empty, - twice, or - on a terminal"},
                          {kDataError,
                           "a FILE is neither a container nor a log, or is a FIFO, "
                           "socket or device (- reads a stream)"},
                          {kNoInput, "a FILE, or standard input for -"},
                          {kCannotCreate, "no scratch file for standard input (-) can be made"}}) +
          "Of several FILEs, the highest status counts.\n");
      return std::function<int()>([args] { return RunInspect(*args); });
    });

}  // namespace

}  // namespace qve::cli
