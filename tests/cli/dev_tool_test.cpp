// SPDX-License-Identifier: Apache-2.0
// qvehelper-dev and the frame both programs share: exit status, what it names
// and the folder afterwards.
#include <gtest/gtest.h>

#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "tests/support/command_rows.h"
#include "tests/support/harness.h"
#include "tests/support/json_holds.h"

namespace qve {
namespace {

namespace fs = std::filesystem;

const std::set<std::string> kBase = {"bad.txt", "out.bin", "plain.txt"};

struct Row {
  std::string name;
  std::string program = QVE_DEV_CLI_FILE;
  std::vector<std::string> args;
  int status = 0;
  std::vector<std::string> out = {};  // parts it must hold, in order; none: nothing
  std::string err = "";               // a part it must hold ("\n": a line at all), or "": nothing
  std::set<std::string> added = {};
  testing::Command how = {};
  std::string sh = "true";             // shell steps first
  std::vector<std::string> says = {};  // word for word: only here is wording pinned
};

std::vector<Row> Rows() {
  const std::string key = testing::DevKeyPath("decryption-public.pem");
  std::vector<std::string> many = {"seal", "plain.txt", "out.bin"};
  for (int i = 1; i <= 32; ++i)
    many.insert(many.end(), {"--recipient", key + ":" + std::to_string(i)});
  const char* cli = QVE_CLI_FILE;
  const std::string said = "\n", seal = "qvehelper-dev seal: ", sign = "qvehelper-dev sign-log: ";
  // clang-format off
  return {
      {.name = "Seal", .args = {"seal", "plain.txt", "c.qves"}, .added = {"c.qves"}},
      {.name = "Sign", .args = {"sign-log", "plain.txt", "s.log", "-n", "1", "--id", "4294967295"}, .added = {"s.log"}},
      {.name = "SealOntoItself", .args = {"seal", "out.bin", "./out.bin"}, .status = 64, .err = "./out.bin",
       .says = {seal + "OUTPUT ./out.bin is the same file as out.bin\n"}},
      {.name = "SignOntoItself", .args = {"sign-log", "plain.txt", "plain.txt"}, .status = 64, .err = "plain.txt",
       .says = {sign + "output plain.txt is the same file as plain.txt\n"}},
      {.name = "NoColon", .args = {"seal", "plain.txt", "out.bin", "--recipient", "foo"}, .status = 64, .err = "'foo'",
       .says = {seal + "--recipient takes PUBLIC_PEM:KEY_NUMBER, not 'foo'\n"}},
      {.name = "NoKey", .args = {"seal", "plain.txt", "out.bin", "--recipient", ":abc"}, .status = 64, .err = "':abc'"},
      {.name = "KeyNumberPast32Bits", .args = {"seal", "plain.txt", "out.bin", "--recipient", key + ":99999999999"},
       .status = 64, .err = "99999999999"},
      {.name = "Recipients33", .args = many, .status = 64, .err = "33",
       .says = {seal + "a container holds 1 to 32 recipients, not 33\n"}},
      {.name = "SealIdPast32Bits", .args = {"seal", "plain.txt", "out.bin", "--seal-key-id", "4294967296"}, .status = 64,
       .err = said},
      {.name = "NegativeCount", .args = {"sign-log", "plain.txt", "out.bin", "-n", "-1"}, .status = 64, .err = "-1",
       .says = {"qvehelper-dev: --every: not a number of digits: -1\n"}},
      {.name = "CountPast64Bits", .args = {"sign-log", "plain.txt", "out.bin", "-n", "18446744073709551616"}, .status = 64,
       .err = said, .says = {"qvehelper-dev: --every: a number past 64 bits: 18446744073709551616\n"}},
      {.name = "LongText", .args = {"sign-log", "plain.txt", "out.bin", "--text", std::string(2049, 't')}, .status = 64,
       .err = "2049", .says = {sign + "--text holds at most 2048 bytes, not 2049\n"}},
      {.name = "LineHolding1A", .args = {"sign-log", "bad.txt", "out.bin"}, .status = 65, .err = said,
       .says = {sign + "input line 2 holds 0x1A, which would end the log for a reader\n"}},
      {.name = "LineHoldingNul", .args = {"sign-log", "-", "out.bin"}, .status = 65, .err = said,
       .how = {.input = std::string("first\nsec\0ond\n", 14)},
       .says = {sign + "input line 2 holds a NUL, and a signature covers a line only up to its first NUL\n"}},
      {.name = "ChainFromNoSignature", .args = {"sign-log", "plain.txt", "out.bin", "--chain-from", "plain.txt"},
       .status = 65, .err = "plain.txt", .says = {sign + "--chain-from plain.txt has no signature line\n"}},
      {.name = "NotAKey", .args = {"sign-log", "--key", "plain.txt", "plain.txt", "out.bin"}, .status = 65,
       .err = "plain.txt", .says = {sign + "plain.txt is not an RSA private key in PEM form\n"}},
      {.name = "MissingInput", .args = {"seal", "none", "out.bin"}, .status = 66, .err = "none",
       .says = {seal + "cannot open none: no such file or directory\n"}},
      {.name = "InputNamedNotUtf8", .args = {"seal", "p\xe9", "c.qves"}, .added = {"c.qves", "p\xe9"},
       .sh = "cp plain.txt p\xe9"},
      {.name = "InputNobodyMayRead", .args = {"seal", "bad.txt", "new.qves"}, .status = 66, .err = "bad.txt",
       .how = {.asNobody = true}},
      {.name = "KeyAsStandardInput", .args = {"sign-log", "--key", "-", "plain.txt", "out.bin"}, .status = 64, .err = said,
       .says = {sign + "a key or --chain-from cannot be standard input (-); ./- names a file called -\n"}},
      {.name = "SignStandardInputToOutput", .args = {"sign-log", "-n", "1", "-", "-"}, .out = {"first\n\x1F", "\x1F\n"},
       .how = {.input = "first\n"}},
      {.name = "SealStandardInputToOutput", .args = {"seal", "-", "-"}, .added = {"c.qves"},
       .how = {.input = "first\nsecond\n", .outputTo = "c.qves"}},
      {.name = "KeysBesideTheProgram", .args = {"seal", "plain.txt", "c.qves"}, .added = {"c.qves"}, .how = {.asNobody = true}},
      {.name = "NoKeysBesideTheProgram", .program = "./qvehelper-dev", .args = {"sign-log", "plain.txt", "s.log"},
       .status = 66, .err = "/keys/dev", .added = {"qvehelper-dev"}, .sh = "cp " QVE_DEV_CLI_FILE " .",
       .says = {sign + "no development keys beside the program (looked in "}},
      {.name = "InstalledKeys", .program = "./bin/qvehelper-dev", .args = {"seal", "plain.txt", "c.qves"},
       .added = {"bin", "share", "c.qves"}, .sh = "mkdir -p bin share/qvehelper/keys && cp " QVE_DEV_CLI_FILE " bin/ && cp -r $(dirname " + key + ") share/qvehelper/keys/dev"},
      {.name = "OutputPastSizeLimit", .args = {"sign-log", "plain.txt", "out.bin", "-n", "1"}, .status = 74,
       .err = "out.bin", .how = {.fileSizeLimit = 300}, .says = {sign + "cannot write output out.bin: file too large\n"}},
      {.name = "DeviceOutput", .args = {"seal", "plain.txt", "/dev/full"}, .status = 73, .err = "/dev/full",
       .says = {seal + "OUTPUT /dev/full is a character device; only a regular file is replaced\n"}},
      {.name = "UnknownCommand", .program = cli, .args = {"verfiy", "logs"}, .status = 64, .err = "'verfiy'",
       .says = {"qvehelper: unknown command 'verfiy'; run 'qvehelper help' for the list\n"}},
      // Help names each subcommand, its usage and its exit statuses, laid
      // out by the frame, words wrapped at 78 columns under their text.
      {.name = "Help", .program = cli, .args = {"help"}, .out = {"decrypt", "verify", "help"}, .says = {"Subcommands:"}},
      {.name = "HelpCheck", .program = cli, .args = {"help", "check"}, .out = {"\n  0 ", "\n  1-13 ", "\n  64 "},
       .says = {"Exit status:\n  0    success: every container gives Success\n"
                "  1-13 the largest result of any container (see 'decrypt'); a line on standard\n"
                "       error says why each one that is not Success gives its result\n"}},
      {.name = "VerifyHelp", .program = cli, .args = {"verify", "--help"}, .out = {"qvehelper verify ", "64 ", "66 ", "70 ", "74 "}},
      {.name = "UsageError", .args = {"seal"}, .status = 64, .err = "qvehelper-dev seal ",
       .says = {"qvehelper-dev: INPUT is required\n", "usage: qvehelper-dev seal "}},
      {.name = "VersionToFullDisk", .program = cli, .args = {"--version"}, .status = 74, .err = said,
       .how = {.outputTo = "/dev/full"}, .says = {"qvehelper: cannot write standard output: no space left on device\n"}},
      // A pipe whose reader has gone: a failed write, not death by SIGPIPE.
      {.name = "HelpToGoneReader", .program = cli, .args = {"help"}, .status = 74, .err = said, .how = {.outputTo = "|x"}},
      {.name = "VerifyToGoneReader", .program = cli, .args = {"verify", "plain.txt"}, .status = 74, .err = said,
       .how = {.outputTo = "|x"}},
      {.name = "SignToGoneReader", .args = {"sign-log", "plain.txt", "-"}, .status = 74, .err = said,
       .how = {.outputTo = "|x"}, .says = {sign + "cannot write standard output: broken pipe\n"}},
  };
  // clang-format on
}

class DevToolAndFrame : public ::testing::TestWithParam<Row> {};

// Each row runs in a folder of its own.
TEST_P(DevToolAndFrame, Row) {
  const Row& row = GetParam();
  testing::TempDir dir;
  ASSERT_EQ(
      testing::Shell(
          dir.path(),
          "printf 'first\\nsecond\\n' > plain.txt && printf 'first\\nsec\\032ond\\n' > bad.txt && "
          "printf old > out.bin && chmod 777 . && chmod 600 bad.txt && " +
              row.sh),
      0);
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
  EXPECT_EQ(testing::NamesIn(dir.path()), expected);
  EXPECT_TRUE(testing::ReadFile(dir / "out.bin") == Bytes({'o', 'l', 'd'}));
  if (row.added.count("c.qves")) {
    const auto decrypted = testing::Run(
        {.program = QVE_CLI_FILE, .args = {"decrypt", "c.qves", "-"}, .folder = dir.path()});
    EXPECT_EQ(decrypted.out, "first\nsecond\n");
  }
  EXPECT_EQ(ran.exitCode, row.status) << ran.out << ran.err;
  testing::ExpectInOrder(ran.out, row.out);
  if (row.err.empty()) {
    EXPECT_EQ(ran.err, "");
  }
  EXPECT_NE(ran.err.find(row.err), std::string::npos) << ran.err;
  for (const std::string& text : row.says)
    EXPECT_NE((ran.out + ran.err).find(text), std::string::npos) << text << "\n" << ran.err;
}

QVE_ROWS(DevToolAndFrame, Rows());

}  // namespace
}  // namespace qve
