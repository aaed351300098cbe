// qvehelper inspect FILE...: tells a container from a log by its content and
// prints what the readers find in it, as text or one JSON object per line.
#include <CLI/CLI.hpp>

#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include "cli/command_line.h"
#include "cli/inspect.h"

namespace qve::cli {

namespace {

struct InspectArguments {
  std::vector<std::string> paths;
  std::string as = "auto";
  InspectOptions options;
};

int RunInspect(InspectArguments& args) {
  if (args.as != "auto") args.options.as = args.as == "log" ? FileKind::Log : FileKind::Container;
  int status = 0;
  for (const std::string& path : args.paths) {
    std::string kind;
    try {
      kind = InspectFile(path, args.options, std::cout);
    } catch (const std::exception& e) {
      std::cout.flush();
      throw CommandError(kSoftwareError, Escaped(path) + ": " + e.what());
    }
    if (kind == "unknown" || kind == "unreadable") status = 1;
  }
  return status;
}

const bool kRegistered = RegisterCommand(
    "inspect",
    "Shows what a container or a signed log holds, as the library reads it, and where it is "
    "malformed. Exit status: 0, or 1 when a FILE cannot be read or is neither kind.",
    [](CLI::App& cmd) {
      auto args = std::make_shared<InspectArguments>();
      cmd.add_option("--as", args->as, "read every FILE as this kind instead of telling by content")
          ->check(CLI::IsMember({"auto", "container", "log"}));
      cmd.add_flag("--seal", args->options.seal,
                   "decrypt each container in memory and check its seal trailer");
      cmd.add_flag("--json", args->options.json, "print one JSON object per FILE, one per line");
      cmd.add_option("FILE", args->paths, "containers and log files")->required();
      return std::function<int()>([args] { return RunInspect(*args); });
    });

}  // namespace

}  // namespace qve::cli
