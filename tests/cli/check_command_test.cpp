// qvehelper check on a folder of mixed containers: one result per container,
// the largest as the exit status, and no file left in the temporary folder.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <nlohmann/json.hpp>
#include <regex>
#include <string>
#include <vector>

#include "tests/support/builders.h"
#include "tests/support/command_runner.h"
#include "tests/support/harness.h"

namespace qve {
namespace {

using testing::Container;

class CheckCommandTest : public ::testing::Test {
 protected:
  CheckCommandTest() {
    const Bytes key = Container{}.sessionKey;
    Write("good.qves", Container{.body = testing::Pattern(10000)}.Build());
    Write("header.qves", Container{.version = 2}.Build());
    Write("wrong-key.qves", Container{.records = std::vector{testing::WrappedFor(
                                          testing::kKeyId11, testing::KeyBlock(key))}}
                                .Build());
    Write("sub/no-seal.qves", Container{.seal = std::nullopt}.Build());
    Write("sub/bad-seal.qves",
          Container{.seal = testing::Seal{.signature = testing::Pattern(256)}}.Build());
    Write("notes.txt", testing::BytesOf("not a container\n"));
  }

  void Write(const std::string& name, const Bytes& bytes) {
    std::filesystem::create_directories((folder / name).parent_path());
    testing::WriteFile(folder / name, bytes);
  }

  // Runs check with its own temporary folder.
  testing::CommandResult Check(std::vector<std::string> args) {
    args.insert(args.begin(), "check");
    return testing::Run({.program = QVE_CLI_FILE,
                         .args = args,
                         .environment = {"TMPDIR=" + temporary.path().string()}});
  }

  std::size_t FilesIn(const testing::TempDir& dir) {
    std::size_t count = 0;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(dir.path()))
      count += entry.is_regular_file();
    return count;
  }

  testing::TempDir folder;
  testing::TempDir temporary;
};

TEST_F(CheckCommandTest, FolderGivesOneResultPerContainerAndLeavesNothing) {
  const std::string at = folder.path().string();
  const auto run = Check({"-j", "3", at});
  EXPECT_EQ(run.exitCode, 13);
  EXPECT_EQ(run.out, "Success " + at + "/good.qves\n" + "HeaderInvalid " + at + "/header.qves\n" +
                         "BadSignature " + at + "/sub/bad-seal.qves\n" + "NoSeal " + at +
                         "/sub/no-seal.qves\n" + "SessionKeyUnavailable " + at +
                         "/wrong-key.qves\n");
  EXPECT_EQ(FilesIn(temporary), 0u);
  EXPECT_EQ(FilesIn(folder), 6u);
}

TEST_F(CheckCommandTest, JsonListInArgumentOrder) {
  const auto run = Check({"--json", (folder / "sub/no-seal.qves").string(),
                          (folder / "good.qves").string(), (folder / "missing").string()});
  EXPECT_EQ(run.exitCode, 2);
  const auto json = nlohmann::json::parse(run.out);
  ASSERT_EQ(json.size(), 3u);
  EXPECT_EQ(json[0]["result"], "NoSeal");
  EXPECT_EQ(json[1], nlohmann::json({{"path", (folder / "good.qves").string()},
                                     {"result", "Success"},
                                     {"resultCode", 0}}));
  EXPECT_EQ(json[2]["resultCode"], 2);
  EXPECT_EQ(FilesIn(temporary), 0u);
}

// The input is a FIFO fed in two parts, so the check lasts past the second
// that progress waits for.
TEST_F(CheckCommandTest, ProgressOnATerminalUnlessJson) {
  const Bytes whole = Container{.body = testing::Pattern(50000)}.Build();
  const auto fifo = folder / "in";
  ASSERT_EQ(mkfifo(fifo.c_str(), 0644), 0);
  for (const bool json : {false, true}) {
    std::vector<std::string> args = {"check", fifo.string()};
    if (json) args.insert(args.begin() + 1, "--json");
    const auto run = testing::Run(
        {.program = QVE_CLI_FILE,
         .args = args,
         .environment = {"TMPDIR=" + temporary.path().string()},
         .errorToTerminal = true,
         .whileRunning = [&](pid_t child) { testing::FeedFifo(child, fifo, whole, 0); }});
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_TRUE(std::regex_match(run.err, std::regex(json ? "" : "(\r[^\r\n]+/s *)+\r +\r")))
        << run.err;
  }
  EXPECT_EQ(FilesIn(temporary), 0u);
}

TEST_F(CheckCommandTest, AllSuccessfulIsZero) {
  EXPECT_EQ(Check({(folder / "good.qves").string()}).exitCode, 0);
}

}  // namespace
}  // namespace qve
