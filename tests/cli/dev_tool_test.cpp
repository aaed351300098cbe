// SPDX-License-Identifier: Apache-2.0
// qvehelper-dev and the frame both programs share, as users run them: one row
// per case, with its exit status, what it prints and the folder afterwards.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <functional>
#include <set>
#include <string>

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
  std::string out;  // patterns; the whole text must match
  std::string err;
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

TEST(DevToolAndFrame, Table) {
  const std::string key = testing::DevKeyPath("decryption-public.pem");
  std::vector<std::string> many = {"seal", "plain.txt", "out.bin"};
  for (int i = 1; i <= 32; ++i)
    many.insert(many.end(), {"--recipient", key + ":" + std::to_string(i)});
  const char* dev = QVE_DEV_CLI_FILE;
  const char* cli = QVE_CLI_FILE;
  const std::string any = "[\\s\\S]*";
  // clang-format off
  const Row rows[] = {
      {"seal", dev, {"seal", "plain.txt", "c.qves"}, 0, "", "", {"c.qves"}},
      {"sign", dev, {"sign-log", "plain.txt", "s.log", "-n", "1", "--id", "4294967295"}, 0, "", "", {"s.log"}},
      {"seal onto itself", dev, {"seal", "out.bin", "./out.bin"}, 64, "", ".*: OUTPUT ./out.bin is the same file as out.bin\n"},
      {"sign onto itself", dev, {"sign-log", "plain.txt", "plain.txt"}, 64, "", ".*: output plain.txt is the same file as plain.txt\n"},
      {"no colon", dev, {"seal", "plain.txt", "out.bin", "--recipient", "foo"}, 64, "", ".*not 'foo'\n"},
      {"no key", dev, {"seal", "plain.txt", "out.bin", "--recipient", ":abc"}, 64, "", ".*not ':abc'\n"},
      {"key number past 32 bits", dev, {"seal", "plain.txt", "out.bin", "--recipient", key + ":99999999999"},
       64, "", ".*not '.*'\n"},
      {"33 recipients", dev, many, 64, "", ".*1 to 32 recipients, not 33\n"},
      {"seal id past 32 bits", dev, {"seal", "plain.txt", "out.bin", "--seal-key-id", "4294967296"}, 64, "", any},
      {"negative count", dev, {"sign-log", "plain.txt", "out.bin", "-n", "-1"}, 64, "",
       ".*not a number of digits: -1\n" + any},
      {"count past 64 bits", dev, {"sign-log", "plain.txt", "out.bin", "-n", "18446744073709551616"}, 64, "",
       ".*past 64 bits.*\n" + any},
      {"long text", dev, {"sign-log", "plain.txt", "out.bin", "--text", std::string(2049, 't')}, 64, "",
       ".*at most 2048 bytes, not 2049\n"},
      {"a line holding 0x1A", dev, {"sign-log", "bad.txt", "out.bin"}, 65, "", ".*line 2 holds 0x1A.*\n"},
      {"a line holding a NUL", dev, {"sign-log", "-", "out.bin"}, 65, "", ".*line 2 holds a NUL.*\n", {},
       {.input = std::string("first\nsec\0ond\n", 14)}},
      {"chain from no signature", dev, {"sign-log", "plain.txt", "out.bin", "--chain-from", "plain.txt"}, 65, "",
       ".*has no signature line\n"},
      {"not a key", dev, {"sign-log", "--key", "plain.txt", "plain.txt", "out.bin"}, 65, "",
       ".*plain.txt is not an RSA private key in PEM form\n"},
      {"missing input", dev, {"seal", "none", "out.bin"}, 66, "", ".*cannot open none: no such file or directory\n"},
      {"input named not UTF-8", dev, {"seal", "p\xe9", "c.qves"}, 0, "", "", {"c.qves", "p\xe9"}, {},
       [](const fs::path& dir) { fs::copy_file(dir / "plain.txt", dir / "p\xe9"); }},
      {"input nobody may read", dev, {"seal", "bad.txt", "new.qves"}, 66, "",
       ".*cannot open bad.txt: permission denied\n", {}, {.asNobody = true}},
      {"a key as standard input", dev, {"sign-log", "--key", "-", "plain.txt", "out.bin"}, 64, "", ".*standard input.*\n"},
      {"sign from standard input to standard output", dev, {"sign-log", "-n", "1", "-", "-"}, 0,
       "first\n\x1F[A-Za-z0-9+/=]+\x1F\n", "", {}, {.input = "first\n"}},
      {"seal from standard input to standard output", dev, {"seal", "-", "-"}, 0, "", "", {"c.qves"},
       {.input = "first\nsecond\n", .outputTo = "c.qves"}},
      {"keys beside the program", dev, {"seal", "plain.txt", "c.qves"}, 0, "", "", {"c.qves"}, {.asNobody = true}},
      {"no keys beside the program", "./qvehelper-dev", {"sign-log", "plain.txt", "s.log"}, 66, "",
       ".*no development keys beside the program \\(looked in .*/keys/dev and .*/share/qvehelper/keys/dev\\).*\n",
       {"qvehelper-dev"}, {}, Alone},
      {"installed keys", "./bin/qvehelper-dev", {"seal", "plain.txt", "c.qves"}, 0, "", "", {"bin", "share", "c.qves"},
       {}, Installed},
      {"output past the size limit", dev, {"sign-log", "plain.txt", "out.bin", "-n", "1"}, 74, "",
       ".*: cannot write output out.bin: file too large\n", {}, {.fileSizeLimit = 300}},
      {"device output", dev, {"seal", "plain.txt", "/dev/full"}, 73, "", ".*is a character device.*\n"},
      {"unknown command", cli, {"verfiy", "logs"}, 64, "", "qvehelper: unknown command 'verfiy'.*\n"},
      {"help", cli, {"help"}, 0, any + "Subcommands:" + any + "decrypt" + any + "verify" + any + "help" + any, ""},
      {"help help", cli, {"help", "help"}, 0, any + "Usage: qvehelper help " + any + "Exit status:" + any + "64 " + any, ""},
      {"help inspect", cli, {"help", "inspect"}, 0, any + "Exit status:" + any + "65 " + any + "66 " + any, ""},
      // The one table the frame lays out, words wrapped at 78 columns under their text.
      {"help check", cli, {"help", "check"}, 0, any +
       "Exit status:\n  0    success: every container gives Success\n"
       "  1-13 the largest result of any container \\(see 'decrypt'\\); a line on standard\n"
       "       error says why each one that is not Success gives its result\n"
       "  64   a usage error: a CONTAINER is empty or -\n"
       "  65   an input of the wrong kind: a CONTAINER is a FIFO, socket or device\n"
       "  66   an input is missing or cannot be read, said with the system's reason:\n"
       "       no container was found\n  70   a failure inside the work, said with its cause\n"
       "  73   an output cannot be created or put in place: the scratch folder\n"
       "       \\(\\$TMPDIR\\), named, takes no file\n"
       "  74   an output does not take the data \\(a full disk, a closed pipe\\): a\n"
       "       scratch file, which stops the run and names its folder, or standard\n"
       "       output\n" + any, ""},
      {"help decrypt", cli, {"help", "decrypt"}, 0,
       any + "Usage: qvehelper decrypt " + any + "Exit status:" + any + "64 " + any + "70 " + any + "73 " + any +
       "74 " + any, ""},
      {"verify --help", cli, {"verify", "--help"}, 0,
       any + "Usage: qvehelper verify " + any + "64 " + any + "66 " + any + "70 " + any + "74 " + any, ""},
      {"usage error", dev, {"seal"}, 64, "", "qvehelper-dev: INPUT is required\n" + any + "Usage: qvehelper-dev seal " + any},
      {"version to a full disk", cli, {"--version"}, 74, "",
       "qvehelper: cannot write standard output: no space left on device\n", {}, {.outputTo = "/dev/full"}},
      {"help to a closed stream", cli, {"help"}, 74, "", ".*: bad file descriptor\n", {}, {.outputTo = "-"}},
      // A pipe whose reader has gone: a failed write, not death by SIGPIPE.
      {"help to a pipe nobody reads", cli, {"help"}, 74, "",
       "qvehelper: cannot write standard output: broken pipe\n", {}, {.outputTo = "|x"}},
      {"verify to a pipe nobody reads", cli, {"verify", "plain.txt"}, 74, "",
       any + "qvehelper: cannot write standard output: broken pipe\n", {}, {.outputTo = "|x"}},
      {"sign-log to a pipe nobody reads", dev, {"sign-log", "plain.txt", "-"}, 74, "",
       "qvehelper-dev sign-log: cannot write standard output: broken pipe\n", {}, {.outputTo = "|x"}},
  };
  // clang-format on
  for (const Row& row : rows) {
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
    testing::ExpectPrinted(testing::Run(command), row.status, row.out, row.err, row.name);
    std::set<std::string> expected = kBase;
    expected.insert(row.added.begin(), row.added.end());
    EXPECT_EQ(testing::NamesIn(dir.path()), expected) << row.name;
    EXPECT_TRUE(testing::ReadFile(dir / "out.bin") == Bytes({'o', 'l', 'd'})) << row.name;
    if (row.added.count("c.qves")) {
      const auto decrypted =
          testing::Run({.program = cli, .args = {"decrypt", "c.qves", "-"}, .folder = dir.path()});
      EXPECT_EQ(decrypted.out, "first\nsecond\n");
    }
  }
}

}  // namespace
}  // namespace qve
