// SPDX-License-Identifier: Apache-2.0
// qvehelper check on a folder of mixed containers: a result each, the largest
// as the exit status, a warning per entry passed over, and no file left.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <vector>

#include "tests/support/command_rows.h"
#include "tests/support/harness.h"

namespace qve {
namespace {

namespace fs = std::filesystem;
using testing::Container;

// d/ holds five containers and a text file.
void Containers(const fs::path& dir) {
  fs::create_directories(dir / "d/sub");
  const auto wrongKey =
      testing::WrappedFor(testing::kKeyId11, testing::KeyBlock(Container{}.sessionKey));
  for (const auto& [name, bytes] : std::vector<std::pair<const char*, Bytes>>{
           {"good.qves", Container{.body = testing::Pattern(10000)}.Build()},
           {"header.qves", Container{.version = 2}.Build()},
           {"wrong-key.qves", Container{.records = std::vector{wrongKey}}.Build()},
           {"sub/no-seal.qves", Container{.seal = std::nullopt}.Build()},
           {"sub/bad-seal.qves",
            Container{.seal = testing::Seal{.signature = testing::Pattern(256)}}.Build()},
           {"notes.txt", testing::BytesOf("not a container\n")}})
    testing::WriteFile(dir / "d" / name, bytes);
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

struct Row {
  std::string name;
  std::vector<std::string> args;
  int status = 0;
  std::string out = "";               // the whole of it; JSON compared as values
  std::vector<std::string> err = {};  // a part of each line, in any order
  std::string sh = {};                // shell steps first
  testing::Command how = {};
  bool notLines = false;               // `err` parts anywhere: a terminal's, or after a usage line
  std::vector<std::string> says = {};  // whole lines: only here is wording pinned
};

// "warning: " marks a line that passes an entry over, and is no wording.
const std::string kWarning = "warning: ";

std::vector<Row> Rows() {
  const testing::Command nobody{.asNobody = true};
  const testing::Command terminal{.errorToTerminal = true};
  // Every kind of entry check passes over or warns about.
  const std::string oddities =
      "cd d && : > empty.qves && cp good.qves damaged.QVES && printf X | dd of=damaged.QVES "
      "conv=notrunc status=none && "
      "cp good.qves renamed.bin && echo short > ab && echo suffix > .qves && ln -s good.qves "
      "link.qves && "
      "mkfifo fifo.qves && cp good.qves caf\xe9.qves && : > locked.txt && chmod 0 locked.txt && "
      "mkdir -m 0 locked";
  // Each container of d/ that does not give Success is named with why.
  const std::vector<std::string> why = {
      "d/header.qves:", "d/sub/bad-seal.qves:", "d/sub/no-seal.qves:", "d/wrong-key.qves:"};
  std::vector<std::string> besides = why;
  besides.insert(
      besides.end(),
      {"d/damaged.QVES:", "d/empty.qves:", "d/.qves:", kWarning + "d/.qves:",
       kWarning + "d/empty.qves:", kWarning + "d/damaged.QVES:", kWarning + "d/link.qves:",
       kWarning + "d/fifo.qves:", kWarning + "d/locked.txt:", kWarning + "d/locked:"});
  const std::string say = "qvehelper check: ";
  // clang-format off
  return {
      {.name = "Folder", .args = {"-j", "3", "d"}, .status = 13,
       .out = "Success d/good.qves\nHeaderInvalid d/header.qves\nBadSignature d/sub/bad-seal.qves\n"
              "NoSeal d/sub/no-seal.qves\nSessionKeyUnavailable d/wrong-key.qves\n", .err = why,
       .says = {say + "d/sub/no-seal.qves: the plaintext ends in no seal trailer"}},
      {.name = "WhatAFolderHoldsBesides", .args = {"-j", "2", "d"}, .status = 13,
       .out = "HeaderInvalid d/.qves\nSuccess d/caf\\xe9.qves\nHeaderInvalid d/damaged.QVES\nHeaderInvalid d/empty.qves\n"
              "Success d/good.qves\nHeaderInvalid d/header.qves\nSuccess d/renamed.bin\n"
              "BadSignature d/sub/bad-seal.qves\nNoSeal d/sub/no-seal.qves\nSessionKeyUnavailable d/wrong-key.qves\n",
       .err = besides, .sh = oddities, .how = nobody,
       .says = {"warning: d/.qves: does not start with \"QVES\"", "warning: d/empty.qves: the file is empty",
                "warning: d/link.qves: skipped: links are not followed",
                "warning: d/fifo.qves: skipped: a FIFO, not a regular file",
                "warning: d/locked.txt: skipped: permission denied"}},
      {.name = "JsonInArgumentOrder", .args = {"-j", "2", "--json", "d/sub/no-seal.qves", "d/good.qves", "d/missing"}, .status = 2,
       .out = R"([{"path": "d/sub/no-seal.qves", "result": "NoSeal", "resultCode": 1},
           {"path": "d/good.qves", "result": "Success", "resultCode": 0},
           {"path": "d/missing", "result": "InputOpenFailed", "resultCode": 2}])",
       .err = {"d/sub/no-seal.qves:", "d/missing:"}, .says = {say + "d/missing: no such file or directory"}},
      {.name = "StandardInput", .args = {"-"}, .status = 64, .err = {"-", "usage: qvehelper check", "see 'qvehelper help check'"},
       .says = {say + "CONTAINER cannot be standard input (-); ./- names a file called -"}},
      {.name = "EmptyContainer", .args = {"d/good.qves", ""}, .status = 64, .err = {"", "usage: ", "see "},
       .says = {say + "CONTAINER must not be empty"}},
      {.name = "FifoNamed", .args = {"d/good.qves", "d/fifo.qves"}, .status = 65, .err = {"d/fifo.qves"}, .sh = "mkfifo d/fifo.qves",
       .how = {.hangGuardSeconds = 20}, .says = {say + "CONTAINER d/fifo.qves is a FIFO, not a regular file"}},
      {.name = "DeviceNamed", .args = {"/dev/null"}, .status = 65, .err = {"/dev/null"}},
      {.name = "ScratchPastSizeLimit", .args = {"-j", "1", "d/good.qves", "d/header.qves"}, .status = 74,
       .err = {"d/good.qves:", "d/header.qves:"}, .how = {.fileSizeLimit = 9000},
       .says = {say + "d/good.qves: not checked: the scratch file in $TMP takes no more: file too large",
                say + "d/header.qves: not checked: the run stopped at the scratch file's failure"}},
      {.name = "NoScratchFolder", .args = {"d/good.qves"}, .status = 73, .err = {"$TMP/none"},
       .how = {.environment = {"TMPDIR=$TMP/none"}}, .says = {say + "the scratch folder $TMP/none: no such file or directory"}},
      {.name = "ScratchThroughOthersLink", .args = {"d/good.qves"}, .status = 73, .err = {"sticky/tmp"},
       .sh = "mkdir -m 1777 sticky && ln -s .. sticky/tmp && chown -h nobody: sticky/tmp", .how = {.environment = {"TMPDIR=sticky/tmp"}},
       .says = {say + "the scratch folder sticky/tmp is a symbolic link, owned by neither this user nor the folder's owner, in a sticky world-writable folder; it is not followed (the rule of fs.protected_symlinks)"}},
      {.name = "ReaderGone", .args = {"d/good.qves"}, .status = 74, .err = {""}, .how = {.outputTo = "|x"},
       .says = {"qvehelper: cannot write standard output: broken pipe"}},
      {.name = "NoContainerAtAll", .args = {"d/none"}, .status = 66, .err = {kWarning + "d/none:", ""},
       .sh = "mkdir -p d/none/deeper", .says = {"warning: d/none: no container below it", say + "no container found"}},
      {.name = "NamesNotUtf8", .args = {"d/\xe9", "d/n\xff"}, .status = 2, .out = "Success d/\\xe9\nInputOpenFailed d/n\\xff\n",
       .err = {"d/n\\xff:"}, .sh = "cp d/good.qves d/\xe9"},
      {.name = "Progress", .args = {"--progress-delay=0", "d/good.qves"}, .out = "Success d/good.qves\n", .err = {"\r"},
       .how = terminal, .notLines = true},
      {.name = "JsonNoProgress", .args = {"--progress-delay=0", "--json", "d/good.qves"},
       .out = R"([{"path": "d/good.qves", "result": "Success", "resultCode": 0}])", .how = terminal},
      {.name = "TooManyJobs", .args = {"-j", "257", "d"}, .status = 64, .err = {"257"}, .notLines = true,
       .says = {"qvehelper: --jobs: Value 257 not in range 1 to 256"}},
  };
  // clang-format on
}

// $TMP stands for the scratch folder the command is given.
std::string WithScratch(std::string text, const std::string& scratch) {
  if (const auto at = text.find("$TMP"); at != std::string::npos) text.replace(at, 4, scratch);
  return text;
}

// Runs `row` in a folder of its own, on one thread where it does not set
// them, checks that it leaves no file anywhere and returns what it printed.
testing::CommandResult RunRow(const Row& row, std::string* scratch) {
  std::vector<std::string> args = row.args;
  if (std::find(args.begin(), args.end(), "-j") == args.end())
    args.insert(args.begin(), {"-j", "1"});
  testing::TempDir dir, temporary;
  chmod(temporary.path().c_str(), 0777);
  Containers(dir.path());
  if (!row.sh.empty()) {
    EXPECT_EQ(testing::Shell(dir.path(), row.sh), 0) << row.sh;
  }
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
  EXPECT_TRUE(fs::is_empty(temporary.path()));
  EXPECT_EQ(files(), before);
  *scratch = temporary.path().string();
  return ran;
}

class CheckCommand : public ::testing::TestWithParam<Row> {};

TEST_P(CheckCommand, Row) {
  const Row& row = GetParam();
  std::string scratch;
  const testing::CommandResult ran = RunRow(row, &scratch);
  EXPECT_EQ(ran.exitCode, row.status) << ran.out << ran.err;
  if (row.out.starts_with("[")) {
    EXPECT_EQ(nlohmann::json::parse(ran.out), nlohmann::json::parse(row.out));
  } else {
    EXPECT_EQ(ran.out, row.out);
  }
  std::vector<std::string> lines = Lines(ran.err), parts = row.err;
  for (const std::string& text : row.says) {
    const std::string line = WithScratch(text, scratch);
    EXPECT_NE(std::find(lines.begin(), lines.end(), line), lines.end()) << line << "\n" << ran.err;
  }
  if (row.notLines) {
    for (const std::string& part : parts) EXPECT_NE(ran.err.find(part), std::string::npos) << part;
    return;
  }
  // Each part claims a line of its own, the longest first, so that a path's
  // warning is not taken for its error.
  std::sort(parts.begin(), parts.end(),
            [](const auto& a, const auto& b) { return a.size() > b.size(); });
  for (std::string part : parts) {
    part = WithScratch(part, scratch);
    const auto line = std::find_if(lines.begin(), lines.end(), [&](const std::string& each) {
      return each.find(part) != std::string::npos &&
             each.starts_with(kWarning) == part.starts_with(kWarning);
    });
    EXPECT_NE(line, lines.end()) << part << "\n" << ran.err;
    if (line != lines.end()) lines.erase(line);
  }
  EXPECT_TRUE(lines.empty()) << ran.err;
}

QVE_ROWS(CheckCommand, Rows());

}  // namespace
}  // namespace qve
