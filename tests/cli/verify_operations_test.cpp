// SPDX-License-Identifier: Apache-2.0
// verify as it runs in operations: cron runs that overlap, rotations, fleets
// with one bad device, records kept read-only or missing. An overlap is forced
// by a seam loaded into the command (tests/support/command_seam.c); nothing
// waits for time.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <nlohmann/json.hpp>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "cli/verify_outcome.h"
#include "platform/file_lock.h"
#include "tests/support/builders.h"
#include "tests/support/command_runner.h"
#include "tests/support/harness.h"
#include "tests/support/json_holds.h"

namespace qve {
namespace {

namespace fs = std::filesystem;
using Json = nlohmann::json;
using testing::LogBuilder;
using testing::LogChain;

// One device: System_1.log and system.log, one chain; `more` signed lines
// more at the end of system.log.
void Device(const fs::path& folder, int more = 0) {
  fs::create_directories(folder);
  LogChain chain;
  LogBuilder(chain).DataLines(2, "one ").Sign().WriteTo(folder / "System_1.log");
  LogBuilder log(chain);
  log.DataLines(2, "sys ").Sign();
  if (more > 0) log.DataLines(more, "more ").Sign();
  log.WriteTo(folder / "system.log");
}

Json Record(const fs::path& path) { return Json::parse(testing::ReadText(path)); }

void Write(const fs::path& path, const Json& json) { testing::WriteFile(path, json.dump(2)); }

// Runs verify in `dir`; 0 expected.
void Verify(const fs::path& dir, std::vector<std::string> args) {
  const auto ran = testing::Run(testing::InFolder({}, QVE_CLI_FILE, "verify", args, dir.string()));
  ASSERT_EQ(ran.exitCode, 0) << ran.err;
}

// Device `a` as System_N.log.gz numbered newest first, N from `files` down
// to 1, and system.log; `missing` is signed but not kept.
void NewestFirst(const fs::path& dir, int files, int missing = 0) {
  fs::create_directories(dir / "a");
  LogChain chain;
  for (int n = files; n >= 1; --n) {
    const Bytes log = LogBuilder(chain).DataLines(1).Sign().bytes();
    const std::string name = "a/System_" + std::to_string(n) + ".log.gz";
    if (n != missing) testing::WriteFile(dir / name, testing::Gzip(log));
  }
  LogBuilder(chain).DataLines(1).Sign().WriteTo(dir / "a/system.log");
}

// How many of `list` are about `path`.
std::size_t About(const Json& list, const std::string& path) {
  return std::size_t(std::count_if(list.begin(), list.end(),
                                   [&](const Json& item) { return item.at("path") == path; }));
}

// A record of device `a` taken now.
void Recorded(const fs::path& dir) {
  Verify(dir, {"-q", "--checkpoint-init", "--checkpoint", "record", "a"});
}

// Device `a` and its record.
void DeviceRecorded(const fs::path& dir) {
  Device(dir / "a");
  Recorded(dir);
}

// Device `a` of two files recorded, then rotated by `rotate` and given a
// new system.log that continues the chain.
void RotatedAfterRecord(const fs::path& dir, const std::function<void(const fs::path&)>& rotate) {
  LogChain chain;
  fs::create_directories(dir / "a");
  LogBuilder(chain).DataLines(2, "old ").Sign().WriteTo(dir / "a/System_1.log");
  LogBuilder(chain).DataLines(2, "mid ").Sign().WriteTo(dir / "a/system.log");
  Recorded(dir);
  rotate(dir / "a");
  LogBuilder(chain).DataLines(2, "new ").Sign().WriteTo(dir / "a/system.log");
}

// Device `a` recorded, and beside it the same device with two lines more
// signed, and its record.
void WithLonger(const fs::path& dir) {
  DeviceRecorded(dir);
  Device(dir / "longer", 2);
  Verify(dir, {"-q", "--checkpoint-init", "--checkpoint", "longer.record", "longer"});
}

// Device `a` recorded, and the record changed as a person might.
std::function<void(const fs::path&)> RecordedAndEdited(std::function<void(Json&)> edit) {
  return [=](const fs::path& dir) {
    DeviceRecorded(dir);
    Json record = Record(dir / "record");
    edit(record);
    Write(dir / "record", record);
  };
}

// Device `a` recorded, then its oldest file removed: more history gone
// than arrived.
void OldestRemoved(const fs::path& dir) {
  DeviceRecorded(dir);
  fs::remove(dir / "a/System_1.log");
}

// The chain's object of one more run of verify --each --json in `dir`.
Json Again(const fs::path& dir, std::vector<std::string> args) {
  args.insert(args.begin(), {"--each", "--json"});
  const auto ran = testing::Run(testing::InFolder({}, QVE_CLI_FILE, "verify", args, dir.string()));
  return Json::parse(ran.out);
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

// Runs `shell` right before the command renames a file onto "record".
testing::Command BeforeRecord(const std::string& shell) {
  return Before("rename", "record", shell);
}

struct Scenario {
  const char* name;
  std::function<void(const fs::path&)> setup = {};  // device `a` when none
  std::vector<std::string> args = {};               // after verify --each --json
  int status = 0;
  // The chains' objects, in argument order, and the folder afterwards.
  std::string json = {};    // values the chains' objects must hold, in argument order
  std::string record = {};  // values the record left must hold
  std::function<void(const std::vector<Json>&, const fs::path&)> check = {};
  testing::Command how = {};
};

void PrintTo(const Scenario& row, std::ostream* os) { *os << row.name; }

const std::string kCli = QVE_CLI_FILE;

std::vector<Scenario> Rows() {
  const testing::Command nobody{.asNobody = true};
  // clang-format off
  return {
      {.name = "OverlappingCronRunWaits", .setup = DeviceRecorded, .args = {"--checkpoint", "record", "a"},
       .json = R"([{"checkpoint": {"written": true}}])",
       .check = [](const std::vector<Json>&, const fs::path& dir) {
         EXPECT_EQ(testing::ReadText(dir / "second"), "75\n") << "the second run did not find the lock held";
       },
       .how = BeforeRecord(kCli + " verify -q --wait 0 --checkpoint record a; echo $? > second")},
      {.name = "RecordReplacedWithoutLock", .setup = WithLonger, .args = {"--checkpoint", "record", "a"},
       .json = R"([{"checkpoint": {"status": "extended"}}])",
       .check = [](const std::vector<Json>& chains, const fs::path& dir) {
         const Json longer = Record(dir / "longer.record");
         EXPECT_EQ(chains.at(0).at("checkpoint").at("recorded").at("chainValue"), longer.at("chainValue"));
         EXPECT_EQ(Record(dir / "record").at("chainValue"), longer.at("chainValue"));
         EXPECT_EQ(Record(dir / "record").at("line"), longer.at("line"));
       },
       .how = BeforeRecord("cp longer/system.log a/system.log && cp longer.record record")},
      {.name = "RecordOfLinesNotHeldIsLost", .setup = WithLonger, .args = {"--checkpoint", "record", "a"},
       .status = 4, .json = R"([{"exitStatus": 4, "resultCode": 4, "report": {"resultCode": 0}}])",
       .check = [](const std::vector<Json>&, const fs::path& dir) {
         EXPECT_EQ(testing::ReadText(dir / "record"), testing::ReadText(dir / "longer.record")) << "the newer record is kept";
       },
       .how = BeforeRecord("cp longer.record record")},
      {.name = "NewestFirstRotation",
       .setup = [](const fs::path& dir) {
         // Written as System_2.log, System_1.log, system.log.
         RotatedAfterRecord(dir, [](const fs::path& a) {
           fs::rename(a / "System_1.log", a / "System_2.log");
           fs::rename(a / "system.log", a / "System_1.log");
         });
       },
       .args = {"--checkpoint", "record", "a"},
       .json = R"([{"order": "links", "badFiles": 0, "checkpoint": {"held": {"file": "System_1.log"}, "startsLater": false}}])",
       .record = R"({"file": "system.log", "line": 3})"},
      {.name = "RotationWhileReading",
       .setup = [](const fs::path& dir) {
         LogChain chain;
         fs::create_directories(dir / "a");
         fs::create_directories(dir / "next");
         LogBuilder(chain).DataLines(2, "old ").Sign().WriteTo(dir / "a/System_1.log");
         LogBuilder(chain).DataLines(2, "mid ").Sign().WriteTo(dir / "a/system.log");
         LogBuilder(chain).DataLines(2, "new ").Sign().WriteTo(dir / "next/system.log");
       },
       .args = {"a"}, .json = R"([{"totalFiles": 3, "warnings": []}])",
       .how = Before("open", "a/system.log",
              "mv a/system.log a/System_2.log && cp next/system.log a/system.log")},
      {.name = "LinksThatDoNotJoin",
       .setup = [](const fs::path& dir) {
         LogChain chain;
         fs::create_directories(dir / "a");
         LogBuilder(chain).DataLines(1).Sign().WriteTo(dir / "a/System_1.log");
         chain.Reset();
         LogBuilder(chain).DataLines(1).Sign().WriteTo(dir / "a/System_2.log");
       },
       .args = {"a"}, .status = 2,
       .json = R"([{"order": "links, with seams", "files": [{"name": "System_2.log"}]}])"},
      {.name = "FleetDamagedRecordAndMissingDevice",
       .setup = [](const fs::path& dir) {
         Device(dir / "a");
         Device(dir / "b");
         fs::create_directory(dir / "cps");
         Verify(dir, {"-q", "--each", "--checkpoint-init", "--checkpoint-dir", "cps", "a", "b"});
         testing::WriteFile(dir / "cps/b.checkpoint", std::string("{"));
       },
       .args = {"--checkpoint-dir", "cps", "a", "b", "c"}, .status = 66,
       .json = R"([{"exitStatus": 0, "checkpoint": {"written": true}}, {"exitStatus": 65, "path": "b"}, {"exitStatus": 66}])",
       .check = [](const std::vector<Json>& chains, const fs::path& dir) {
         ASSERT_EQ(chains.size(), 3u);
         EXPECT_TRUE(chains[1].contains("error"));
         EXPECT_EQ(testing::ReadText(dir / "cps/b.checkpoint"), "{");
       }},
      {.name = "DeviceNamedNotUtf8",
       .setup = [](const fs::path& dir) {
         Device(dir / "a");
         Device(dir / "d\xe9v");
         fs::create_directory(dir / "cps");
         Bytes log = testing::ReadFile(dir / "a/system.log");
         log[0] = 'S';
         testing::WriteFile(dir / "a/system.log", log);
       },
       .args = {"--checkpoint-init", "--checkpoint-dir", "cps", "a", "d\xe9v"}, .status = 2,
       .json = R"([{"exitStatus": 2}, {"exitStatus": 0}])",
       .check = [](const std::vector<Json>& chains, const fs::path& dir) {
         EXPECT_EQ(chains.at(1).at("path"), "d\\xe9v");
         EXPECT_TRUE(fs::exists(dir / "cps/d\xe9v.checkpoint"));
       }},
      {.name = "FleetMetrics",
       .setup = [](const fs::path& dir) {
         Device(dir / "a");
         fs::create_directory(dir / "cps");
         Verify(dir, {"-q", "--each", "--checkpoint-init", "--checkpoint-dir", "cps", "a"});
         Json record = Record(dir / "cps/a.checkpoint");
         record["grew"] = "2026-12-07t03:05:47.5+01:00";
         Write(dir / "cps/a.checkpoint", record);
       },
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
       .check = [](const std::vector<Json>& chains, const fs::path& dir) {
         EXPECT_TRUE(chains.empty());
         EXPECT_EQ(testing::ReadText(dir / "a/system.log").substr(0, 4), "sys ");
         EXPECT_EQ(testing::NamesIn(dir), (std::set<std::string>{"a"}));
       }},
      {.name = "ReadOnlyRecordNoLock",
       .setup = [](const fs::path& dir) {
         DeviceRecorded(dir);
         fs::remove(dir / "record.lock");
         chmod((dir / "record").c_str(), 0444);
       },
       .args = {"--checkpoint-read-only", "record", "a"},
       .json = R"([{"checkpoint": {"readOnly": true, "written": false}}])",
       .check = [](const std::vector<Json>&, const fs::path& dir) {
         EXPECT_FALSE(fs::exists(dir / "record.lock"));
       },
       .how = nobody},
      {.name = "MissingRecord", .args = {"--checkpoint", "record", "a"}, .status = 66,
       .check = [](const std::vector<Json>&, const fs::path& dir) {
         EXPECT_EQ(testing::NamesIn(dir), (std::set<std::string>{"a"}));
       }},
      {.name = "MissingReadOnlyRecord", .args = {"--checkpoint-read-only", "record", "a"}, .status = 66},
      {.name = "InitCreatesMissingRecord", .args = {"--checkpoint-init", "--checkpoint", "record", "a"},
       .json = R"([{"checkpoint": {"status": "new"}}])", .record = R"({"line": 3})"},
      {.name = "RecordInUpperCaseHex",
       .setup = RecordedAndEdited([](Json& record) {
         for (const char* name : {"verificationKey", "chainValue", "start"}) {
           std::string value = record[name];
           for (char& c : value) c = char(std::toupper(c));
           record[name] = value;
         }
       }),
       .args = {"--checkpoint", "record", "a"}, .json = R"([{"checkpoint": {"status": "extended"}}])"},
      {.name = "RecordTimeIsNoTime",
       .setup = RecordedAndEdited([](Json& record) { record["time"] = "yesterday"; }),
       .args = {"--checkpoint", "record", "a"}, .status = 65, .record = R"({"time": "yesterday"})"},
      {.name = "RecordMode000",
       .setup = [](const fs::path& dir) {
         DeviceRecorded(dir);
         chown(dir.c_str(), testing::NobodyUid(), testing::NobodyGid());
         chown((dir / "record.lock").c_str(), testing::NobodyUid(), testing::NobodyGid());
         chmod((dir / "record").c_str(), 0);
       },
       .args = {"--checkpoint", "record", "a"}, .status = 66, .how = nobody},
      {.name = "NewestLogInUnreadableFolder",
       .setup = [](const fs::path& dir) {
         Device(dir / "a");
         fs::create_directory(dir / "a/sub");
         fs::rename(dir / "a/system.log", dir / "a/sub/system.log");
         chmod((dir / "a/sub").c_str(), 0);
       },
       .args = {"--strict", "a"}, .status = 5,
       .json = R"([{"strict": [{"reason": "Unverified"}], "warnings": [{"unverified": true}]}])", .how = nobody},
      {.name = "SystemLogAsLink",
       .setup = [](const fs::path& dir) {
         Device(dir / "a");
         fs::rename(dir / "a/system.log", dir / "a/real");
         fs::create_symlink("real", dir / "a/system.log");
       },
       .args = {"a"}, .status = 6,
       .json = R"([{"status": "Incomplete", "result": "Incomplete", "report": {"result": "ReportOk"}}])"},
      {.name = "ReadOnlyRecordFolder",
       .setup = [](const fs::path& dir) {
         Device(dir / "a");
         Device(dir / "b");
         Bytes log = testing::ReadFile(dir / "b/system.log");
         log[0] = 'S';
         testing::WriteFile(dir / "b/system.log", log);
         fs::create_directory(dir / "cps");
       },
       .args = {"--checkpoint-init", "--checkpoint-dir", "cps", "a", "b"}, .status = 2,
       .json = R"([{"exitStatus": 0, "checkpoint": {"written": false, "status": "not created"}}, {"exitStatus": 2}])",
       .check = [](const std::vector<Json>& chains, const fs::path& dir) {
         EXPECT_TRUE(chains.at(0).at("checkpoint").at("error").is_string());
         EXPECT_TRUE(testing::NamesIn(dir / "cps").empty());
       },
       .how = Failing("open-write", "*cps/", EROFS, 1, 0)},
      {.name = "NoInodeForRecord", .setup = DeviceRecorded, .args = {"--checkpoint", "record", "a"},
       .status = 73, .json = R"([{"exitStatus": 0, "checkpoint": {"status": "held"}}])",
       .record = R"({"line": 3})", .how = Failing("open-write", "*record", ENOSPC, 1, 0)},
      {.name = "KilledRunsTemporaryRemoved",
       .setup = [](const fs::path& dir) {
         DeviceRecorded(dir);
         testing::Run(testing::InFolder(Before("rename", "record", "kill -9 $PPID"), kCli, "verify",
                                        {"--checkpoint", "record", "a"}, dir.string()));
         const std::set<std::string> names = testing::NamesIn(dir);
         ASSERT_TRUE(std::ranges::any_of(names, [](const std::string& n) { return n.starts_with(".qve-"); }));
       },
       .args = {"--checkpoint", "record", "a"},
       .check = [](const std::vector<Json>&, const fs::path& dir) {
         EXPECT_EQ(testing::NamesIn(dir), (std::set<std::string>{"a", "record", "record.lock"}));
       }},
      {.name = "HistoryRemovedFailsStrict", .setup = OldestRemoved,
       .args = {"--strict", "--checkpoint", "record", "a"}, .status = 5,
       .json = R"([{"strict": [{"reason": "HistoryShrunk"}],
                    "checkpoint": {"historyLeft": {"files": 1, "lines": 3}, "written": false}}])",
       .record = R"({"oldestFile": "System_1.log"})"},
      {.name = "HistoryRemovedWarnsUntilAccept", .setup = OldestRemoved, .args = {"--checkpoint", "record", "a"},
       .json = R"([{"checkpoint": {"historyShrunk": true, "written": true}}])",
       .record = R"({"version": 2, "oldestFile": "System_1.log", "files": 2})",
       .check = [](const std::vector<Json>&, const fs::path& dir) {
         EXPECT_EQ(Again(dir, {"--checkpoint", "record", "a"}).at("checkpoint").at("historyShrunk"), true);
         const Json accepted = Again(dir, {"--accept", "--checkpoint", "record", "a"});
         EXPECT_EQ(accepted.at("checkpoint").at("accepted"), true);
         EXPECT_FALSE(accepted.at("checkpoint").at("givesUp").is_null());
         EXPECT_EQ(Record(dir / "record").at("oldestFile"), "system.log");
         EXPECT_EQ(Again(dir, {"--strict", "--checkpoint", "record", "a"}).at("exitStatus"), 0);
       }},
      {.name = "RotationTakingAsManyAsItAdds",
       .setup = [](const fs::path& dir) {
         RotatedAfterRecord(dir, [](const fs::path& a) {
           fs::remove(a / "System_1.log");
           fs::rename(a / "system.log", a / "System_2.log");
         });
       },
       .args = {"--strict", "--checkpoint", "record", "a"},
       .json = R"([{"checkpoint": {"historyLeft": {"files": 1, "lines": 3}, "historyShrunk": false}}])",
       .record = R"({"oldestFile": "System_2.log"})"},
      {.name = "AcceptResetDevice",
       .setup = [](const fs::path& dir) {
         DeviceRecorded(dir);
         LogChain chain;
         LogBuilder(chain).DataLines(2, "new ").Sign().WriteTo(dir / "a/system.log");
         fs::remove(dir / "a/System_1.log");
       },
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
      {.name = "StaleFailsStrict",
       .setup = RecordedAndEdited([](Json& record) { record["grew"] = "2020-01-01T00:00:00Z"; }),
       .args = {"--strict", "--stale-after", "30", "--checkpoint", "record", "a"}, .status = 5,
       .json = R"([{"strict": [{"reason": "Stale"}]}])", .record = R"({"grew": "2020-01-01T00:00:00Z"})"},
      {.name = "StaleWarns",
       .setup = RecordedAndEdited([](Json& record) { record["grew"] = "2020-01-01T00:00:00+02:00"; }),
       .args = {"--stale-after", "30", "--checkpoint", "record", "a"},
       .json = R"([{"checkpoint": {"stale": true}}])", .record = R"({"grew": "2020-01-01T00:00:00+02:00"})"},
      {.name = "Version1RecordRewritten",
       .setup = RecordedAndEdited([](Json& record) {
         for (const char* name : {"files", "lines", "oldestFile", "oldestLine", "oldestChainValue", "grew"})
           record.erase(name);
         record["version"] = 1;
       }),
       .args = {"--checkpoint", "record", "a"}, .record = R"({"version": 2, "files": 2, "lines": 6})"},
      {.name = "StrippedNewestFileFailsStrict",
       .setup = [](const fs::path& dir) {
         LogChain chain;
         fs::create_directories(dir / "a");
         LogBuilder(chain).DataLines(2).Sign().DataLines(2).Sign().WriteTo(dir / "a/System_1.log");
         LogBuilder(chain).DataLines(3, "stripped ").WriteTo(dir / "a/system.log");
       },
       .args = {"--strict", "a"}, .status = 5,
       .json = R"([{"longestSignedBlock": 2, "strict": [{"reason": "UnsignedTail"}]}])"},
      {.name = "WithinMaxUnsignedPasses",
       .setup = [](const fs::path& dir) {
         LogChain chain;
         fs::create_directories(dir / "a");
         LogBuilder(chain).DataLines(2).Sign().WriteTo(dir / "a/System_1.log");
         LogBuilder(chain).DataLines(3).WriteTo(dir / "a/system.log");
       },
       .args = {"--strict", "--max-unsigned", "3", "a"}},
      {.name = "UnreadableSystemLogWithRecord",
       .setup = [](const fs::path& dir) {
         DeviceRecorded(dir);
         for (const char* name : {"", "record", "record.lock"})
           chown((dir / name).c_str(), testing::NobodyUid(), testing::NobodyGid());
         chmod((dir / "a/system.log").c_str(), 0);
       },
       .args = {"--checkpoint", "record", "a"}, .status = 6,
       .json = R"([{"checkpoint": {"status": "held", "written": false}}])", .how = nobody},
      {.name = "UnreadableMiddleFile",
       .setup = [](const fs::path& dir) {
         NewestFirst(dir, 2);
         chmod((dir / "a/System_1.log.gz").c_str(), 0);
       },
       .args = {"--details", "a"}, .status = 6, .json = R"([{"badFiles": 0}])",
       .check = [](const std::vector<Json>& chains, const fs::path&) {
         EXPECT_EQ(chains.at(0).at("details").at(2).at("path"), "a/system.log");
         EXPECT_EQ(chains.at(0).at("details").at(2).at("breakFollows"), "a/System_1.log.gz");
       },
       .how = nobody},
      {.name = "SystemLogGoneForAMoment", .args = {"a"}, .how = Failing("open", "a/system.log", ENOENT, 2)},
      {.name = "SystemLogMovedAwayWithRecord", .setup = DeviceRecorded, .args = {"--checkpoint", "record", "a"},
       .status = 6, .json = R"([{"checkpoint": {"status": "held"}, "totalFiles": 2}])",
       .how = Before("open", "a/system.log", "mv a/system.log elsewhere")},
      {.name = "MiddleFileMovedAway", .setup = [](const fs::path& dir) { NewestFirst(dir, 2); }, .args = {"a"},
       .status = 6, .json = R"([{"badFiles": 0}])",
       .how = Before("open", "a/System_1.log.gz",
              "mv a/System_1.log.gz elsewhere && cp a/system.log new && mv new a/system.log")},
      {.name = "NewestFirstNumberingMissingFile", .setup = [](const fs::path& dir) { NewestFirst(dir, 6, 4); },
       .args = {"a"}, .status = 2, .json = R"([{"files": [{"path": "a/System_3.log.gz"}]}])",
       .check = [](const std::vector<Json>& chains, const fs::path&) {
         EXPECT_EQ(About(chains.at(0).at("warnings"), "a/System_3.log.gz"), 1u);
         EXPECT_EQ(About(chains.at(0).at("warnings"), "a/System_6.log.gz"), 0u);
       }},
      {.name = "PlainAndGzipCopy",
       .setup = [](const fs::path& dir) {
         Device(dir / "a");
         testing::WriteFile(dir / "a/System_1.log.gz",
                            testing::Gzip(testing::ReadFile(dir / "a/System_1.log")));
       },
       .args = {"a"}, .json = R"([{"totalFiles": 2}])",
       .check = [](const std::vector<Json>& chains, const fs::path&) {
         EXPECT_EQ(About(chains.at(0).at("warnings"), "a/System_1.log.gz"), 1u);
       }},
      {.name = "FolderWithNoLog", .setup = [](const fs::path& dir) { fs::create_directory(dir / "a"); },
       .args = {"a"}, .status = 66},
      {.name = "FolderWithNoLogWithRecord",
       .setup = [](const fs::path& dir) {
         DeviceRecorded(dir);
         fs::remove_all(dir / "a");
         fs::create_directory(dir / "a");
       },
       .args = {"--checkpoint", "record", "a"}, .status = 4},
  };
  // clang-format on
}

class VerifyOperations : public ::testing::TestWithParam<Scenario> {};

TEST_P(VerifyOperations, Scenario) {
  const Scenario& row = GetParam();
  testing::TempDir dir;
  chmod(dir.path().c_str(), 0755);
  if (row.setup) {
    row.setup(dir.path());
  } else {
    Device(dir / "a");
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
  chmod((dir / "a/sub").c_str(), 0755);
}

INSTANTIATE_TEST_SUITE_P(Rows, VerifyOperations, ::testing::ValuesIn(Rows()),
                         [](const auto& info) { return std::string(info.param.name); });

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
