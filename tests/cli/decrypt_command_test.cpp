// SPDX-License-Identifier: Apache-2.0
// qvehelper decrypt as users run it: one row per case, with its outcome,
// its exit status and what it leaves in the folder; what it says in words,
// in one table at the end.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "format/byte_builder.h"
#include "tests/support/builders.h"
#include "tests/support/command_runner.h"
#include "tests/support/harness.h"

namespace qve {
namespace {

namespace fs = std::filesystem;
using testing::Container;

const Bytes kBody = testing::Pattern(50000, 2);
const Bytes kOld = testing::Pattern(777, 9);
const std::set<std::string> kBase = {"bad.qves", "c.qves", "out.bin", "trunc.qves"};

// Standard input as a pipe that gets c.qves, the command interrupted by
// `signal` while it waits for the end.
std::function<void(pid_t, int, const fs::path&)> Feed(int signal) {
  return [signal](pid_t child, int to, const fs::path& dir) {
    testing::FeedPipe(child, to, testing::ReadFile(dir / "c.qves"), signal);
  };
}

struct Row {
  const char* name;
  std::vector<std::string> args;
  int status;
  const char* out;                   // the whole of it; "body": the plaintext
  const char* err;                   // text it must hold ("\n": a line at all), or "": nothing
  char content = 'O';                // out.bin afterwards: Old, Body, old+body Appended, '-' absent
  std::set<std::string> added = {};  // names beyond kBase left in the folder
  std::function<void(const fs::path&)> setup = {};
  testing::Command how = {};
  std::function<void(pid_t, int, const fs::path&)> feed = {};
  const char* kept = nullptr;  // a file besides out.bin that must still hold the old bytes
};

std::vector<Row> Rows() {
  const auto fifo = [](const char* name) {
    return [name](const fs::path& dir) { ASSERT_EQ(mkfifo((dir / name).c_str(), 0644), 0); };
  };
  const auto link = [](const char* target, const char* name) {
    return [=](const fs::path& dir) { fs::create_symlink(target, dir / name); };
  };
  const auto hardLink = [](const fs::path& dir) {
    fs::create_hard_link(dir / "c.qves", dir / "h");
  };
  const auto device = [](const fs::path& dir) {
    ASSERT_EQ(mknod((dir / "d").c_str(), S_IFCHR | 0666, makedev(1, 7)), 0);
  };
  const auto folder = [](const fs::path& dir) { fs::create_directory(dir / "s"); };
  const auto notUtf8 = [](const fs::path& dir) { fs::copy(dir / "c.qves", dir / "c\xe9"); };
  const auto lockInput = [](const fs::path& dir) { chmod((dir / "c.qves").c_str(), 0600); };
  const auto lockFolder = [](const fs::path& dir) { chmod(dir.c_str(), 0755); };
  // Another user's file, which nobody may write; in a sticky folder, one it
  // may write but not replace.
  const auto othersFile = [](mode_t mode, mode_t folder) {
    return [=](const fs::path& dir) {
      testing::WriteFile(dir / "ro", kOld);
      chmod((dir / "ro").c_str(), mode);
      chmod(dir.c_str(), folder);
    };
  };
  // A container cut at a cipher block boundary, and one of another version.
  const auto cutAtBlock = [](const fs::path& dir) {
    const Bytes whole = Container{.body = kBody}.Build();
    testing::WriteFile(dir / "cut.qves", testing::Head(whole, Container{}.Header().size() + 4096));
  };
  const auto version2 = [](const fs::path& dir) {
    testing::WriteFile(dir / "v2.qves", Container{.version = 2}.Build());
  };
  const auto tooManyRecipients = [](const fs::path& dir) {
    testing::WriteFile(dir / "r33.qves", ByteBuilder().Tag("QVES").U16LE(1).U8(33).Take());
  };
  const auto cutAfterIv = [](const fs::path& dir) {
    testing::WriteFile(dir / "iv.qves", Container{}.Header());
  };
  const auto socketFile = [](const fs::path& dir) {
    const int fd = socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const std::string path = (dir / "sock").string();
    ASSERT_LT(path.size(), sizeof address.sun_path);
    path.copy(address.sun_path, path.size());
    ASSERT_EQ(bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    close(fd);
  };
  // A link in the sticky world-writable folder, as nobody would plant it
  // (the test runs as root) or as root's own.
  const auto stickyLink = [](const char* target, const char* name, bool byNobody) {
    return [=](const fs::path& dir) {
      chmod(dir.c_str(), 01777);
      fs::create_symlink(target, dir / name);
      if (byNobody) {
        ASSERT_EQ(lchown((dir / name).c_str(), testing::NobodyUid(), testing::NobodyGid()), 0);
      }
    };
  };
  const Bytes sealed = Container{.body = kBody}.Build();
  const testing::Command fromStandardInput{.input = std::string(sealed.begin(), sealed.end())};
  const testing::Command nobody{.asNobody = true};
  const std::string longName(250, 'n');
  const char* ok = "Success (0)\n";
  const char* noSeal = "NoSeal (1)\n";
  const char* invalid = "HeaderInvalid (6)\n";
  const char* unopened = "InputOpenFailed (2)\n";
  const char* said = "\n";
  // clang-format off
  return {
      {"success replaces", {"c.qves", "out.bin"}, 0, ok, "", 'B'},
      {"success creates", {"c.qves", "new"}, 0, ok, "", 'O', {"new"}},
      {"as nobody", {"c.qves", "new"}, 0, ok, "", 'O', {"new"}, {}, nobody},
      {"a long name", {"c.qves", longName}, 0, ok, "", 'O', {longName}},
      {"a name too long", {"c.qves", std::string(256, 'n')}, 73, "", said},
      {"seal of another key", {"bad.qves", "out.bin"}, 13, "BadSignature (13)\n", "0a000000"},
      {"bad seal kept", {"--keep-unverified", "bad.qves", "out.bin"}, 13, "BadSignature (13)\n",
       "0a000000", 'B'},
      {"truncated", {"trunc.qves", "out.bin"}, 1, noSeal, said},
      {"cut at a block", {"cut.qves", "out.bin"}, 1, noSeal, said, 'O', {"cut.qves"}, cutAtBlock},
      {"version 2", {"v2.qves", "out.bin"}, 6, invalid, said, 'O', {"v2.qves"}, version2},
      {"33 recipients", {"r33.qves", "out.bin"}, 6, invalid, said, 'O', {"r33.qves"},
       tooManyRecipients},
      {"standard input", {"-", "out.bin"}, 0, ok, "", 'B', {}, {}, fromStandardInput},
      {"standard input to standard output", {"-", "-"}, 0, "body", ok, 'O', {}, {}, fromStandardInput},
      {"standard input as nobody", {"-", "new"}, 0, ok, "", 'O', {"new"}, {},
       {.input = fromStandardInput.input, .asNobody = true}},
      {"standard input, a FIFO its writer has left", {"-", "out.bin"}, 0, ok, "", 'B', {}, {},
       {.input = fromStandardInput.input, .inputInFifo = true, .hangGuardSeconds = 20}},
      {"a pipe as /dev/stdout", {"c.qves", "/dev/stdout"}, 0, "body", ok, 'O', {}, {}, {.outputTo = "|"}},
      {"a pipe as /dev/fd/1", {"c.qves", "/dev/fd/1"}, 0, "body", ok, 'O', {}, {}, {.outputTo = "|"}},
      {"missing input", {"none", "out.bin"}, 2, unopened, "none"},
      {"FIFO as INPUT", {"f", "out.bin"}, 65, "", said, 'O', {"f"}, fifo("f"), {.hangGuardSeconds = 20}},
      {"device as INPUT", {"d", "out.bin"}, 65, "", said, 'O', {"d"}, device},
      {"socket as INPUT", {"sock", "out.bin"}, 65, "", "sock", 'O', {"sock"}, socketFile},
      {"empty INPUT", {"", "out.bin"}, 64, "", said},
      {"cut after the IV", {"iv.qves", "out.bin"}, 1, noSeal, said, 'O', {"iv.qves"}, cutAfterIv},
      {"folder input", {".", "out.bin"}, 2, unopened, said},
      {"unreadable input", {"c.qves", "out.bin"}, 2, unopened, "c.qves", 'O', {}, lockInput, nobody},
      {"names not UTF-8", {"c\xe9", "out.bin"}, 0, ok, "", 'B', {"c\xe9"}, notUtf8},
      {"OUTPUT not UTF-8", {"c.qves", "o\xff"}, 0, ok, "", 'O', {"o\xff"}},
      {"missing, not UTF-8", {"n\xe9", "out.bin"}, 2, unopened, "n\\xe9"},
      {"same, not UTF-8", {"c\xe9", "./c\xe9"}, 64, "", "./c\\xe9", 'O', {"c\xe9"}, notUtf8},
      {"empty OUTPUT", {"c.qves", ""}, 64, "", said},
      {"same file", {"c.qves", "./c.qves"}, 64, "", "./c.qves"},
      {"same file kept", {"--keep-unverified", "c.qves", "c.qves"}, 64, "", "c.qves"},
      {"same by link", {"--keep-unverified", "c.qves", "l"}, 64, "", "c.qves", 'O', {"l"}, link("c.qves", "l")},
      {"same by hard link", {"c.qves", "h"}, 64, "", "c.qves", 'O', {"h"}, hardLink},
      {"FIFO", {"c.qves", "f"}, 73, "", said, 'O', {"f"}, fifo("f")},
      {"device", {"--keep-unverified", "c.qves", "d"}, 73, "", said, 'O', {"d"}, device},
      {"folder", {"c.qves", "s"}, 73, "", said, 'O', {"s"}, folder},
      {"no folder", {"--keep-unverified", "c.qves", "no/x"}, 73, "", "no/x"},
      {"not replaceable", {"c.qves", "ro"}, 73, "", "ro", 'O', {"ro"}, othersFile(0644, 0777), nobody, {},
       "ro"},
      {"sticky folder", {"--keep-unverified", "c.qves", "ro"}, 73, "", "ro", 'O', {"ro"},
       othersFile(0666, 01777), nobody, {}, "ro"},
      {"folder not writable", {"c.qves", "new"}, 73, "", said, 'O', {}, lockFolder, nobody},
      {"link followed", {"c.qves", "l"}, 0, ok, "", 'B', {"l"}, link("out.bin", "l")},
      {"another user's link in a sticky folder", {"c.qves", "l"}, 73, "", said, 'O', {"l"},
       stickyLink("out.bin", "l", true)},
      {"another user's folder link in a sticky folder", {"c.qves", "s/out.bin"}, 73, "", "s/out.bin",
       'O', {"s"}, stickyLink(".", "s", true)},
      {"its own link in a sticky folder", {"c.qves", "l"}, 0, ok, "", 'B', {"l"},
       stickyLink("out.bin", "l", true), nobody},
      {"the folder owner's link in a sticky folder", {"c.qves", "l"}, 0, ok, "", 'B', {"l"},
       stickyLink("out.bin", "l", false), nobody},
      {"to standard output", {"c.qves", "-"}, 0, "body", ok},
      {"nothing unverified", {"bad.qves", "-"}, 13, "", "BadSignature (13)\n"},
      {"OUTPUT is standard output", {"c.qves", "out.bin"}, 0, "", ok, 'A', {}, {}, {.outputTo = "out.bin"}},
      {"full standard output", {"c.qves", "-"}, 74, "", said, 'O', {}, {}, {.outputTo = "/dev/full"}},
      {"closed standard output", {"c.qves", "-"}, 74, "", said, 'O', {}, {}, {.outputTo = "-"}},
      {"standard output's reader gone", {"c.qves", "-"}, 74, "", said, 'O', {}, {}, {.outputTo = "|x"}},
      // What the progress line says is the progress tests' concern.
      {"progress", {"--progress-delay=0", "c.qves", "out.bin"}, 0, ok, "\r", 'B', {}, {},
       {.errorToTerminal = true}},
      {"file size limit", {"c.qves", "out.bin"}, 5, "OutputWriteFailed (5)\n", said, 'O', {}, {},
       {.fileSizeLimit = 9000}},
      {"SIGINT", {"-", "out.bin"}, 130, "", "", 'O', {}, {}, {}, Feed(SIGINT)},
      {"SIGKILL", {"-", "out.bin"}, 137, "", "", 'O', {}, {}, {}, Feed(SIGKILL)},
  };
  // clang-format on
}

// Runs `row` with `jobs` threads in a folder of its own, checks what it
// leaves there and returns what it printed.
testing::CommandResult RunRow(const Row& row, const char* jobs) {
  std::vector<std::string> args = {"-j", jobs};
  args.insert(args.end(), row.args.begin(), row.args.end());
  testing::TempDir dir;
  chmod(dir.path().c_str(), 0777);
  testing::WriteFile(dir / "c.qves", Container{.body = kBody}.Build());
  testing::WriteFile(
      dir / "bad.qves",
      Container{.body = kBody, .seal = testing::Seal{.keyId = testing::kKeyId10}}.Build());
  Bytes cut = testing::ReadFile(dir / "c.qves");
  cut.resize(cut.size() - 7);
  testing::WriteFile(dir / "trunc.qves", cut);
  testing::WriteFile(dir / "out.bin", kOld);
  chown((dir / "out.bin").c_str(), testing::NobodyUid(), testing::NobodyGid());
  chmod((dir / "out.bin").c_str(), 0600);
  if (row.setup) row.setup(dir.path());
  testing::Command command = testing::InFolder(row.how, QVE_CLI_FILE, "decrypt", args, dir.path());
  if (!command.outputTo.empty() && command.outputTo[0] != '/' && command.outputTo != "-" &&
      command.outputTo[0] != '|')
    command.outputTo = dir / command.outputTo;
  if (row.feed) command.feedInput = [&](pid_t child, int to) { row.feed(child, to, dir.path()); };
  const testing::CommandResult ran = testing::Run(command);
  std::set<std::string> expected = kBase;
  expected.insert(row.added.begin(), row.added.end());
  EXPECT_EQ(testing::NamesIn(dir.path()), expected) << row.name;
  Bytes appended = kOld;
  appended.insert(appended.end(), kBody.begin(), kBody.end());
  const Bytes content = row.content == 'B' ? kBody : row.content == 'A' ? appended : kOld;
  EXPECT_TRUE(testing::ReadFile(dir / "out.bin") == content) << row.name;
  if (row.kept != nullptr) {
    EXPECT_TRUE(testing::ReadFile(dir / row.kept) == kOld) << row.name;
  }
  // A replaced file keeps its owner and mode; a new one gets the umask'd mode.
  struct stat status {};
  EXPECT_EQ(stat((dir / "out.bin").c_str(), &status), 0);
  EXPECT_EQ(status.st_mode & 0777, 0600u) << row.name;
  EXPECT_EQ(status.st_uid, testing::NobodyUid()) << row.name;
  if (expected.count("new") && stat((dir / "new").c_str(), &status) == 0) {
    EXPECT_EQ(status.st_mode & 0777, 0644u) << row.name;
    EXPECT_TRUE(testing::ReadFile(dir / "new") == kBody) << row.name;
  }
  return ran;
}

TEST(DecryptCommand, Table) {
  umask(022);
  // The thread axis: one thread reads the plaintext back, two digest it as
  // it is written; both must end alike.
  for (const char* jobs : {"1", "2"})
    for (const Row& row : Rows()) {
      SCOPED_TRACE(std::string("-j ") + jobs);
      const testing::CommandResult ran = RunRow(row, jobs);
      EXPECT_EQ(ran.exitCode, row.status) << row.name << "\n" << ran.out << ran.err;
      const std::string body(kBody.begin(), kBody.end());
      EXPECT_TRUE(ran.out == (std::string(row.out) == "body" ? body : row.out)) << row.name;
      if (*row.err == '\0') {
        EXPECT_EQ(ran.err, "") << row.name;
      } else {
        EXPECT_NE(ran.err.find(row.err), std::string::npos) << row.name << ":\n" << ran.err;
      }
    }
}

// The one place that pins what decrypt says: a row per distinct message (a
// system's reason or a kind of file in place of another, not again), by the
// name of the row above that makes it.
TEST(DecryptCommand, Wording) {
  umask(022);
  // clang-format off
  const std::pair<const char*, std::string> messages[] = {
      {"a name too long", "OUTPUT " + std::string(256, 'n') + ": file name too long"},
      {"seal of another key", "the seal names key 0a000000, not the built-in verification key 0b000000"},
      {"truncated", "the container looks cut short: its payload is not a whole number of 16-byte cipher blocks"},
      {"cut at a block", "the container looks cut short or damaged: the padding of its last cipher block is invalid"},
      {"cut after the IV", "the container looks cut short: it ends right after its IV, with no payload"},
      {"version 2", "version 2 is not supported (this tool reads version 1)"},
      {"33 recipients", "the header is damaged at offset 6: recipient count 33, at most 32"},
      {"missing input", "none: no such file or directory"},
      {"FIFO as INPUT", "INPUT f is a FIFO, not a regular file; give - to read a stream from standard input"},
      {"empty INPUT", "INPUT and OUTPUT must not be empty"},
      {"same file", "OUTPUT ./c.qves is the same file as INPUT c.qves"},
      {"FIFO", "OUTPUT f is a FIFO; only a regular file is replaced"},
      {"folder", "OUTPUT s is a folder; only a regular file is replaced"},
      {"no folder", "the folder no of OUTPUT no/x does not exist"},
      {"not replaceable", "OUTPUT ro cannot be replaced: permission denied"},
      {"folder not writable", "cannot create a file in .: permission denied"},
      {"another user's link in a sticky folder", "OUTPUT l is a symbolic link, owned by neither this user nor the folder's owner, in a sticky world-writable folder; it is not followed (the rule of fs.protected_symlinks)"},
      {"another user's folder link in a sticky folder", "OUTPUT s/out.bin leads through s, a symbolic link, owned by neither this user nor the folder's owner, in a sticky world-writable folder; it is not followed (the rule of fs.protected_symlinks)"},
      {"full standard output", "cannot write standard output: no space left on device"},
      {"file size limit", "file too large"},
  };
  // clang-format on
  const std::vector<Row> rows = Rows();
  for (const auto& [name, text] : messages) {
    const auto row = std::find_if(rows.begin(), rows.end(),
                                  [&](const Row& each) { return std::string(each.name) == name; });
    ASSERT_NE(row, rows.end()) << name;
    // A usage error's reason stands between its usage line and where the help is.
    std::string err = RunRow(*row, "1").err;
    if (err.starts_with("usage: ")) {
      err.erase(0, err.find('\n') + 1);
      EXPECT_TRUE(err.ends_with("see 'qvehelper help decrypt'\n")) << name;
      err.erase(err.rfind("see '"));
    }
    EXPECT_EQ(err, "qvehelper decrypt: " + text + "\n") << name;
  }
}

}  // namespace
}  // namespace qve
