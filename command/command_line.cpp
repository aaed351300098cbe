// SPDX-License-Identifier: Apache-2.0
#include "command/command_line.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <functional>
#include <iostream>
#include <map>
#include <sstream>
#include <system_error>
#include <vector>

#include "QVEHelper.h"
#include "command/build_description.h"
#include "command/escape.h"
#include "command/progress.h"
#include "platform/command_text.h"
#include "platform/file_status.h"
#include "platform/folder_walk.h"
#include "platform/paths.h"
#include "platform/temp_output.h"

namespace qve::command {

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
std::string chosenCommand;

bool IsCommand(const std::string& name) {
  if (name == "help") return true;
  for (const auto& command : Registry()) {
    if (command.name == name) return true;
  }
  return false;
}

// What each status of the table means, as --help says it.
struct SharedStatus {
  int status;
  const char* meaning;
};
constexpr SharedStatus kSharedStatuses[] = {
    {0, "success"},
    {kUsageError, "a usage error"},
    {kDataError, "an input of the wrong kind"},
    {kNoInput, "an input is missing or cannot be read, said with the system's reason"},
    {kSoftwareError, "a failure inside the work, said with its cause"},
    {kCannotCreate, "an output cannot be created or put in place"},
    {kOutputError, "an output does not take the data (a full disk, a closed pipe)"},
    {kBusy, "another run holds what this one needs; try again later"},
};
// What the frame itself may end any command with.
constexpr int kEveryCommand[] = {0, kUsageError, kSoftwareError, kOutputError};

const char* SharedMeaning(int status) {
  for (const SharedStatus& shared : kSharedStatuses) {
    if (shared.status == status) return shared.meaning;
  }
  return nullptr;
}

// "  64   TEXT", TEXT wrapped at 78 columns under itself.
std::string StatusLine(const std::string& code, const std::string& text) {
  constexpr std::size_t kIndent = 7, kWidth = 78;
  std::string out =
      "  " + code + std::string(kIndent - 2 - std::min(code.size(), kIndent - 3), ' ');
  std::size_t column = out.size();
  std::istringstream words(text);
  bool first = true;
  for (std::string word; words >> word; first = false) {
    // A number stays with the word it counts: "5 OutputWriteFailed".
    std::string next;
    if (word.find_first_not_of("0123456789") == std::string::npos && words >> next)
      word += ' ' + next;
    if (!first && column + 1 + word.size() > kWidth) {
      out += "\n" + std::string(kIndent, ' ');
      column = kIndent;
    } else if (!first) {
      out += ' ';
      ++column;
    }
    out += word;
    column += word.size();
  }
  return out + "\n";
}

int UnknownCommand(const std::string& name) {
  std::cerr << program << ": unknown command '" << name << "'; run '" << program
            << " help' for the list\n";
  return kUsageError;
}

// The usage line, the reason (`sayReason`) and where the whole help is: the
// help itself would bury the reason.
int UsageError(const CLI::App& app, const CLI::App& failing,
               const std::function<void()>& sayReason) {
  const std::string name = &failing == &app ? program : program + " " + failing.get_name();
  std::string usage = CLI::Formatter().make_usage(&failing, name);
  if (usage.starts_with("Usage")) usage[0] = 'u';
  std::cerr << usage;
  sayReason();
  std::cerr << "see '" << program << " help" << (&failing == &app ? "" : " " + failing.get_name())
            << "'\n";
  return kUsageError;
}

int Dispatch(const std::string& description, int argc, char** argv) {
  CLI::App app(description, program);
  app.set_version_flag("--version", [] { return BuildDescription(program); });
  app.require_subcommand(1, 1);
  std::vector<ExitStatus> table = {{1, 63, "a command's own results"}};
  for (const SharedStatus& status : kSharedStatuses) table.emplace_back(status.status);
  app.footer(ExitStatusHelp(table) + "Run '" + program +
             " help COMMAND' for a command's options and exit statuses.");
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
  help->footer(ExitStatusHelp({{kUsageError, "COMMAND is not a command of this program"}}));
  actions[help] = [&] {
    if (helpTopic.empty()) {
      // app.help() would show the selected subcommand's, this one's.
      std::cout << app.get_formatter()->make_help(&app, program, CLI::AppFormatMode::Normal);
      return 0;
    }
    if (!IsCommand(helpTopic)) return UnknownCommand(helpTopic);
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
    return UsageError(app, *failing, [&] { std::cerr << program << ": " << e.what() << '\n'; });
  }
  const CLI::App* chosen = app.get_subcommands().front();
  chosenCommand = chosen->get_name();
  try {
    return actions.at(chosen)();
  } catch (const CommandError& e) {
    if (e.status == kUsageError) return UsageError(app, *chosen, [&] { Say(e.what()); });
    Say(e.what());
    return e.status;
  } catch (const std::exception& e) {
    Say(e.what());
    return kSoftwareError;
  }
}

}  // namespace

bool RegisterCommand(std::string name, std::string description, CommandSetup setup) {
  Registry().push_back({std::move(name), std::move(description), std::move(setup)});
  return true;
}

const std::string& ProgramName() { return program; }

void Say(const std::string& message) {
  const std::string prefix = program + " " + chosenCommand + ": ";
  for (std::size_t from = 0, to; from < message.size(); from = to + 1) {
    to = message.find('\n', from);
    if (to == std::string::npos) to = message.size();
    std::cerr << prefix << std::string_view(message).substr(from, to - from) << '\n';
  }
}

const std::vector<std::string>& CommandLineArguments() { return arguments; }

void Warn(const std::string& path, const std::string& message) {
  std::cerr << "warning: " << Escaped(path) << ": " << Escaped(message) << '\n';
}

std::vector<std::string> ExpandPathArguments(const std::vector<std::string>& given) {
  std::vector<std::string> expanded;
  std::string unmatched;
  for (const std::string& argument : given) {
    const std::wstring path = platform::ArgumentPath(argument);
    const std::vector<std::wstring> matches =
        argument == "-" ? std::vector<std::wstring>{path} : platform::ExpandWildcards(path);
    if (matches.empty()) {
      unmatched += (unmatched.empty() ? "" : "\n") + Escaped(argument) + ": no file matches";
    } else if (matches.size() == 1 && matches.front() == path) {
      expanded.push_back(argument);  // as given, its bytes kept
    } else {
      for (const std::wstring& match : matches) expanded.push_back(platform::ShownText(match));
    }
  }
  if (!unmatched.empty()) throw CommandError(kNoInput, unmatched);
  return expanded;
}

std::string ExitStatusHelp(std::vector<ExitStatus> statuses) {
  for (const int status : kEveryCommand) {
    if (std::none_of(statuses.begin(), statuses.end(),
                     [&](const ExitStatus& given) { return given.first == status; }))
      statuses.emplace_back(status);
  }
  std::stable_sort(statuses.begin(), statuses.end(),
                   [](const ExitStatus& a, const ExitStatus& b) { return a.first < b.first; });
  std::string help = "Exit status:\n";
  for (const ExitStatus& status : statuses) {
    const std::string code = status.first == status.last
                                 ? std::to_string(status.first)
                                 : std::to_string(status.first) + "-" + std::to_string(status.last);
    const char* shared = status.own ? nullptr : SharedMeaning(status.first);
    std::string text = status.text;
    if (shared != nullptr) text = text.empty() ? shared : std::string(shared) + ": " + text;
    help += StatusLine(code, text);
  }
  return help;
}

CLI::Option* AddJobsOption(CLI::App& command, unsigned& jobs, const std::string& description) {
  return command.add_option("-j,--jobs", jobs, description)->check(CLI::Range(1u, kMaxJobs));
}

int RunCommandLine(const std::string& name, const std::string& description, int argc, char** argv,
                   platform::BackslashQuote backslashQuote) {
  platform::GuardStandardStreams();
  // Temporary files, the library's and the command's own, go with the
  // signals that end the command.
  qve_remove_temporaries_on_signals();
  platform::TempOutput::RemoveOnSignals();
  platform::WriteUtf8ToConsoles();
  program = name;
  arguments = platform::CommandArguments(argc, argv, backslashQuote);
  std::vector<char*> pointers;
  for (std::string& argument : arguments) pointers.push_back(argument.data());
  const int status = Dispatch(description, static_cast<int>(pointers.size()), pointers.data());
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

}  // namespace qve::command
