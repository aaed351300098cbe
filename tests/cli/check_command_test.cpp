// SPDX-License-Identifier: Apache-2.0
// qvehelper check as users run it, on a folder of mixed containers: one row
// per case, with one result per container, the largest as the exit status,
// a warning for every entry passed over, and no file left anywhere.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <nlohmann/json.hpp>
#include <set>
#include <sstream>
#include <string>
#include <utility>
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

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

struct Row {
  const char* name;
  std::vector<std::string> args;
  int status;
  std::string out;                    // the whole of it; JSON compared as values
  std::vector<std::string> err = {};  // a part of each line, in any order
  std::function<void(const fs::path&)> setup = {};
  testing::Command how = {};
};

// "warning: " marks a line that passes an entry over, and is no wording.
const std::string kWarning = "warning: ";

std::vector<Row> Rows() {
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
  // Each container of d/ that does not give Success is named with why.
  const std::vector<std::string> why = {
      "d/header.qves:", "d/sub/bad-seal.qves:", "d/sub/no-seal.qves:", "d/wrong-key.qves:"};
  std::vector<std::string> besides = why;
  besides.insert(
      besides.end(),
      {"d/damaged.QVES:", "d/empty.qves:", "d/.qves:", kWarning + "d/.qves:",
       kWarning + "d/empty.qves:", kWarning + "d/damaged.QVES:", kWarning + "d/link.qves:",
       kWarning + "d/fifo.qves:", kWarning + "d/locked.txt:", kWarning + "d/locked:"});
  // clang-format off
  return {
      {"a folder", {"-j", "3", "d"}, 13,
       "Success d/good.qves\nHeaderInvalid d/header.qves\nBadSignature d/sub/bad-seal.qves\n"
       "NoSeal d/sub/no-seal.qves\nSessionKeyUnavailable d/wrong-key.qves\n", why},
      {"what a folder holds besides", {"d"}, 13,
       "HeaderInvalid d/.qves\nSuccess d/caf\\xe9.qves\nHeaderInvalid d/damaged.QVES\nHeaderInvalid d/empty.qves\n"
       "Success d/good.qves\nHeaderInvalid d/header.qves\nSuccess d/renamed.bin\n"
       "BadSignature d/sub/bad-seal.qves\nNoSeal d/sub/no-seal.qves\nSessionKeyUnavailable d/wrong-key.qves\n",
       besides, Oddities, nobody},
      {"JSON in argument order", {"--json", "d/sub/no-seal.qves", "d/good.qves", "d/missing"}, 2,
       R"([{"path": "d/sub/no-seal.qves", "result": "NoSeal", "resultCode": 1},
           {"path": "d/good.qves", "result": "Success", "resultCode": 0},
           {"path": "d/missing", "result": "InputOpenFailed", "resultCode": 2}])",
       {"d/sub/no-seal.qves:", "d/missing:"}},
      {"standard input", {"-"}, 64, "", {"-", "usage: qvehelper check", "see 'qvehelper help check'"}},
      {"an empty CONTAINER", {"d/good.qves", ""}, 64, "", {"", "usage: ", "see "}},
      {"a FIFO named", {"d/good.qves", "d/fifo.qves"}, 65, "", {"d/fifo.qves"}, fifo, {.hangGuardSeconds = 20}},
      {"a device named", {"/dev/null"}, 65, "", {"/dev/null"}},
      {"cut right after its IV", {"d/iv.qves"}, 1, "NoSeal d/iv.qves\n", {"d/iv.qves:"}, cutAfterIv},
      // One at a time, so that the second is not started before the first fails.
      {"a scratch file past the size limit", {"-j", "1", "d/good.qves", "d/header.qves"}, 74, "",
       {"d/good.qves:", "d/header.qves:"}, {}, {.fileSizeLimit = 9000}},
      {"a scratch file past the size limit, alone", {"d/good.qves"}, 74, "", {"d/good.qves:"}, {},
       {.fileSizeLimit = 9000}},
      {"no scratch folder", {"d/good.qves"}, 73, "", {"$TMP/none"}, {}, {.environment = {"TMPDIR=$TMP/none"}}},
      {"a scratch folder through another user's link", {"d/good.qves"}, 73, "", {"sticky/tmp"},
       plantedScratch, {.environment = {"TMPDIR=sticky/tmp"}}},
      {"standard output's reader gone", {"d/good.qves"}, 74, "", {""}, {}, {.outputTo = "|x"}},
      {"no container at all", {"d/none"}, 66, "", {kWarning + "d/none:", ""}, emptyFolder},
      {"all successful", {"d/good.qves"}, 0, "Success d/good.qves\n"},
      {"names not UTF-8", {"d/\xe9", "d/n\xff"}, 2, "Success d/\\xe9\nInputOpenFailed d/n\\xff\n",
       {"d/n\\xff:"}, notUtf8},
  };
  // clang-format on
}

// $TMP stands for the scratch folder the command is given.
std::string WithScratch(std::string text, const std::string& scratch) {
  if (const auto at = text.find("$TMP"); at != std::string::npos) text.replace(at, 4, scratch);
  return text;
}

// Runs `row` in a folder of its own with `jobs` threads where it does not
// set them, checks that it leaves no file anywhere and returns what it
// printed.
testing::CommandResult RunRow(const Row& row, const char* jobs, std::string* scratch = nullptr) {
  std::vector<std::string> args = row.args;
  if (std::find(args.begin(), args.end(), "-j") == args.end())
    args.insert(args.begin(), {"-j", jobs});
  testing::TempDir dir, temporary;
  chmod(temporary.path().c_str(), 0777);
  Containers(dir.path());
  if (row.setup) row.setup(dir.path());
  const auto files = [&] {
    return std::count_if(fs::recursive_directory_iterator(dir.path()), {},
                         [](const fs::directory_entry& entry) { return entry.is_regular_file(); });
  };
  const auto before = files();
  testing::Command command = testing::InFolder(row.how, QVE_CLI_FILE, "check", args, dir.path());
  for (std::string& variable : command.environment)
    variable = WithScratch(variable, temporary.path());
  command.environment.push_back("TMPDIR=" + temporary.path().string());
  const testing::CommandResult ran = testing::Run(command);
  EXPECT_TRUE(fs::is_empty(temporary.path())) << row.name;
  EXPECT_EQ(files(), before) << row.name;
  if (scratch != nullptr) *scratch = temporary.path().string();
  return ran;
}

TEST(CheckCommand, Table) {
  // The thread axis, where a row does not set the threads itself.
  for (const char* jobs : {"1", "2"})
    for (const Row& row : Rows()) {
      SCOPED_TRACE(std::string("-j ") + jobs);
      std::string scratch;
      const testing::CommandResult ran = RunRow(row, jobs, &scratch);
      EXPECT_EQ(ran.exitCode, row.status) << row.name << "\n" << ran.out << ran.err;
      if (row.out.starts_with("[")) {
        EXPECT_EQ(nlohmann::json::parse(ran.out), nlohmann::json::parse(row.out)) << row.name;
      } else {
        EXPECT_EQ(ran.out, row.out) << row.name;
      }
      // Each part claims a line of its own, the longest first, so that a
      // path's warning is not taken for its error.
      std::vector<std::string> lines = Lines(ran.err), parts = row.err;
      std::sort(parts.begin(), parts.end(),
                [](const auto& a, const auto& b) { return a.size() > b.size(); });
      for (std::string part : parts) {
        part = WithScratch(part, scratch);
        const auto line = std::find_if(lines.begin(), lines.end(), [&](const std::string& each) {
          return each.find(part) != std::string::npos &&
                 each.starts_with(kWarning) == part.starts_with(kWarning);
        });
        EXPECT_NE(line, lines.end()) << row.name << ": " << part << "\n" << ran.err;
        if (line != lines.end()) lines.erase(line);
      }
      EXPECT_TRUE(lines.empty()) << row.name << ":\n" << ran.err;
    }
}

// Rows whose standard error is not lines: a terminal's, where a line
// redraws, but not among JSON; and a bad option said with the usage.
std::vector<Row> OtherRows() {
  return {
      {"progress",
       {"--progress-delay=0", "d/good.qves"},
       0,
       "Success d/good.qves\n",
       {"\r"},
       {},
       {.errorToTerminal = true}},
      {"JSON, no progress",
       {"--progress-delay=0", "--json", "d/good.qves"},
       0,
       R"([{"path": "d/good.qves", "result": "Success", "resultCode": 0}])",
       {},
       {},
       {.errorToTerminal = true}},
      {"too many jobs", {"-j", "257", "d"}, 64, "", {"257"}},
  };
}

TEST(CheckCommand, TerminalAndUsage) {
  for (const Row& row : OtherRows()) {
    const testing::CommandResult ran = RunRow(row, "1");
    EXPECT_EQ(ran.exitCode, row.status) << row.name;
    if (row.out.starts_with("[")) {
      EXPECT_EQ(nlohmann::json::parse(ran.out), nlohmann::json::parse(row.out)) << row.name;
    } else {
      EXPECT_EQ(ran.out, row.out) << row.name;
    }
    if (row.err.empty()) {
      EXPECT_EQ(ran.err, "") << row.name;
    } else {
      EXPECT_NE(ran.err.find(row.err[0]), std::string::npos) << row.name << ":\n" << ran.err;
    }
  }
}

// The one place that pins what check says: a line per distinct message (a
// system's reason or a kind of file in place of another, not again), by the
// name of the row that makes it.
TEST(CheckCommand, Wording) {
  const std::string say = "qvehelper check: ";
  // clang-format off
  const std::pair<const char*, std::string> messages[] = {
      {"a folder", say + "d/header.qves: version 2 is not supported (this tool reads version 1)"},
      {"a folder", say + "d/sub/bad-seal.qves: the seal's signature does not match the plaintext"},
      {"a folder", say + "d/sub/no-seal.qves: the plaintext ends in no seal trailer"},
      {"a folder", say + "d/wrong-key.qves: no recipient record names the built-in key 0a000000"},
      {"what a folder holds besides", say + "d/damaged.QVES: not a QVES container (magic 58564553, expected 51564553)"},
      {"what a folder holds besides", say + "d/empty.qves: not a QVES container (magic cut short by the end of the file)"},
      {"what a folder holds besides", "warning: d/.qves: does not start with \"QVES\""},
      {"what a folder holds besides", "warning: d/empty.qves: the file is empty"},
      {"what a folder holds besides", "warning: d/link.qves: skipped: links are not followed"},
      {"what a folder holds besides", "warning: d/fifo.qves: skipped: a FIFO, not a regular file"},
      {"what a folder holds besides", "warning: d/locked.txt: skipped: permission denied"},
      {"JSON in argument order", say + "d/missing: no such file or directory"},
      {"standard input", say + "CONTAINER cannot be standard input (-); ./- names a file called -"},
      {"an empty CONTAINER", say + "CONTAINER must not be empty"},
      {"a FIFO named", say + "CONTAINER d/fifo.qves is a FIFO, not a regular file"},
      {"cut right after its IV", say + "d/iv.qves: the container looks cut short: it ends right after its IV, with no payload"},
      {"a scratch file past the size limit", say + "d/good.qves: not checked: the scratch file in $TMP takes no more: file too large"},
      {"a scratch file past the size limit", say + "d/header.qves: not checked: the run stopped at the scratch file's failure"},
      {"no scratch folder", say + "the scratch folder $TMP/none: no such file or directory"},
      {"a scratch folder through another user's link", say + "the scratch folder sticky/tmp is a symbolic link, owned by neither this user nor the folder's owner, in a sticky world-writable folder; it is not followed (the rule of fs.protected_symlinks)"},
      {"standard output's reader gone", "qvehelper: cannot write standard output: broken pipe"},
      {"no container at all", "warning: d/none: no container below it"},
      {"no container at all", say + "no container found"},
      {"too many jobs", "qvehelper: --jobs: Value 257 not in range 1 to 256"},
  };
  // clang-format on
  std::vector<Row> rows = Rows();
  for (Row& row : OtherRows()) rows.push_back(std::move(row));
  for (const auto& [name, text] : messages) {
    const auto row = std::find_if(rows.begin(), rows.end(),
                                  [&](const Row& each) { return std::string(each.name) == name; });
    ASSERT_NE(row, rows.end()) << name;
    std::string scratch;
    const std::vector<std::string> lines = Lines(RunRow(*row, "1", &scratch).err);
    const std::string line = WithScratch(text, scratch);
    EXPECT_NE(std::find(lines.begin(), lines.end(), line), lines.end()) << name << ": " << line;
  }
}

}  // namespace
}  // namespace qve
