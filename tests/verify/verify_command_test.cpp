// qvehelper verify, run as a user runs it, on a chain of three logs.
#include <gtest/gtest.h>

#include <algorithm>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "tests/support/command_runner.h"
#include "tests/support/log_builder.h"
#include "tests/support/temp_dir.h"

namespace qve {
namespace {

using testing::CommandResult;
using testing::LogBuilder;
using testing::LogChain;
using testing::TempDir;

CommandResult Verify(const std::vector<std::string>& args) {
  return testing::RunCommand(QVE_CLI_FILE, [&] {
    std::vector<std::string> all = {"verify"};
    all.insert(all.end(), args.begin(), args.end());
    return all;
  }());
}

class VerifyCommandTest : public ::testing::Test {
 protected:
  // System_1.log: lines 1-3 signed at 4, 5-6 signed at 7.
  // System_2.log: lines 1-3 signed at 4, 5-6 signed at 7.
  // system.log:   lines 1-2 signed at 3, an unsigned tail at 4-5.
  VerifyCommandTest() {
    LogChain chain;
    LogBuilder(chain)
        .DataLines(3, "one ")
        .Sign()
        .DataLines(2, "one more ")
        .Sign()
        .WriteTo(dir / "System_1.log");
    LogBuilder second(chain);
    second.DataLines(3, "two ").Sign().DataLines(2, "two more ").Sign();
    secondBytes = second.bytes();
    second.WriteTo(dir / "System_2.log");
    LogBuilder(chain).DataLines(2, "sys ").Sign().DataLines(2, "tail ").WriteTo(dir / "system.log");
  }

  // Changes one byte of line 5 of System_2.log, the first line of its second block.
  void TamperWithSecondFile() {
    const std::string text(secondBytes.begin(), secondBytes.end());
    const auto at = text.find("two more 1");
    ASSERT_NE(at, std::string::npos);
    Bytes tampered = secondBytes;
    tampered[at] = 'T';
    testing::WriteFile(dir / "System_2.log", tampered);
  }

  std::string Folder() const { return dir.path().string(); }

  TempDir dir;
  Bytes secondBytes;
};

TEST_F(VerifyCommandTest, IntactChainIsOk) {
  const CommandResult run = Verify({Folder()});
  EXPECT_EQ(run.exitCode, 0);
  EXPECT_EQ(run.out, "ReportOk (0): 3 files, 0 bad\n");
  EXPECT_EQ(run.err, "warning: " + Folder() + "/system.log: lines 4-5 are not signed\n");
}

TEST_F(VerifyCommandTest, IncludeOkListsEveryFileInChainOrder) {
  const CommandResult run = Verify({"--include-ok", Folder()});
  EXPECT_EQ(run.exitCode, 0);
  EXPECT_EQ(run.out,
            "FileOk System_1.log\nFileOk System_2.log\nFileOk system.log\n"
            "ReportOk (0): 3 files, 0 bad\n");
}

TEST_F(VerifyCommandTest, TamperedLineMakesItsFileInvalid) {
  TamperWithSecondFile();
  const CommandResult run = Verify({Folder()});
  EXPECT_EQ(run.exitCode, 2);
  EXPECT_EQ(run.out, "FileInvalid System_2.log\nReportSomeInvalid (2): 3 files, 1 bad\n");
}

TEST_F(VerifyCommandTest, DetailsNameTheTamperedLines) {
  TamperWithSecondFile();
  const CommandResult run = Verify({"--details", Folder()});
  EXPECT_EQ(run.exitCode, 2);
  EXPECT_EQ(run.out, "  " + Folder() + "/System_1.log: 2 blocks, 0 bad\n" +
                         "FileInvalid System_2.log\n" + "  " + Folder() +
                         "/System_2.log: 2 blocks, 1 bad\n" + "    BlockInvalid lines 5-7\n" +
                         "  " + Folder() + "/system.log: 2 blocks, 0 bad\n" +
                         "    BlockUnsigned lines 4-5\n" +
                         "ReportSomeInvalid (2): 3 files, 1 bad\n");
}

TEST_F(VerifyCommandTest, JsonWithDetails) {
  TamperWithSecondFile();
  const CommandResult run = Verify({"--json", "--details", "--include-ok", Folder()});
  EXPECT_EQ(run.exitCode, 2);
  EXPECT_EQ(run.err, "");
  const auto json = nlohmann::json::parse(run.out);
  EXPECT_EQ(json["result"], "ReportSomeInvalid");
  EXPECT_EQ(json["resultCode"], 2);
  EXPECT_EQ(json["totalFiles"], 3);
  EXPECT_EQ(json["badFiles"], 1);
  EXPECT_EQ(json["files"], nlohmann::json::parse(R"([
      {"name": "System_1.log", "verdict": "FileOk", "verdictCode": 0},
      {"name": "System_2.log", "verdict": "FileInvalid", "verdictCode": 3},
      {"name": "system.log", "verdict": "FileOk", "verdictCode": 0}])"));
  ASSERT_EQ(json["details"].size(), 3u);
  EXPECT_EQ(json["details"][1], nlohmann::json({
                                    {"path", Folder() + "/System_2.log"},
                                    {"name", "System_2.log"},
                                    {"blockCount", 2},
                                    {"badBlockCount", 1},
                                    {"blocks", nlohmann::json::parse(R"([{"verdict": "BlockInvalid",
                                      "verdictCode": 3, "firstLine": 5, "lastLine": 7}])")},
                                }));
  EXPECT_EQ(json["details"][2]["blocks"], nlohmann::json::parse(R"([{"verdict": "BlockUnsigned",
      "verdictCode": 1, "firstLine": 4, "lastLine": 5}])"));
  EXPECT_TRUE(json["details"][0]["blocks"].empty());
}

TEST_F(VerifyCommandTest, JsonKeysComeInTheDocumentedOrder) {
  const CommandResult run = Verify({"--json", Folder()});
  EXPECT_EQ(run.exitCode, 0);
  const auto json = nlohmann::ordered_json::parse(run.out);
  std::vector<std::string> keys;
  for (const auto& item : json.items()) keys.push_back(item.key());
  EXPECT_EQ(keys,
            (std::vector<std::string>{"result", "resultCode", "totalFiles", "badFiles", "files"}));
  EXPECT_TRUE(json["files"].empty());
}

TEST_F(VerifyCommandTest, QuietPrintsNothing) {
  TamperWithSecondFile();
  const CommandResult run = Verify({"-q", Folder()});
  EXPECT_EQ(run.exitCode, 2);
  EXPECT_EQ(run.out, "");
  EXPECT_EQ(run.err, "");
  EXPECT_EQ(Verify({"--quiet", "--json", Folder()}).out, "");
}

TEST_F(VerifyCommandTest, FilesAndFoldersMix) {
  testing::WriteFile(dir / "other.txt", std::string("plain\n"));
  const CommandResult run = Verify({"--include-ok", Folder() + "/system.log",
                                    Folder() + "/other.txt", Folder() + "/absent.log"});
  // Not first in the run, system.log gets no leniency for its first link.
  EXPECT_EQ(run.exitCode, 2);
  EXPECT_EQ(run.out,
            "FileUnsigned absent.log\nFileUnsigned other.txt\nFileChainBreak system.log\n"
            "ReportSomeInvalid (2): 3 files, 1 bad\n");
}

TEST_F(VerifyCommandTest, EveryFileBadGivesAllInvalid) {
  TamperWithSecondFile();
  const CommandResult run = Verify({Folder() + "/System_2.log"});
  EXPECT_EQ(run.exitCode, 3);
  EXPECT_EQ(run.out, "FileInvalid System_2.log\nReportAllInvalid (3): 1 files, 1 bad\n");
}

TEST_F(VerifyCommandTest, UsageErrors) {
  for (const auto& args : std::vector<std::vector<std::string>>{{}, {"--no-such-flag", "x"}}) {
    const CommandResult run = Verify(args);
    EXPECT_EQ(run.exitCode, 64);
    EXPECT_EQ(run.out, "");
    EXPECT_NE(run.err.find("Usage:"), std::string::npos) << run.err;
  }
  const CommandResult notUtf8 = Verify({"bad\xff"});
  EXPECT_EQ(notUtf8.exitCode, 64);
}

}  // namespace
}  // namespace qve
