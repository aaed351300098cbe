// SPDX-License-Identifier: Apache-2.0
// qvehelper check as users run it, on a folder of mixed containers: one row
// per case, with one result per container, the largest as the exit status,
// a warning for every entry passed over, and no file left anywhere.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "tests/support/builders.h"
#include "tests/support/command_runner.h"
#include "tests/support/harness.h"

namespace qve {
namespace {

namespace fs = std::filesystem;
using testing::Container;

// d/ holds five containers and a text file.
void Containers(const fs::path& dir) {
  const auto write = [&](const std::string& name, const Bytes& bytes) {
    fs::create_directories((dir / "d" / name).parent_path());
    testing::WriteFile(dir / "d" / name, bytes);
  };
  const Bytes key = Container{}.sessionKey;
  write("good.qves", Container{.body = testing::Pattern(10000)}.Build());
  write("header.qves", Container{.version = 2}.Build());
  write("wrong-key.qves", Container{.records = std::vector{testing::WrappedFor(
                                        testing::kKeyId11, testing::KeyBlock(key))}}
                              .Build());
  write("sub/no-seal.qves", Container{.seal = std::nullopt}.Build());
  write("sub/bad-seal.qves",
        Container{.seal = testing::Seal{.signature = testing::Pattern(256)}}.Build());
  write("notes.txt", testing::BytesOf("not a container\n"));
}

// Every kind of entry check passes over or warns about.
void Oddities(const fs::path& dir) {
  const fs::path d = dir / "d";
  testing::WriteFile(d / "empty.qves", Bytes());
  Bytes damaged = testing::ReadFile(d / "good.qves");
  damaged[0] = 'X';
  testing::WriteFile(d / "damaged.QVES", damaged);
  testing::WriteFile(d / "renamed.bin", testing::ReadFile(d / "good.qves"));
  testing::WriteFile(d / "ab", testing::BytesOf("shorter than the suffix\n"));
  testing::WriteFile(d / ".qves", testing::BytesOf("the suffix alone\n"));
  fs::create_symlink("good.qves", d / "link.qves");
  ASSERT_EQ(mkfifo((d / "fifo.qves").c_str(), 0644), 0);
  fs::copy_file(d / "good.qves", d / "caf\xe9.qves");
  testing::WriteFile(d / "locked.txt", Bytes());
  chmod((d / "locked.txt").c_str(), 0);
  fs::create_directory(d / "locked");
  chmod((d / "locked").c_str(), 0);
}

std::set<std::string> Lines(const std::string& text) {
  std::set<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.insert(line);
  return lines;
}

struct Row {
  const char* name;
  std::vector<std::string> args;
  int status;
  std::string out;                 // a pattern; the whole text must match
  std::set<std::string> err = {};  // its lines, in any order
  std::function<void(const fs::path&)> setup = {};
  testing::Command how = {};
  std::string errPattern = {};  // instead of `err`, for a terminal's bytes
};

TEST(CheckCommand, Table) {
  const testing::Command nobody{.asNobody = true};
  const testing::Command terminal{.errorToTerminal = true};
  const auto emptyFolder = [](const fs::path& dir) {
    fs::create_directories(dir / "d/none/deeper");
  };
  const auto notUtf8 = [](const fs::path& dir) { fs::copy(dir / "d/good.qves", dir / "d/\xe9"); };
  const auto fifo = [](const fs::path& dir) {
    ASSERT_EQ(mkfifo((dir / "d/fifo.qves").c_str(), 0644), 0);
  };
  const auto cutAfterIv = [](const fs::path& dir) {
    testing::WriteFile(dir / "d/iv.qves", Container{}.Header());
  };
  // TMPDIR as a link that nobody planted in a sticky world-writable folder
  // (the test runs as root).
  const auto plantedScratch = [](const fs::path& dir) {
    fs::create_directory(dir / "sticky");
    chmod((dir / "sticky").c_str(), 01777);
    fs::create_symlink("..", dir / "sticky/tmp");
    ASSERT_EQ(lchown((dir / "sticky/tmp").c_str(), testing::NobodyUid(), testing::NobodyGid()), 0);
  };
  // Why each container of d/ gives its result.
  const std::set<std::string> why = {
      "qvehelper check: d/header.qves: version 2 is not supported (this tool reads version 1)",
      "qvehelper check: d/sub/bad-seal.qves: the seal's signature does not match the plaintext",
      "qvehelper check: d/sub/no-seal.qves: the plaintext ends in no seal trailer",
      "qvehelper check: d/wrong-key.qves: no recipient record names the built-in key 0a000000"};
  std::set<std::string> besides = why;
  besides.insert(
      {"qvehelper check: d/damaged.QVES: not a QVES container (magic 58564553, expected 51564553)",
       "qvehelper check: d/empty.qves: not a QVES container (magic cut short by the end of the "
       "file)",
       "qvehelper check: d/.qves: not a QVES container (magic 74686520, expected 51564553)",
       "warning: d/.qves: does not start with \"QVES\"", "warning: d/empty.qves: the file is empty",
       "warning: d/damaged.QVES: does not start with \"QVES\"",
       "warning: d/link.qves: skipped: links are not followed",
       "warning: d/fifo.qves: skipped: a FIFO, not a regular file",
       "warning: d/locked.txt: skipped: permission denied",
       "warning: d/locked: skipped: permission denied"});
  // clang-format off
  const Row rows[] = {
      {"a folder", {"-j", "3", "d"}, 13,
       "Success d/good.qves\nHeaderInvalid d/header.qves\nBadSignature d/sub/bad-seal.qves\n"
       "NoSeal d/sub/no-seal.qves\nSessionKeyUnavailable d/wrong-key.qves\n", why},
      {"what a folder holds besides", {"d"}, 13,
       "HeaderInvalid d/\\.qves\nSuccess d/caf\\\\xe9\\.qves\nHeaderInvalid d/damaged.QVES\nHeaderInvalid d/empty.qves\n"
       "Success d/good.qves\nHeaderInvalid d/header.qves\nSuccess d/renamed.bin\n"
       "BadSignature d/sub/bad-seal.qves\nNoSeal d/sub/no-seal.qves\nSessionKeyUnavailable d/wrong-key.qves\n",
       besides,
       Oddities, nobody},
      {"JSON in argument order", {"--json", "d/sub/no-seal.qves", "d/good.qves", "d/missing"}, 2,
       "\\[\\s*\\{\\s*\"path\": \"d/sub/no-seal.qves\",\\s*\"result\": \"NoSeal\",\\s*\"resultCode\": 1\\s*\\},"
       "\\s*\\{\\s*\"path\": \"d/good.qves\",\\s*\"result\": \"Success\",\\s*\"resultCode\": 0\\s*\\},"
       "\\s*\\{\\s*\"path\": \"d/missing\",\\s*\"result\": \"InputOpenFailed\",\\s*\"resultCode\": 2\\s*\\}\\s*\\]\n",
       {"qvehelper check: d/sub/no-seal.qves: the plaintext ends in no seal trailer",
        "qvehelper check: d/missing: no such file or directory"}},
      {"standard input", {"-"}, 64, "", {"qvehelper check: CONTAINER cannot be standard input (-); ./- names a file called -"}},
      {"an empty CONTAINER", {"d/good.qves", ""}, 64, "", {"qvehelper check: CONTAINER must not be empty"}},
      {"a FIFO named", {"d/good.qves", "d/fifo.qves"}, 65, "",
       {"qvehelper check: CONTAINER d/fifo.qves is a FIFO, not a regular file"}, fifo, {.hangGuardSeconds = 20}},
      {"a device named", {"/dev/null"}, 65, "",
       {"qvehelper check: CONTAINER /dev/null is a character device, not a regular file"}},
      {"cut right after its IV", {"d/iv.qves"}, 1, "NoSeal d/iv.qves\n",
       {"qvehelper check: d/iv.qves: the container looks cut short: it ends right after its IV, with no payload"},
       cutAfterIv},
      // One at a time, so that the second is not started before the first fails.
      {"a scratch file past the size limit", {"-j", "1", "d/good.qves", "d/header.qves"}, 74, "",
       {"qvehelper check: d/good.qves: not checked: the scratch file in $TMP takes no more: file too large",
        "qvehelper check: d/header.qves: not checked: the run stopped at the scratch file's failure"},
       {}, {.fileSizeLimit = 9000}},
      {"a scratch file past the size limit, alone", {"d/good.qves"}, 74, "",
       {"qvehelper check: d/good.qves: not checked: the scratch file in $TMP takes no more: file too large"},
       {}, {.fileSizeLimit = 9000}},
      {"no scratch folder", {"d/good.qves"}, 73, "",
       {"qvehelper check: the scratch folder $TMP/none: no such file or directory"}, {},
       {.environment = {"TMPDIR=$TMP/none"}}},
      {"a scratch folder through another user's link", {"d/good.qves"}, 73, "",
       {"qvehelper check: the scratch folder sticky/tmp is a symbolic link, owned by neither this user nor "
        "the folder's owner, in a sticky world-writable folder; it is not followed (the rule of "
        "fs.protected_symlinks)"},
       plantedScratch, {.environment = {"TMPDIR=sticky/tmp"}}},
      {"standard output's reader gone", {"d/good.qves"}, 74, "",
       {"qvehelper: cannot write standard output: broken pipe"}, {}, {.outputTo = "|x"}},
      {"too many jobs", {"-j", "257", "d"}, 64, "", {}, {}, {}, "qvehelper: --jobs: Value 257 not in range 1 to 256\n[\\s\\S]*"},
      {"no container at all", {"d/none"}, 66, "",
       {"warning: d/none: no container below it", "qvehelper check: no container found"}, emptyFolder},
      {"progress", {"--progress-delay=0", "d/good.qves"}, 0, "Success d/good.qves\n", {}, {}, terminal,
       "(\rdecrypted [^\r\n]+, seal checked [^\r\n]+/s[^\r\n]*)+\r +\r"},
      {"JSON, no progress", {"--progress-delay=0", "--json", "d/good.qves"}, 0, "[\\s\\S]*", {}, {}, terminal},
      {"all successful", {"d/good.qves"}, 0, "Success d/good.qves\n"},
      {"names not UTF-8", {"d/\xe9", "d/n\xff"}, 2, "Success d/\\\\xe9\nInputOpenFailed d/n\\\\xff\n",
       {"qvehelper check: d/n\\xff: no such file or directory"},
       notUtf8},
  };
  // clang-format on
  // The thread axis, where a row does not set the threads itself.
  for (const char* jobs : {"1", "2"})
    for (const Row& row : rows) {
      SCOPED_TRACE(std::string("-j ") + jobs);
      std::vector<std::string> args = row.args;
      if (std::find(args.begin(), args.end(), "-j") == args.end())
        args.insert(args.begin(), {"-j", jobs});
      testing::TempDir dir, temporary;
      chmod(temporary.path().c_str(), 0777);
      Containers(dir.path());
      if (row.setup) row.setup(dir.path());
      const auto files = [&] {
        return std::count_if(
            fs::recursive_directory_iterator(dir.path()), {},
            [](const fs::directory_entry& entry) { return entry.is_regular_file(); });
      };
      const auto before = files();
      // $TMP stands for the scratch folder the command is given.
      const auto withScratch = [&](std::string text) {
        if (const auto at = text.find("$TMP"); at != std::string::npos)
          text.replace(at, 4, temporary.path().string());
        return text;
      };
      testing::Command command =
          testing::InFolder(row.how, QVE_CLI_FILE, "check", args, dir.path());
      for (std::string& variable : command.environment) variable = withScratch(variable);
      command.environment.push_back("TMPDIR=" + temporary.path().string());
      const testing::CommandResult ran = testing::Run(command);
      testing::ExpectPrinted(ran, row.status, row.out,
                             row.errPattern.empty() ? testing::kAnything : row.errPattern,
                             row.name);
      if (row.errPattern.empty()) {
        std::set<std::string> err;
        for (const std::string& line : row.err) err.insert(withScratch(line));
        EXPECT_EQ(Lines(ran.err), err) << row.name;
      }
      EXPECT_TRUE(fs::is_empty(temporary.path())) << row.name;
      EXPECT_EQ(files(), before) << row.name;
    }
}

}  // namespace
}  // namespace qve
