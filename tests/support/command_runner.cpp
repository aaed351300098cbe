// SPDX-License-Identifier: Apache-2.0
#include "tests/support/command_runner.h"

#include <fcntl.h>
#include <grp.h>
#include <pty.h>
#include <pwd.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <thread>
#include <utility>

#include "tests/support/harness.h"

extern char** environ;

namespace qve::testing {

void FeedPipe(pid_t child, int to, const std::vector<std::uint8_t>& whole, int signal) {
  // With the pipe this small, a write returns only once the command has
  // read all but this much of it.
  fcntl(to, F_SETPIPE_SZ, 4096);
  const std::size_t end =
      signal != 0 ? whole.size() - std::min<std::size_t>(whole.size(), 1000) : whole.size();
  std::size_t from = 0;
  for (ssize_t put = 0; from < end && put >= 0; from += std::size_t(put))
    put = write(to, whole.data() + from, end - from);
  EXPECT_EQ(from, end) << "cannot feed the pipe: " << errno;
  if (signal != 0) kill(child, signal);
}

static const passwd* Nobody() { return getpwnam("nobody"); }
unsigned NobodyUid() { return Nobody() != nullptr ? Nobody()->pw_uid : 65534; }
unsigned NobodyGid() { return Nobody() != nullptr ? Nobody()->pw_gid : 65534; }

CommandResult Run(const Command& command) {
  TempDir capture;
  WriteFile(capture / "in", command.input);
  WriteFile(capture / "out", std::string());
  int in = open((capture / "in").c_str(), O_RDONLY);
  if (command.inputInFifo) {
    // Written and left before the command starts: only the reader holds it.
    close(in);
    if (mkfifo((capture / "fifo").c_str(), 0600) != 0) ADD_FAILURE() << "no FIFO";
    in = open((capture / "fifo").c_str(), O_RDONLY | O_NONBLOCK);
    const int writer = open((capture / "fifo").c_str(), O_WRONLY | O_NONBLOCK);
    if (write(writer, command.input.data(), command.input.size()) != ssize_t(command.input.size()))
      ADD_FAILURE() << "input too long for a FIFO";
    close(writer);
    fcntl(in, F_SETFL, fcntl(in, F_GETFL) & ~O_NONBLOCK);
  }
  int inputPipe[2] = {-1, -1};
  if (command.feedInput && pipe(inputPipe) != 0) ADD_FAILURE() << "no pipe";
  const bool readerGone = command.outputTo == "|x";
  const bool piped = command.outputTo == "|" || readerGone;
  int pipeEnds[2] = {-1, -1};
  if (piped && pipe(pipeEnds) != 0) ADD_FAILURE() << "no pipe";
  if (readerGone) close(std::exchange(pipeEnds[0], -1));
  const int out =
      piped ? pipeEnds[1]
            : open((command.outputTo.empty() || command.outputTo == "-" ? (capture / "out").string()
                                                                        : command.outputTo)
                       .c_str(),
                   O_WRONLY | O_CREAT | O_APPEND, 0644);
  const int err = open((capture / "err").c_str(), O_WRONLY | O_CREAT, 0644);
  int terminal = -1, terminalSide = -1;
  termios raw{};
  cfmakeraw(&raw);  // no CR added before each LF
  if (command.errorToTerminal && openpty(&terminal, &terminalSide, nullptr, &raw, nullptr) != 0)
    ADD_FAILURE() << "no pseudo-terminal";
  std::vector<std::string> texts = {command.program};
  texts.insert(texts.end(), command.args.begin(), command.args.end());
  std::vector<char*> argv, envp;
  for (auto& text : texts) argv.push_back(text.data());
  argv.push_back(nullptr);
  std::vector<std::string> environment(command.environment);
  for (char** name = environ; *name != nullptr; ++name) environment.emplace_back(*name);
  for (auto& text : environment) envp.push_back(text.data());
  envp.push_back(nullptr);
  const uid_t nobody = NobodyUid();
  const gid_t nogroup = NobodyGid();

  const pid_t child = fork();
  if (child == 0) {
    // As a shell starts a command, whatever this test ignores.
    ::signal(SIGPIPE, SIG_DFL);
    dup2(command.feedInput ? inputPipe[0] : in, 0);
    if (command.feedInput) close(inputPipe[1]);
    dup2(out, 1);
    if (piped && pipeEnds[0] >= 0) close(pipeEnds[0]);
    dup2(terminalSide >= 0 ? terminalSide : err, 2);
    if (command.outputTo == "-") close(1);
    if (command.errorClosed) close(2);
    if (!command.folder.empty() && chdir(command.folder.c_str()) != 0) _exit(125);
    for (const auto& [resource, value] : {std::pair{RLIMIT_NOFILE, command.openFileLimit},
                                          std::pair{RLIMIT_FSIZE, command.fileSizeLimit}}) {
      const rlimit limit{value, value};
      if (value != 0 && setrlimit(resource, &limit) != 0) _exit(125);
    }
    if (command.asNobody &&
        (setgroups(0, nullptr) != 0 || setgid(nogroup) != 0 || setuid(nobody) != 0))
      _exit(125);
    if (command.hangGuardSeconds != 0) alarm(command.hangGuardSeconds);
    execvpe(argv[0], argv.data(), envp.data());  // a bare name is looked up in PATH
    _exit(127);
  }
  close(in);
  close(out);
  close(err);
  if (terminalSide >= 0) close(terminalSide);
  const auto readAll = [](int fd) {
    std::string text;
    char chunk[4096];
    for (ssize_t got; fd >= 0 && (got = read(fd, chunk, sizeof chunk)) > 0;)
      text.append(chunk, std::size_t(got));
    return text;
  };
  // Drained meanwhile, so that a full pipe never holds the command up.
  std::string fromPipe;
  std::thread drain([&] { fromPipe = readAll(pipeEnds[0]); });
  if (command.feedInput) {
    close(inputPipe[0]);
    command.feedInput(child, inputPipe[1]);
    close(inputPipe[1]);
  }
  // Ends with EIO once the command and its children have closed their side.
  const std::string onTerminal = readAll(terminal);
  if (terminal >= 0) close(terminal);
  int status = 0;
  waitpid(child, &status, 0);
  drain.join();
  if (pipeEnds[0] >= 0) close(pipeEnds[0]);
  return {.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status),
          .out = piped ? fromPipe : ReadText(capture / "out"),
          .err = command.errorToTerminal ? onTerminal : ReadText(capture / "err")};
}

std::set<std::string> NamesIn(const std::filesystem::path& folder) {
  std::set<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(folder))
    names.insert(entry.path().filename());
  return names;
}

Command InFolder(Command how, const std::string& program, const std::string& subcommand,
                 std::vector<std::string> args, const std::string& folder) {
  how.program = program;
  how.args = std::move(args);
  how.args.insert(how.args.begin(), subcommand);
  how.folder = folder;
  return how;
}

CommandResult RunCommand(const std::string& program, const std::vector<std::string>& args) {
  return Run({.program = program, .args = args});
}

}  // namespace qve::testing
