#include "cli/command_line.h"

#include <iostream>
#include <map>
#include <vector>

namespace qve::cli {

namespace {

struct Registered {
  std::string name;
  std::string description;
  CommandSetup setup;
};

std::vector<Registered>& Registry() {
  static std::vector<Registered> commands;
  return commands;
}

std::vector<std::string>& Arguments() {
  static std::vector<std::string> arguments;
  return arguments;
}

}  // namespace

const std::vector<std::string>& CommandLineArguments() { return Arguments(); }

bool RegisterCommand(std::string name, std::string description, CommandSetup setup) {
  Registry().push_back({std::move(name), std::move(description), std::move(setup)});
  return true;
}

int RunCommandLine(const std::string& program, const std::string& description, int argc,
                   char** argv) {
  Arguments().assign(argv, argv + argc);
  CLI::App app(description, program);
  app.set_version_flag("--version", program + " " QVE_VERSION);
  app.require_subcommand(1, 1);
  std::map<const CLI::App*, std::function<int()>> actions;
  for (const auto& command : Registry()) {
    CLI::App* sub = app.add_subcommand(command.name, command.description);
    actions[sub] = command.setup(*sub);
  }
  try {
    app.parse(argc, argv);
  } catch (const CLI::CallForHelp&) {
    std::cout << app.help();
    return 0;
  } catch (const CLI::ParseError& e) {
    if (e.get_exit_code() == 0) return app.exit(e);
    const CLI::App* failing = app.get_subcommands().empty() ? &app : app.get_subcommands()[0];
    std::cerr << program << ": " << e.what() << "\n\n" << failing->help();
    return kUsageError;
  }
  return actions.at(app.get_subcommands().front())();
}

}  // namespace qve::cli
