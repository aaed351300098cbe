// SPDX-License-Identifier: Apache-2.0
// verify in operations: overlapping cron runs, rotations, fleets, records kept
// read-only or missing; a seam loaded into the command forces each overlap.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <vector>

#include "cli/verify_outcome.h"
#include "tests/support/command_rows.h"
#include "tests/support/harness.h"
#include "tests/support/json_holds.h"

namespace qve {
namespace {

namespace fs = std::filesystem;
using Json = nlohmann::json;
using testing::LogBuilder;
using testing::LogChain;

using Step = std::function<void(const fs::path&)>;

Json Record(const fs::path& path) { return Json::parse(testing::ReadText(path)); }

// Device `a` as gzip'd System_N.log numbered newest first, N from `files`
// down to 1, and system.log.
Step NewestFirst(int files) {
  return [=](const fs::path& dir) {
    fs::remove_all(dir / "a");
    std::vector<std::pair<std::string, std::string>> logs;
    for (int n = files; n >= 1; --n)
      logs.push_back({"a/System_" + std::to_string(n) + ".log", "x S"});
    logs.push_back({"a/system.log", "x S"});
    testing::WriteChain(dir, logs);
  };
}

// Device `a` again, and n/system.log that continues its chain.
void Next(const fs::path& dir) {
  testing::WriteChain(
      dir, {{"a/System_1.log", "o o S"}, {"a/system.log", "s s S"}, {"n/system.log", "w w S"}});
}

// How many of `list` are about `path`.
std::size_t About(const Json& list, const std::string& path) {
  return std::size_t(std::count_if(list.begin(), list.end(),
                                   [&](const Json& item) { return item.at("path") == path; }));
}

// Runs `shell` right before the command's first `call` ("open", "rename")
// on a name ending in `target`. Under AddressSanitizer the seam comes before
// its runtime, which it must then not refuse.
testing::Command Before(const std::string& call, const std::string& target,
                        const std::string& shell) {
  const char* asan = std::getenv("ASAN_OPTIONS");
  return {.environment = {"LD_PRELOAD=" QVE_COMMAND_SEAM_FILE, "QVE_SEAM_ON=" + call,
                          "QVE_SEAM_TARGET=" + target, "QVE_SEAM_COMMAND=" + shell,
                          "ASAN_OPTIONS=" + std::string(asan != nullptr ? asan : "") +
                              ":verify_asan_link_order=0"}};
}

// Makes the command's calls `call` on names ending in `target` fail with
// `error`: `times` of them (0: all) from the `nth` on.
testing::Command Failing(const std::string& call, const std::string& target, int error, int nth = 1,
                         int times = 1) {
  testing::Command how = Before(call, target, "");
  how.environment.push_back("QVE_SEAM_ERRNO=" + std::to_string(error));
  how.environment.push_back("QVE_SEAM_NTH=" + std::to_string(nth));
  how.environment.push_back("QVE_SEAM_TIMES=" + std::to_string(times));
  return how;
}

struct Scenario {
  const char* name;
  Step setup = {};                     // beside device `a`
  std::string sh = {};                 // shell steps then, $Q the command
  std::vector<std::string> args = {};  // after verify --each --json
  int status = 0;
  std::string json = {};    // values the chains' objects must hold, in argument order
  std::string record = {};  // values the record left must hold
  std::function<void(const std::vector<Json>&, const fs::path&)> check = {};
  std::string after = {};  // shell test of the files left
  testing::Command how = {};
};

const std::string kCli = QVE_CLI_FILE;

std::vector<Scenario> Rows() {
  const testing::Command nobody{.asNobody = true};
  const std::string rec = "$Q verify -q --checkpoint-init --checkpoint record a";
  // Beside `a` the same device with two lines more signed, and its record.
  const std::string longer =
      rec + " && mkdir longer && cp a/System_1.log longer && cat a/system.log n/system.log > " +
      "longer/system.log && $Q verify -q --checkpoint-init --checkpoint longer.record longer";
  const auto edit = [&](const std::string& field, const std::string& value) {
    return rec + " && sed -i 's/\"" + field + "\": \"[^\"]*\"/\"" + field + "\": \"" + value +
           "\"/' record";
  };
  // clang-format off
  return {
      {.name = "OverlappingCronRunWaits", .sh = rec, .args = {"--checkpoint", "record", "a"},
       .json = R"([{"checkpoint": {"written": true}}])", .after = "grep -qx 75 second",
       .how = Before("rename", "record", kCli + " verify -q --wait 0 --checkpoint record a; echo $? > second")},
      {.name = "RecordReplacedWithoutLock", .setup = Next, .sh = longer, .args = {"--checkpoint", "record", "a"},
       .json = R"([{"checkpoint": {"status": "extended"}}])",
       .check = [](const std::vector<Json>& chains, const fs::path& dir) {
         const Json longer = Record(dir / "longer.record");
         EXPECT_EQ(chains.at(0).at("checkpoint").at("recorded").at("chainValue"), longer.at("chainValue"));
         EXPECT_EQ(Record(dir / "record").at("chainValue"), longer.at("chainValue"));
         EXPECT_EQ(Record(dir / "record").at("line"), longer.at("line"));
       },
       .how = Before("rename", "record", "cp longer/system.log a/system.log && cp longer.record record")},
      {.name = "RecordOfLinesNotHeldIsLost", .setup = Next, .sh = longer, .args = {"--checkpoint", "record", "a"},
       .status = 4, .json = R"([{"exitStatus": 4, "resultCode": 4, "report": {"resultCode": 0}}])",
       .after = "cmp record longer.record", .how = Before("rename", "record", "cp longer.record record")},
      // Written as System_2.log, System_1.log, system.log.
      {.name = "NewestFirstRotation", .setup = Next,
       .sh = rec + " && mv a/System_1.log a/System_2.log && mv a/system.log a/System_1.log && mv n/system.log a/",
       .args = {"--checkpoint", "record", "a"},
       .json = R"([{"order": "links", "badFiles": 0, "checkpoint": {"held": {"file": "System_1.log"}, "startsLater": false}}])",
       .record = R"({"file": "system.log", "line": 3})"},
      {.name = "RotationWhileReading", .setup = Next, .args = {"a"}, .json = R"([{"totalFiles": 3, "warnings": []}])",
       .how = Before("open", "a/system.log", "mv a/system.log a/System_2.log && cp n/system.log a/system.log")},
      {.name = "LinksThatDoNotJoin",
       .setup = [](const fs::path& dir) { testing::WriteChain(dir, {{"a/System_2.log", "x S"}}); },
       .sh = "rm a/system.log", .args = {"a"}, .status = 2,
       .json = R"([{"order": "links, with seams", "files": [{"name": "System_2.log"}]}])"},
      {.name = "FleetDamagedRecordAndMissingDevice",
       .sh = "cp -r a b && mkdir cps && $Q verify -q --each --checkpoint-init --checkpoint-dir cps a b && printf { > cps/b.checkpoint",
       .args = {"--checkpoint-dir", "cps", "a", "b", "c"}, .status = 66,
       .json = R"([{"exitStatus": 0, "checkpoint": {"written": true}}, {"exitStatus": 65, "path": "b"}, {"exitStatus": 66}])",
       .check = [](const std::vector<Json>& chains, const fs::path&) { EXPECT_TRUE(chains.at(1).contains("error")); },
       .after = "printf { | cmp - cps/b.checkpoint"},
      {.name = "DeviceNamedNotUtf8", .sh = "cp -r a d\xe9v && sed -i 1s/s/S/ a/system.log && mkdir cps",
       .args = {"--checkpoint-init", "--checkpoint-dir", "cps", "a", "d\xe9v"}, .status = 2,
       .json = R"([{"exitStatus": 2}, {"exitStatus": 0, "path": "d\\xe9v"}])", .after = "[ -f cps/d\xe9v.checkpoint ]"},
      {.name = "FleetMetrics",
       .sh = "mkdir cps && $Q verify -q --each --checkpoint-init --checkpoint-dir cps a && "
             R"(sed -i 's/"grew": "[^"]*"/"grew": "2026-12-07t03:05:47.5+01:00"/' cps/a.checkpoint)",
       .args = {"--checkpoint-dir-read-only", "cps", "--metrics", "m.prom", "a", "c"}, .status = 66,
       .check = [](const std::vector<Json>&, const fs::path& dir) {
         const std::string prom = testing::ReadText(dir / "m.prom");
         for (const char* line : {"qvehelper_verify_status{path=\"a\"} 0\n", "qvehelper_verify_status{path=\"c\"} 66\n",
                                  "qvehelper_verify_files{path=\"a\"} 2\n", "qvehelper_verify_bad_blocks{path=\"a\"} 0\n",
                                  "qvehelper_checkpoint_grew_timestamp_seconds{path=\"a\"} 1796609147\n"})
           EXPECT_NE(prom.find(line), std::string::npos) << line << prom;
         EXPECT_EQ(prom.find("files{path=\"c\"}"), std::string::npos) << prom;
       }},
      {.name = "MetricsReplacingALog", .args = {"--metrics", "a/system.log", "a"}, .status = 64,
       .after = "[ $(ls) = a ] && ! grep -q qvehelper a/system.log"},
      {.name = "ReadOnlyRecordNoLock", .sh = rec + " && rm record.lock && chmod 444 record",
       .args = {"--checkpoint-read-only", "record", "a"},
       .json = R"([{"checkpoint": {"readOnly": true, "written": false}}])", .after = "[ ! -e record.lock ]", .how = nobody},
      {.name = "MissingRecord", .args = {"--checkpoint", "record", "a"}, .status = 66, .after = "[ $(ls) = a ]"},
      {.name = "MissingReadOnlyRecord", .args = {"--checkpoint-read-only", "record", "a"}, .status = 66},
      {.name = "InitCreatesMissingRecord", .args = {"--checkpoint-init", "--checkpoint", "record", "a"},
       .json = R"([{"checkpoint": {"status": "new"}}])", .record = R"({"line": 3})"},
      {.name = "RecordInUpperCaseHex",
       .sh = rec + R"x( && sed -i -E 's/("(verificationKey|chainValue|start)": ")([^"]*)/\1\U\3/' record)x",
       .args = {"--checkpoint", "record", "a"}, .json = R"([{"checkpoint": {"status": "extended"}}])"},
      {.name = "RecordTimeIsNoTime", .sh = edit("time", "yesterday"), .args = {"--checkpoint", "record", "a"},
       .status = 65, .record = R"({"time": "yesterday"})"},
      {.name = "RecordMode000", .sh = rec + " && chown nobody: . record.lock && chmod 0 record",
       .args = {"--checkpoint", "record", "a"}, .status = 66, .how = nobody},
      {.name = "NewestLogInUnreadableFolder", .sh = "mkdir a/sub && mv a/system.log a/sub/ && chmod 0 a/sub",
       .args = {"--strict", "a"}, .status = 5,
       .json = R"([{"strict": [{"reason": "Unverified"}], "warnings": [{"unverified": true}]}])", .how = nobody},
      {.name = "SystemLogAsLink", .sh = "mv a/system.log a/real && ln -s real a/system.log", .args = {"a"}, .status = 6,
       .json = R"([{"status": "Incomplete", "result": "Incomplete", "report": {"result": "ReportOk"}}])"},
      {.name = "ReadOnlyRecordFolder", .sh = "cp -r a b && sed -i 1s/s/S/ b/system.log && mkdir cps",
       .args = {"--checkpoint-init", "--checkpoint-dir", "cps", "a", "b"}, .status = 2,
       .json = R"([{"exitStatus": 0, "checkpoint": {"written": false, "status": "not created"}}, {"exitStatus": 2}])",
       .check = [](const std::vector<Json>& chains, const fs::path&) {
         EXPECT_TRUE(chains.at(0).at("checkpoint").at("error").is_string());
       },
       .after = "[ -z \"$(ls cps)\" ]", .how = Failing("open-write", "*cps/", EROFS, 1, 0)},
      {.name = "NoInodeForRecord", .sh = rec, .args = {"--checkpoint", "record", "a"},
       .status = 73, .json = R"([{"exitStatus": 0, "checkpoint": {"status": "held"}}])",
       .record = R"({"line": 3})", .how = Failing("open-write", "*record", ENOSPC, 1, 0)},
      {.name = "KilledRunsTemporaryRemoved",
       .setup = [](const fs::path& dir) {
         testing::Shell(dir, "$Q verify -q --checkpoint-init --checkpoint record a");
         testing::Run(testing::InFolder(Before("rename", "record", "kill -9 $PPID"), kCli, "verify",
                                        {"--checkpoint", "record", "a"}, dir.string()));
       },
       .sh = "ls -a | grep -q '^.qve-'", .args = {"--checkpoint", "record", "a"},
       .after = "[ \"$(ls -A | tr '\\n' ' ')\" = 'a record record.lock ' ]"},
      {.name = "HistoryRemovedFailsStrict", .sh = rec + " && rm a/System_1.log",
       .args = {"--strict", "--checkpoint", "record", "a"}, .status = 5,
       .json = R"([{"strict": [{"reason": "HistoryShrunk"}],
                    "checkpoint": {"historyLeft": {"files": 1, "lines": 3}, "written": false}}])",
       .record = R"({"oldestFile": "System_1.log"})"},
      {.name = "HistoryRemovedWarnsUntilAccept", .sh = rec + " && rm a/System_1.log", .args = {"--checkpoint", "record", "a"},
       .json = R"([{"checkpoint": {"historyShrunk": true, "written": true}}])",
       .record = R"({"version": 2, "oldestFile": "System_1.log", "files": 2})",
       // Again until --accept, after which --strict passes.
       .after = R"($Q verify --json --checkpoint record a | grep -q '"historyShrunk": true' &&
                   $Q verify --json --accept --checkpoint record a | grep -q '"accepted": true' &&
                   grep -q '"oldestFile": "system.log"' record && $Q verify -q --strict --checkpoint record a)"},
      {.name = "RotationTakingAsManyAsItAdds", .setup = Next,
       .sh = rec + " && rm a/System_1.log && mv a/system.log a/System_2.log && mv n/system.log a/",
       .args = {"--strict", "--checkpoint", "record", "a"},
       .json = R"([{"checkpoint": {"historyLeft": {"files": 1, "lines": 3}, "historyShrunk": false}}])",
       .record = R"({"oldestFile": "System_2.log"})"},
      // A new chain from the start, its first file in place of the newest.
      {.name = "AcceptResetDevice", .sh = rec + " && mv a/System_1.log a/system.log",
       .args = {"--accept", "--checkpoint", "record", "a"}, .status = 4,
       .json = R"([{"checkpoint": {"written": true}}])",
       .check = [](const std::vector<Json>& chains, const fs::path& dir) {
         const Json& checkpoint = chains.at(0).at("checkpoint");
         EXPECT_FALSE(checkpoint.at("givesUp").is_null());
         EXPECT_EQ(Record(dir / "record").at("chainValue"), checkpoint.at("now").at("chainValue"));
       }},
      {.name = "AcceptWithReadOnlyRecord", .args = {"--accept", "--checkpoint-read-only", "record", "a"},
       .status = 64},
      {.name = "StaleAfterWithoutRecord", .args = {"--stale-after", "2", "a"}, .status = 64},
      {.name = "StaleFailsStrict", .sh = edit("grew", "2020-01-01T00:00:00Z"),
       .args = {"--strict", "--stale-after", "30", "--checkpoint", "record", "a"}, .status = 5,
       .json = R"([{"strict": [{"reason": "Stale"}]}])", .record = R"({"grew": "2020-01-01T00:00:00Z"})"},
      {.name = "StaleWarns", .sh = edit("grew", "2020-01-01T00:00:00+02:00"),
       .args = {"--stale-after", "30", "--checkpoint", "record", "a"},
       .json = R"([{"checkpoint": {"stale": true}}])", .record = R"({"grew": "2020-01-01T00:00:00+02:00"})"},
      {.name = "Version1RecordRewritten",
       .sh = rec + R"x( && sed -i -E '/"(files|lines|oldest[A-Za-z]*|grew)"/d; s/("time": "[^"]*"),/\1/; s/"version": 2/"version": 1/' record)x",
       .args = {"--checkpoint", "record", "a"}, .record = R"({"version": 2, "files": 2, "lines": 6})"},
      {.name = "StrippedNewestFileFailsStrict",
       .setup = [](const fs::path& dir) {
         testing::WriteChain(dir, {{"a/System_1.log", "x x S x x S"}, {"a/system.log", "u u u"}});
       },
       .args = {"--strict", "a"}, .status = 5,
       .json = R"([{"longestSignedBlock": 2, "strict": [{"reason": "UnsignedTail"}]}])"},
      {.name = "WithinMaxUnsignedPasses", .sh = "printf 'u\\nu\\nu\\n' > a/system.log",
       .args = {"--strict", "--max-unsigned", "3", "a"}},
      {.name = "UnreadableSystemLogWithRecord", .sh = rec + " && chown nobody: . record record.lock && chmod 0 a/system.log",
       .args = {"--checkpoint", "record", "a"}, .status = 6,
       .json = R"([{"checkpoint": {"status": "held", "written": false}}])", .how = nobody},
      {.name = "UnreadableMiddleFile", .setup = NewestFirst(2), .sh = "gzip a/System_* && chmod 0 a/System_1.log.gz",
       .args = {"--details", "a"}, .status = 6,
       .json = R"([{"badFiles": 0, "details": [{"blockCount": 1}, {"blockCount": 0}, {"path": "a/system.log", "breakFollows": "a/System_1.log.gz"}]}])",
       .how = nobody},
      {.name = "SystemLogGoneForAMoment", .args = {"a"}, .how = Failing("open", "a/system.log", ENOENT, 2)},
      {.name = "SystemLogMovedAwayWithRecord", .sh = rec, .args = {"--checkpoint", "record", "a"},
       .status = 6, .json = R"([{"checkpoint": {"status": "held"}, "totalFiles": 2}])",
       .how = Before("open", "a/system.log", "mv a/system.log elsewhere")},
      {.name = "MiddleFileMovedAway", .setup = NewestFirst(2), .sh = "gzip a/System_*", .args = {"a"},
       .status = 6, .json = R"([{"badFiles": 0}])",
       .how = Before("open", "a/System_1.log.gz",
              "mv a/System_1.log.gz elsewhere && cp a/system.log new && mv new a/system.log")},
      {.name = "NewestFirstNumberingMissingFile", .setup = NewestFirst(6), .sh = "rm a/System_4.log && gzip a/System_*",
       .args = {"a"}, .status = 2, .json = R"([{"files": [{"path": "a/System_3.log.gz"}]}])",
       .check = [](const std::vector<Json>& chains, const fs::path&) {
         EXPECT_EQ(About(chains.at(0).at("warnings"), "a/System_3.log.gz"), 1u);
         EXPECT_EQ(About(chains.at(0).at("warnings"), "a/System_6.log.gz"), 0u);
       }},
      {.name = "PlainAndGzipCopy", .sh = "gzip -k a/System_1.log", .args = {"a"}, .json = R"([{"totalFiles": 2}])",
       .check = [](const std::vector<Json>& chains, const fs::path&) {
         EXPECT_EQ(About(chains.at(0).at("warnings"), "a/System_1.log.gz"), 1u);
       }},
      {.name = "FolderWithNoLog", .sh = "rm a/*", .args = {"a"}, .status = 66},
      {.name = "FolderWithNoLogWithRecord", .sh = rec + " && rm a/*", .args = {"--checkpoint", "record", "a"}, .status = 4},
  };
  // clang-format on
}

class VerifyOperations : public ::testing::TestWithParam<Scenario> {};

TEST_P(VerifyOperations, Scenario) {
  const Scenario& row = GetParam();
  testing::TempDir dir;
  chmod(dir.path().c_str(), 0755);
  testing::WriteChain(dir.path(), {{"a/System_1.log", "o o S"}, {"a/system.log", "s s S"}});
  if (row.setup) row.setup(dir.path());
  if (!row.sh.empty()) {
    ASSERT_EQ(testing::Shell(dir.path(), row.sh), 0) << row.sh;
  }
  std::vector<std::string> args = {"--each", "--json"};
  args.insert(args.end(), row.args.begin(), row.args.end());
  const auto ran = testing::Run(testing::InFolder(row.how, kCli, "verify", args, dir.path()));
  EXPECT_EQ(ran.exitCode, row.status) << ran.out << ran.err;
  std::vector<Json> chains;
  std::istringstream lines(ran.out);
  for (std::string line; std::getline(lines, line);) chains.push_back(Json::parse(line));
  for (const Json& chain : chains) EXPECT_TRUE(chain.contains("exitStatus"));
  if (!row.json.empty()) testing::ExpectHolds(Json(chains), row.json);
  if (!row.record.empty()) testing::ExpectHolds(Record(dir / "record"), row.record);
  if (row.check) row.check(chains, dir.path());
  if (!row.after.empty()) {
    EXPECT_EQ(testing::Shell(dir.path(), row.after), 0) << row.after;
  }
  chmod((dir / "a/sub").c_str(), 0755);
}

QVE_ROWS(VerifyOperations, Rows());

// Statuses of several chains: tampering and lost evidence before the
// policy, the policy before what was not verified, all of them before an
// error of the table, and any error before 1 and 0.
TEST(VerifyOperations, TheWorseStatus) {
  const struct {
    int a, b, worse;
  } rows[] = {{0, 1, 1}, {1, 66, 66},  {6, 66, 6},   {5, 6, 5},    {2, 5, 2},   {3, 2, 3},
              {4, 3, 4}, {66, 65, 66}, {65, 75, 65}, {73, 66, 73}, {0, 75, 75}, {6, 0, 6}};
  for (const auto& row : rows) {
    EXPECT_EQ(cli::WorseStatus(row.a, row.b), row.worse) << row.a << " " << row.b;
    EXPECT_EQ(cli::WorseStatus(row.b, row.a), row.worse) << row.b << " " << row.a;
  }
}

}  // namespace
}  // namespace qve
