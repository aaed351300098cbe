// SPDX-License-Identifier: Apache-2.0
// qvehelper decrypt as users run it, on one thread and on two: its outcome,
// exit status and what it leaves in the folder.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "tests/support/command_rows.h"
#include "tests/support/harness.h"

namespace qve {
namespace {

namespace fs = std::filesystem;
using namespace testing;

const Bytes kBody = Pattern(50000, 2);
const Bytes kOld = Pattern(777, 9);
const std::set<std::string> kBase = {"bad.qves", "c.qves", "out.bin", "trunc.qves", "v2.qves"};

struct Row {
  std::string name;
  std::vector<std::string> args;
  int status = 0;
  std::string out = "";              // the whole of it; "body": the plaintext
  std::string err = "";              // text it must hold ("\n": a line at all), or "": nothing
  char content = 'O';                // out.bin afterwards: Old, Body, old+body Appended
  std::set<std::string> added = {};  // names beyond kBase left in the folder
  std::string sh = "true";           // shell steps first
  Command how = {};
  int signal = 0;  // when set, standard input a pipe fed c.qves, the command sent it meanwhile
  const char* kept = nullptr;  // a file besides out.bin that must still hold the old bytes
  std::string says = "";       // its one message, word for word: only here is wording pinned
  bool twoThreads = false;     // also on two threads, which digest the plaintext as it is written
  const char* jobs = "1";
};

std::vector<Row> Rows() {
  const std::string sticky = "chmod 1777 . && ln -s ", byNobody = " && chown -h nobody: ";
  const Bytes sealed = Container{.body = kBody}.Build();
  const std::string input(sealed.begin(), sealed.end());
  const Command nobody{.asNobody = true};
  const std::string longName(250, 'n');
  const std::string ok = "Success (0)\n", noSeal = "NoSeal (1)\n", invalid = "HeaderInvalid (6)\n";
  const std::string unopened = "InputOpenFailed (2)\n", said = "\n";
  const std::string others =
      ", owned by neither this user nor the folder's owner, in a sticky world-writable folder; it "
      "is not followed (the rule of fs.protected_symlinks)";
  // clang-format off
  return {
      {.name = "SuccessReplaces", .args = {"c.qves", "out.bin"}, .out = ok, .content = 'B', .twoThreads = true},
      {.name = "AsNobody", .args = {"c.qves", "new"}, .out = ok, .added = {"new"}, .how = nobody},
      {.name = "LongName", .args = {"c.qves", longName}, .out = ok, .added = {longName}},
      {.name = "NameTooLong", .args = {"c.qves", std::string(256, 'n')}, .status = 73, .err = said,
       .says = "OUTPUT " + std::string(256, 'n') + ": file name too long"},
      {.name = "SealOfAnotherKey", .args = {"bad.qves", "out.bin"}, .status = 13, .out = "BadSignature (13)\n",
       .err = "0a000000", .says = "the seal names key 0a000000, not the built-in verification key 0b000000", .twoThreads = true},
      {.name = "BadSealKept", .args = {"--keep-unverified", "bad.qves", "out.bin"}, .status = 13,
       .out = "BadSignature (13)\n", .err = "0a000000", .content = 'B', .twoThreads = true},
      {.name = "Truncated", .args = {"trunc.qves", "out.bin"}, .status = 1, .out = noSeal, .err = said,
       .says = "the container looks cut short: its payload is not a whole number of 16-byte cipher blocks", .twoThreads = true},
      {.name = "Version2", .args = {"v2.qves", "out.bin"}, .status = 6, .out = invalid, .err = said, .says = "version 2 is not supported (this tool reads version 1)"},
      {.name = "StandardInput", .args = {"-", "out.bin"}, .out = ok, .content = 'B', .how = {.input = input}, .twoThreads = true},
      {.name = "StandardInputToStandardOutput", .args = {"-", "-"}, .out = "body", .err = ok, .how = {.input = input}},
      {.name = "StandardInputFifoWriterGone", .args = {"-", "out.bin"}, .out = ok, .content = 'B',
       .how = {.input = input, .inputInFifo = true, .hangGuardSeconds = 20}},
      // By identity, as /dev/fd/1 is too.
      {.name = "PipeAsDevStdout", .args = {"c.qves", "/dev/stdout"}, .out = "body", .err = ok, .how = {.outputTo = "|"}},
      {.name = "MissingInput", .args = {"none", "out.bin"}, .status = 2, .out = unopened, .err = "none",
       .says = "none: no such file or directory"},
      {.name = "FifoAsInput", .args = {"f", "out.bin"}, .status = 65, .err = said, .added = {"f"}, .sh = "mkfifo f",
       .how = {.hangGuardSeconds = 20},
       .says = "INPUT f is a FIFO, not a regular file; give - to read a stream from standard input"},
      {.name = "DeviceAsInput", .args = {"d", "out.bin"}, .status = 65, .err = said, .added = {"d"}, .sh = "mknod -m 666 d c 1 7"},
      {.name = "EmptyInput", .args = {"", "out.bin"}, .status = 64, .err = said, .says = "INPUT and OUTPUT must not be empty"},
      {.name = "FolderInput", .args = {".", "out.bin"}, .status = 2, .out = unopened, .err = said},
      {.name = "UnreadableInput", .args = {"c.qves", "out.bin"}, .status = 2, .out = unopened, .err = "c.qves",
       .sh = "chmod 600 c.qves", .how = nobody},
      {.name = "NamesNotUtf8", .args = {"c\xe9", "out.bin"}, .out = ok, .content = 'B', .added = {"c\xe9"}, .sh = "cp c.qves c\xe9"},
      {.name = "OutputNotUtf8", .args = {"c.qves", "o\xff"}, .out = ok, .added = {"o\xff"}},
      {.name = "SameNotUtf8", .args = {"c\xe9", "./c\xe9"}, .status = 64, .err = "./c\\xe9", .added = {"c\xe9"},
       .sh = "cp c.qves c\xe9"},
      {.name = "EmptyOutput", .args = {"c.qves", ""}, .status = 64, .err = said},
      {.name = "SameFile", .args = {"c.qves", "./c.qves"}, .status = 64, .err = "./c.qves",
       .says = "OUTPUT ./c.qves is the same file as INPUT c.qves"},
      {.name = "SameFileKept", .args = {"--keep-unverified", "c.qves", "c.qves"}, .status = 64, .err = "c.qves"},
      {.name = "SameByHardLink", .args = {"c.qves", "h"}, .status = 64, .err = "c.qves", .added = {"h"}, .sh = "ln c.qves h"},
      {.name = "FifoOutput", .args = {"c.qves", "f"}, .status = 73, .err = said, .added = {"f"}, .sh = "mkfifo f",
       .says = "OUTPUT f is a FIFO; only a regular file is replaced"},
      {.name = "DeviceOutput", .args = {"--keep-unverified", "c.qves", "d"}, .status = 73, .err = said, .added = {"d"},
       .sh = "mknod -m 666 d c 1 7"},
      {.name = "FolderOutput", .args = {"c.qves", "s"}, .status = 73, .err = said, .added = {"s"}, .sh = "mkdir s",
       .says = "OUTPUT s is a folder; only a regular file is replaced"},
      {.name = "NoFolder", .args = {"--keep-unverified", "c.qves", "no/x"}, .status = 73, .err = "no/x",
       .says = "the folder no of OUTPUT no/x does not exist"},
      {.name = "NotReplaceable", .args = {"c.qves", "ro"}, .status = 73, .err = "ro", .added = {"ro"},
       .sh = "cp out.bin ro && chmod 644 ro && chmod 777 .", .how = nobody, .kept = "ro",
       .says = "OUTPUT ro cannot be replaced: permission denied"},
      {.name = "StickyFolder", .args = {"--keep-unverified", "c.qves", "ro"}, .status = 73, .err = "ro", .added = {"ro"},
       .sh = "cp out.bin ro && chmod 666 ro && chmod 1777 .", .how = nobody, .kept = "ro"},
      {.name = "FolderNotWritable", .args = {"c.qves", "new"}, .status = 73, .err = said, .sh = "chmod 755 .",
       .how = nobody, .says = "cannot create a file in .: permission denied"},
      {.name = "LinkFollowed", .args = {"c.qves", "l"}, .out = ok, .content = 'B', .added = {"l"},
       .sh = "ln -s out.bin l"},
      {.name = "OthersLinkInStickyFolder", .args = {"c.qves", "l"}, .status = 73, .err = said, .added = {"l"},
       .sh = sticky + "out.bin l" + byNobody + "l", .says = "OUTPUT l is a symbolic link" + others},
      {.name = "OthersFolderLinkInStickyFolder", .args = {"c.qves", "s/out.bin"}, .status = 73, .err = "s/out.bin",
       .added = {"s"}, .sh = sticky + ". s" + byNobody + "s",
       .says = "OUTPUT s/out.bin leads through s, a symbolic link" + others},
      {.name = "OwnLinkInStickyFolder", .args = {"c.qves", "l"}, .out = ok, .content = 'B', .added = {"l"},
       .sh = sticky + "out.bin l" + byNobody + "l", .how = nobody},
      {.name = "FolderOwnersLinkInStickyFolder", .args = {"c.qves", "l"}, .out = ok, .content = 'B', .added = {"l"},
       .sh = sticky + "out.bin l", .how = nobody},
      {.name = "ToStandardOutput", .args = {"c.qves", "-"}, .out = "body", .err = ok, .twoThreads = true},
      {.name = "NothingUnverified", .args = {"bad.qves", "-"}, .status = 13, .err = "BadSignature (13)\n"},
      {.name = "OutputIsStandardOutput", .args = {"c.qves", "out.bin"}, .err = ok, .content = 'A',
       .how = {.outputTo = "out.bin"}},
      {.name = "FullStandardOutput", .args = {"c.qves", "-"}, .status = 74, .err = said, .how = {.outputTo = "/dev/full"},
       .says = "cannot write standard output: no space left on device", .twoThreads = true},
      {.name = "ReaderGone", .args = {"c.qves", "-"}, .status = 74, .err = said, .how = {.outputTo = "|x"}},
      // What the progress line says is the progress tests' concern.
      {.name = "Progress", .args = {"--progress-delay=0", "c.qves", "out.bin"}, .out = ok, .err = "\r", .content = 'B',
       .how = {.errorToTerminal = true}},
      {.name = "FileSizeLimit", .args = {"c.qves", "out.bin"}, .status = 5, .out = "OutputWriteFailed (5)\n", .err = said,
       .how = {.fileSizeLimit = 9000}, .says = "file too large", .twoThreads = true},
      {.name = "Sigint", .args = {"-", "out.bin"}, .status = 130, .signal = SIGINT, .twoThreads = true},
      {.name = "Sigkill", .args = {"-", "out.bin"}, .status = 137, .signal = SIGKILL},
  };
  // clang-format on
}

class DecryptCommand : public ::testing::TestWithParam<Row> {};

TEST_P(DecryptCommand, Row) {
  umask(022);
  const Row& row = GetParam();
  std::vector<std::string> args = {"-j", row.jobs};
  args.insert(args.end(), row.args.begin(), row.args.end());
  TempDir dir;
  WriteFile(dir / "c.qves", Container{.body = kBody}.Build());
  WriteFile(dir / "bad.qves", Container{.body = kBody, .seal = Seal{.keyId = kKeyId10}}.Build());
  WriteFile(dir / "v2.qves", Container{.version = 2}.Build());
  WriteFile(dir / "out.bin", kOld);
  const std::string setup = "chmod 777 . && head -c -7 c.qves > trunc.qves && chmod 600 out.bin";
  EXPECT_EQ(Shell(dir.path(), setup + " && chown nobody: out.bin && " + row.sh), 0);
  Command command = InFolder(row.how, QVE_CLI_FILE, "decrypt", args, dir.path());
  if (command.outputTo == "out.bin") command.outputTo = dir / "out.bin";
  if (row.signal != 0)
    command.feedInput = [&](pid_t child, int to) {
      FeedPipe(child, to, ReadFile(dir / "c.qves"), row.signal);
    };
  const CommandResult ran = testing::Run(command);
  std::set<std::string> expected = kBase;
  expected.insert(row.added.begin(), row.added.end());
  EXPECT_EQ(NamesIn(dir.path()), expected);
  const Bytes content = row.content == 'B'   ? kBody
                        : row.content == 'A' ? Concat(kOld, kBody)
                                             : kOld;
  EXPECT_TRUE(ReadFile(dir / "out.bin") == content);
  EXPECT_TRUE(row.kept == nullptr || ReadFile(dir / row.kept) == kOld);
  // A replaced file keeps its owner and mode; a new one gets the umask'd mode.
  struct stat status {};
  EXPECT_EQ(stat((dir / "out.bin").c_str(), &status), 0);
  EXPECT_EQ(status.st_mode & 0777, 0600u);
  EXPECT_EQ(status.st_uid, NobodyUid());
  if (expected.count("new") && stat((dir / "new").c_str(), &status) == 0) {
    EXPECT_EQ(status.st_mode & 0777, 0644u);
    EXPECT_TRUE(ReadFile(dir / "new") == kBody);
  }
  EXPECT_EQ(ran.exitCode, row.status) << ran.out << ran.err;
  const std::string body(kBody.begin(), kBody.end());
  EXPECT_TRUE(ran.out == (row.out == "body" ? body : row.out));
  EXPECT_TRUE(row.err.empty() ? ran.err.empty() : ran.err.find(row.err) != std::string::npos)
      << ran.err;
  if (row.says.empty()) return;
  // A usage error's reason stands between its usage line and where the help is.
  std::string err = ran.err;
  if (err.starts_with("usage: ")) {
    err.erase(0, err.find('\n') + 1);
    EXPECT_TRUE(err.ends_with("see 'qvehelper help decrypt'\n"));
    err.erase(err.rfind("see '"));
  }
  EXPECT_EQ(err, "qvehelper decrypt: " + row.says + "\n");
}

std::vector<Row> OnThreads() {
  std::vector<Row> rows;
  for (const Row& row : Rows()) {
    rows.push_back(row), rows.back().name += "_j1";
    if (row.twoThreads) rows.push_back(row), rows.back().name += "_j2", rows.back().jobs = "2";
  }
  return rows;
}
QVE_ROWS(DecryptCommand, OnThreads());

}  // namespace
}  // namespace qve
