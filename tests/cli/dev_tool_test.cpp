// SPDX-License-Identifier: Apache-2.0
// qvehelper-dev and the frame both programs share, as users run them: one row
// per case, with its exit status, what it names and the folder afterwards;
// what they say in words, in one table at the end.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "tests/support/builders.h"
#include "tests/support/command_runner.h"
#include "tests/support/harness.h"

namespace qve {
namespace {

namespace fs = std::filesystem;

const std::set<std::string> kBase = {"bad.txt", "out.bin", "plain.txt"};

struct Row {
  const char* name;
  const char* program;
  std::vector<std::string> args;
  int status;
  std::vector<std::string> out;  // parts it must hold, in order; none: nothing
  std::string err;               // a part it must hold ("\n": a line at all), or "": nothing
  std::set<std::string> added = {};
  testing::Command how = {};
  std::function<void(const fs::path&)> setup = {};
};

// The program alone in the folder, as a build tree moved away without its
// keys; or installed, with the keys in PREFIX/share.
void Alone(const fs::path& dir) { fs::copy_file(QVE_DEV_CLI_FILE, dir / "qvehelper-dev"); }
void Installed(const fs::path& dir) {
  fs::create_directories(dir / "bin");
  fs::copy_file(QVE_DEV_CLI_FILE, dir / "bin/qvehelper-dev");
  fs::create_directories(dir / "share/qvehelper/keys");
  fs::copy(fs::path(testing::DevKeyPath("x")).parent_path(), dir / "share/qvehelper/keys/dev");
}

std::vector<Row> Rows() {
  const std::string key = testing::DevKeyPath("decryption-public.pem");
  std::vector<std::string> many = {"seal", "plain.txt", "out.bin"};
  for (int i = 1; i <= 32; ++i)
    many.insert(many.end(), {"--recipient", key + ":" + std::to_string(i)});
  const char* dev = QVE_DEV_CLI_FILE;
  const char* cli = QVE_CLI_FILE;
  const std::string said = "\n";
  // clang-format off
  return {
      {"seal", dev, {"seal", "plain.txt", "c.qves"}, 0, {}, "", {"c.qves"}},
      {"sign", dev, {"sign-log", "plain.txt", "s.log", "-n", "1", "--id", "4294967295"}, 0, {}, "", {"s.log"}},
      {"seal onto itself", dev, {"seal", "out.bin", "./out.bin"}, 64, {}, "./out.bin"},
      {"sign onto itself", dev, {"sign-log", "plain.txt", "plain.txt"}, 64, {}, "plain.txt"},
      {"no colon", dev, {"seal", "plain.txt", "out.bin", "--recipient", "foo"}, 64, {}, "'foo'"},
      {"no key", dev, {"seal", "plain.txt", "out.bin", "--recipient", ":abc"}, 64, {}, "':abc'"},
      {"key number past 32 bits", dev, {"seal", "plain.txt", "out.bin", "--recipient", key + ":99999999999"},
       64, {}, "99999999999"},
      {"33 recipients", dev, many, 64, {}, "33"},
      {"seal id past 32 bits", dev, {"seal", "plain.txt", "out.bin", "--seal-key-id", "4294967296"}, 64, {}, said},
      {"negative count", dev, {"sign-log", "plain.txt", "out.bin", "-n", "-1"}, 64, {}, "-1"},
      {"count past 64 bits", dev, {"sign-log", "plain.txt", "out.bin", "-n", "18446744073709551616"}, 64, {}, said},
      {"long text", dev, {"sign-log", "plain.txt", "out.bin", "--text", std::string(2049, 't')}, 64, {}, "2049"},
      {"a line holding 0x1A", dev, {"sign-log", "bad.txt", "out.bin"}, 65, {}, said},
      {"a line holding a NUL", dev, {"sign-log", "-", "out.bin"}, 65, {}, said, {},
       {.input = std::string("first\nsec\0ond\n", 14)}},
      {"chain from no signature", dev, {"sign-log", "plain.txt", "out.bin", "--chain-from", "plain.txt"}, 65, {},
       "plain.txt"},
      {"not a key", dev, {"sign-log", "--key", "plain.txt", "plain.txt", "out.bin"}, 65, {}, "plain.txt"},
      {"missing input", dev, {"seal", "none", "out.bin"}, 66, {}, "none"},
      {"input named not UTF-8", dev, {"seal", "p\xe9", "c.qves"}, 0, {}, "", {"c.qves", "p\xe9"}, {},
       [](const fs::path& dir) { fs::copy_file(dir / "plain.txt", dir / "p\xe9"); }},
      {"input nobody may read", dev, {"seal", "bad.txt", "new.qves"}, 66, {}, "bad.txt", {}, {.asNobody = true}},
      {"a key as standard input", dev, {"sign-log", "--key", "-", "plain.txt", "out.bin"}, 64, {}, said},
      {"sign from standard input to standard output", dev, {"sign-log", "-n", "1", "-", "-"}, 0,
       {"first\n\x1F", "\x1F\n"}, "", {}, {.input = "first\n"}},
      {"seal from standard input to standard output", dev, {"seal", "-", "-"}, 0, {}, "", {"c.qves"},
       {.input = "first\nsecond\n", .outputTo = "c.qves"}},
      {"keys beside the program", dev, {"seal", "plain.txt", "c.qves"}, 0, {}, "", {"c.qves"}, {.asNobody = true}},
      {"no keys beside the program", "./qvehelper-dev", {"sign-log", "plain.txt", "s.log"}, 66, {}, "/keys/dev",
       {"qvehelper-dev"}, {}, Alone},
      {"installed keys", "./bin/qvehelper-dev", {"seal", "plain.txt", "c.qves"}, 0, {}, "", {"bin", "share", "c.qves"},
       {}, Installed},
      {"output past the size limit", dev, {"sign-log", "plain.txt", "out.bin", "-n", "1"}, 74, {}, "out.bin", {},
       {.fileSizeLimit = 300}},
      {"device output", dev, {"seal", "plain.txt", "/dev/full"}, 73, {}, "/dev/full"},
      {"unknown command", cli, {"verfiy", "logs"}, 64, {}, "'verfiy'"},
      // Help names each subcommand, its usage and its exit statuses.
      {"help", cli, {"help"}, 0, {"decrypt", "verify", "help"}, ""},
      {"help help", cli, {"help", "help"}, 0, {"qvehelper help ", "64 "}, ""},
      {"help inspect", cli, {"help", "inspect"}, 0, {"65 ", "66 "}, ""},
      {"help check", cli, {"help", "check"}, 0, {"\n  0 ", "\n  1-13 ", "\n  64 ", "\n  65 ", "\n  66 ", "\n  70 ",
       "\n  73 ", "\n  74 "}, ""},
      {"help decrypt", cli, {"help", "decrypt"}, 0, {"qvehelper decrypt ", "64 ", "70 ", "73 ", "74 "}, ""},
      {"verify --help", cli, {"verify", "--help"}, 0, {"qvehelper verify ", "64 ", "66 ", "70 ", "74 "}, ""},
      {"usage error", dev, {"seal"}, 64, {}, "qvehelper-dev seal "},
      {"version to a full disk", cli, {"--version"}, 74, {}, said, {}, {.outputTo = "/dev/full"}},
      {"help to a closed stream", cli, {"help"}, 74, {}, said, {}, {.outputTo = "-"}},
      // A pipe whose reader has gone: a failed write, not death by SIGPIPE.
      {"help to a pipe nobody reads", cli, {"help"}, 74, {}, said, {}, {.outputTo = "|x"}},
      {"verify to a pipe nobody reads", cli, {"verify", "plain.txt"}, 74, {}, said, {}, {.outputTo = "|x"}},
      {"sign-log to a pipe nobody reads", dev, {"sign-log", "plain.txt", "-"}, 74, {}, said, {}, {.outputTo = "|x"}},
  };
  // clang-format on
}

// Runs `row` in a folder of its own, checks what it leaves there and returns
// what it printed.
testing::CommandResult RunRow(const Row& row) {
  testing::TempDir dir;
  testing::WriteFile(dir / "plain.txt", std::string("first\nsecond\n"));
  testing::WriteFile(dir / "bad.txt", std::string("first\nsec\x1aond\n"));
  testing::WriteFile(dir / "out.bin", std::string("old"));
  chmod(dir.path().c_str(), 0777);
  chmod((dir / "bad.txt").c_str(), 0600);
  if (row.setup) row.setup(dir.path());
  testing::Command command = row.how;
  command.program = row.program;
  command.args = row.args;
  command.folder = dir.path();
  if (!command.outputTo.empty() && command.outputTo[0] != '/' && command.outputTo != "-" &&
      command.outputTo[0] != '|')
    command.outputTo = dir / command.outputTo;
  const testing::CommandResult ran = testing::Run(command);
  std::set<std::string> expected = kBase;
  expected.insert(row.added.begin(), row.added.end());
  EXPECT_EQ(testing::NamesIn(dir.path()), expected) << row.name;
  EXPECT_TRUE(testing::ReadFile(dir / "out.bin") == Bytes({'o', 'l', 'd'})) << row.name;
  if (row.added.count("c.qves")) {
    const auto decrypted = testing::Run(
        {.program = QVE_CLI_FILE, .args = {"decrypt", "c.qves", "-"}, .folder = dir.path()});
    EXPECT_EQ(decrypted.out, "first\nsecond\n");
  }
  return ran;
}

TEST(DevToolAndFrame, Table) {
  for (const Row& row : Rows()) {
    const testing::CommandResult ran = RunRow(row);
    EXPECT_EQ(ran.exitCode, row.status) << row.name << "\n" << ran.out << ran.err;
    std::size_t at = 0;
    for (const std::string& part : row.out) {
      at = ran.out.find(part, at);
      EXPECT_NE(at, std::string::npos) << row.name << ": " << part << "\n" << ran.out;
    }
    if (row.out.empty()) {
      EXPECT_EQ(ran.out, "") << row.name;
    }
    if (row.err.empty()) {
      EXPECT_EQ(ran.err, "") << row.name;
    } else {
      EXPECT_NE(ran.err.find(row.err), std::string::npos) << row.name << ":\n" << ran.err;
    }
  }
}

// The one place that pins what the programs say: a row per distinct message
// (a system's reason or a kind of file in place of another, not again), by
// the name of the row above that makes it, and the one table the frame lays
// out, words wrapped at 78 columns under their text.
TEST(DevToolAndFrame, Wording) {
  const std::string seal = "qvehelper-dev seal: ", sign = "qvehelper-dev sign-log: ";
  // clang-format off
  const std::pair<const char*, std::string> messages[] = {
      {"seal onto itself", seal + "OUTPUT ./out.bin is the same file as out.bin\n"},
      {"sign onto itself", sign + "output plain.txt is the same file as plain.txt\n"},
      {"no colon", seal + "--recipient takes PUBLIC_PEM:KEY_NUMBER, not 'foo'\n"},
      {"33 recipients", seal + "a container holds 1 to 32 recipients, not 33\n"},
      {"negative count", "qvehelper-dev: --every: not a number of digits: -1\n"},
      {"count past 64 bits", "qvehelper-dev: --every: a number past 64 bits: 18446744073709551616\n"},
      {"long text", sign + "--text holds at most 2048 bytes, not 2049\n"},
      {"a line holding 0x1A", sign + "input line 2 holds 0x1A, which would end the log for a reader\n"},
      {"a line holding a NUL", sign + "input line 2 holds a NUL, and a signature covers a line only up to its first NUL\n"},
      {"chain from no signature", sign + "--chain-from plain.txt has no signature line\n"},
      {"not a key", sign + "plain.txt is not an RSA private key in PEM form\n"},
      {"missing input", seal + "cannot open none: no such file or directory\n"},
      {"a key as standard input", sign + "a key or --chain-from cannot be standard input (-); ./- names a file called -\n"},
      {"no keys beside the program", sign + "no development keys beside the program (looked in "},
      {"output past the size limit", sign + "cannot write output out.bin: file too large\n"},
      {"device output", seal + "OUTPUT /dev/full is a character device; only a regular file is replaced\n"},
      {"unknown command", "qvehelper: unknown command 'verfiy'; run 'qvehelper help' for the list\n"},
      {"usage error", "qvehelper-dev: INPUT is required\n"},
      {"usage error", "usage: qvehelper-dev seal "},
      {"version to a full disk", "qvehelper: cannot write standard output: no space left on device\n"},
      {"sign-log to a pipe nobody reads", sign + "cannot write standard output: broken pipe\n"},
      {"help", "Subcommands:"},
      {"help check",
       "Exit status:\n"
       "  0    success: every container gives Success\n"
       "  1-13 the largest result of any container (see 'decrypt'); a line on standard\n"
       "       error says why each one that is not Success gives its result\n"
       "  64   a usage error: a CONTAINER is empty or -\n"
       "  65   an input of the wrong kind: a CONTAINER is a FIFO, socket or device\n"
       "  66   an input is missing or cannot be read, said with the system's reason:\n"
       "       no container was found\n"
       "  70   a failure inside the work, said with its cause\n"
       "  73   an output cannot be created or put in place: the scratch folder\n"
       "       ($TMPDIR), named, takes no file\n"
       "  74   an output does not take the data (a full disk, a closed pipe): a\n"
       "       scratch file, which stops the run and names its folder, or standard\n"
       "       output\n"},
  };
  // clang-format on
  const std::vector<Row> rows = Rows();
  for (const auto& [name, text] : messages) {
    const auto row = std::find_if(rows.begin(), rows.end(),
                                  [&](const Row& each) { return std::string(each.name) == name; });
    ASSERT_NE(row, rows.end()) << name;
    const testing::CommandResult ran = RunRow(*row);
    EXPECT_NE((ran.out + ran.err).find(text), std::string::npos) << name << ":\n" << ran.err;
  }
}

}  // namespace
}  // namespace qve
