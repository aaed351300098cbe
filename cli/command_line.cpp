#include "cli/command_line.h"

#include <cerrno>
#include <cstdio>
#include <iostream>
#include <map>
#include <system_error>
#include <vector>

#include "cli/build_description.h"
#include "cli/escape.h"
#include "cli/progress.h"
#include "platform/command_text.h"
#include "platform/file_status.h"
#include "platform/folder_walk.h"

namespace qve::cli {

namespace {

struct Registered {
  std::string name;
  std::string description;
  CommandSetup setup;
};

// Filled by other files' initialisers, so made on first use.
std::vector<Registered>& Registry() {
  static std::vector<Registered> commands;
  return commands;
}

std::vector<std::string> arguments;  // as RunCommandLine got them
std::string program;

bool IsCommand(const std::string& name) {
  if (name == "help") return true;
  for (const auto& command : Registry()) {
    if (command.name == name) return true;
  }
  return false;
}

int UnknownCommand(const std::string& name) {
  std::cerr << program << ": unknown command '" << name << "'; run '" << program
            << " help' for the list\n";
  return kUsageError;
}

int Dispatch(const std::string& description, int argc, char** argv) {
  CLI::App app(description, program);
  app.set_version_flag("--version", [] { return BuildDescription(program); });
  app.require_subcommand(1, 1);
  app.footer("Run '" + program + " help COMMAND' for a command's options and exit statuses.");
  std::map<const CLI::App*, std::function<int()>> actions;
  for (const auto& command : Registry()) {
    CLI::App* sub = app.add_subcommand(command.name, command.description);
    // For the command tests, and harmless: when the progress line first shows.
    sub->add_option_function<unsigned>("--progress-delay",
                                       [](unsigned milliseconds) {
                                         CommandProgressSetup().delay =
                                             std::chrono::milliseconds(milliseconds);
                                       })
        ->group("");
    actions[sub] = command.setup(*sub);
  }
  std::string helpTopic;
  CLI::App* help = app.add_subcommand("help", "Show the help of the program or of one command");
  help->add_option("COMMAND", helpTopic, "the command to explain");
  actions[help] = [&] {
    if (helpTopic.empty()) {
      // app.help() would show the selected subcommand's, this one's.
      std::cout << app.get_formatter()->make_help(&app, program, CLI::AppFormatMode::Normal);
      return 0;
    }
    if (helpTopic == "help" || !IsCommand(helpTopic)) return UnknownCommand(helpTopic);
    std::cout << app.get_subcommand(helpTopic)->help(program);
    return 0;
  };
  // CLI11 would take an unknown name for a stray argument.
  for (int i = 1; i < argc; ++i) {
    const std::string argument = argv[i];
    if (argument.empty() || argument[0] != '-') {
      if (!IsCommand(argument)) return UnknownCommand(argument);
      break;
    }
  }
  try {
    app.parse(argc, argv);
  } catch (const CLI::CallForHelp&) {
    std::cout << app.help();
    return 0;
  } catch (const CLI::ParseError& e) {
    if (e.get_exit_code() == 0) return app.exit(e);
    const CLI::App* failing = app.get_subcommands().empty() ? &app : app.get_subcommands()[0];
    // A subcommand's usage line carries the program name only when given it.
    std::cerr << program << ": " << e.what() << "\n\n"
              << failing->help(failing == &app ? "" : program);
    return kUsageError;
  }
  const CLI::App* chosen = app.get_subcommands().front();
  const auto say = [&](const std::string& message) {
    std::string prefix = program + " " + chosen->get_name() + ": ";
    for (std::size_t from = 0, to; from < message.size(); from = to + 1) {
      to = message.find('\n', from);
      if (to == std::string::npos) to = message.size();
      std::cerr << prefix << std::string_view(message).substr(from, to - from) << '\n';
    }
  };
  try {
    return actions.at(chosen)();
  } catch (const CommandError& e) {
    say(e.what());
    return e.status;
  } catch (const std::exception& e) {
    say(e.what());
    return kSoftwareError;
  }
}

}  // namespace

bool RegisterCommand(std::string name, std::string description, CommandSetup setup) {
  Registry().push_back({std::move(name), std::move(description), std::move(setup)});
  return true;
}

const std::string& ProgramName() { return program; }

const std::vector<std::string>& CommandLineArguments() { return arguments; }

void Warn(const std::string& path, const std::string& message) {
  std::cerr << "warning: " << Escaped(path) << ": " << Escaped(message) << '\n';
}

std::string SkippedText(const platform::SkippedEntry& entry) {
  using platform::SkipReason;
  switch (entry.reason) {
    case SkipReason::NameNotUtf8:
      return "skipped: the name is not valid UTF-8";
    case SkipReason::FolderUnreadable:
      return "skipped: " + platform::ErrorText(entry.error);
    case SkipReason::Link:
      return "skipped: links are not followed";
    case SkipReason::NotRegular:
      return std::string("skipped: ") + entry.kind + ", not a regular file";
    case SkipReason::Gone:
      return "skipped: gone since its folder was listed";
  }
  return "skipped";
}

std::string ExitStatusHelp(const std::string& ownStatuses) {
  return "Exit status:\n" + ownStatuses;
}

int RunCommandLine(const std::string& name, const std::string& description, int argc, char** argv) {
  platform::GuardStandardStreams();
  platform::WriteUtf8ToConsoles();
  program = name;
  arguments = platform::CommandArguments(argc, argv);
  std::vector<char*> pointers;
  for (std::string& argument : arguments) pointers.push_back(argument.data());
  const int status = Dispatch(description, argc, pointers.data());
  // A stream that failed already failed on its last write, whose errno is
  // the one left; otherwise the buffered rest is written now.
  const bool failedBefore = !std::cout;
  const int earlier = errno;
  errno = 0;
  std::cout.flush();
  const bool flushFailed = std::fflush(stdout) != 0;
  const int error = failedBefore ? earlier : errno;
  if (flushFailed || !std::cout) {
    std::cerr << program << ": cannot write standard output"
              << (error != 0 ? ": " + platform::ErrorText(platform::StreamWriteError(error))
                             : std::string())
              << '\n';
    return kOutputError;
  }
  return status;
}

}  // namespace qve::cli
