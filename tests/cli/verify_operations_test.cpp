// SPDX-License-Identifier: Apache-2.0
// verify as it runs in operations: cron runs that overlap, rotations, fleets
// with one bad device, records kept read-only or missing. Each row runs the
// command with --each --json and checks its exit status, the JSON it gives
// per chain and the files it leaves. An overlap is forced by a seam loaded
// into the command (tests/support/rename_seam.c) that acts right before the
// command puts its record in place; nothing waits for time.
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

std::string Text(const fs::path& path) {
  const Bytes bytes = testing::ReadFile(path);
  return std::string(bytes.begin(), bytes.end());
}

Json Record(const fs::path& path) { return Json::parse(Text(path)); }

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
  std::function<void(const fs::path&)> setup;
  std::vector<std::string> args;  // after verify --each --json
  int status;
  // The chains' objects, in argument order, and the folder afterwards.
  std::function<void(const std::vector<Json>&, const fs::path&)> check;
  testing::Command how = {};
};

TEST(VerifyOperations, Scenarios) {
  const testing::Command nobody{.asNobody = true};
  const std::string cli = QVE_CLI_FILE;
  const auto status = [](const Json& chain) { return chain.at("exitStatus").get<int>(); };
  // clang-format off
  const Scenario rows[] = {
      {"a cron run overlapping a slow one waits, and gives up past --wait",
       DeviceRecorded, {"--checkpoint", "record", "a"}, 0,
       [](const std::vector<Json>& chains, const fs::path& dir) {
         EXPECT_EQ(Text(dir / "second"), "75\n") << "the second run did not find the lock held";
         EXPECT_EQ(chains.at(0).at("checkpoint").at("written"), true);
       },
       BeforeRecord(cli + " verify -q --wait 0 --checkpoint record a; echo $? > second")},
      {"a record replaced by a writer without the lock: judged again, never rolled back",
       WithLonger,
       {"--checkpoint", "record", "a"}, 0,
       [](const std::vector<Json>& chains, const fs::path& dir) {
         const Json& checkpoint = chains.at(0).at("checkpoint");
         const Json longer = Record(dir / "longer.record");
         EXPECT_EQ(checkpoint.at("recorded").at("chainValue"), longer.at("chainValue"));
         EXPECT_EQ(checkpoint.at("status"), "extended");
         EXPECT_EQ(Record(dir / "record").at("chainValue"), longer.at("chainValue"));
         EXPECT_EQ(Record(dir / "record").at("line"), longer.at("line"));
       },
       BeforeRecord("cp longer/system.log a/system.log && cp longer.record record")},
      {"a record of lines the run does not hold, put in place meanwhile, is lost",
       WithLonger,
       {"--checkpoint", "record", "a"}, 4,
       [&](const std::vector<Json>& chains, const fs::path& dir) {
         EXPECT_EQ(status(chains.at(0)), 4);
         EXPECT_EQ(chains.at(0).at("resultCode"), 4);
         EXPECT_EQ(chains.at(0).at("report").at("resultCode"), 0);
         EXPECT_EQ(Text(dir / "record"), Text(dir / "longer.record")) << "the newer record is kept";
       },
       BeforeRecord("cp longer.record record")},
      {"newest-first rotation: link order, the record's block found under its new name",
       [](const fs::path& dir) {
         // Written as System_2.log, System_1.log, system.log.
         RotatedAfterRecord(dir, [](const fs::path& a) {
           fs::rename(a / "System_1.log", a / "System_2.log");
           fs::rename(a / "system.log", a / "System_1.log");
         });
       },
       {"--checkpoint", "record", "a"}, 0,
       [&](const std::vector<Json>& chains, const fs::path& dir) {
         const Json& chain = chains.at(0);
         EXPECT_EQ(chain.at("order"), "links");
         EXPECT_EQ(chain.at("badFiles"), 0);
         EXPECT_EQ(chain.at("checkpoint").at("held").at("file"), "System_1.log");
         EXPECT_EQ(chain.at("checkpoint").at("startsLater"), false);
         EXPECT_EQ(Record(dir / "record").at("file"), "system.log");
         EXPECT_EQ(Record(dir / "record").at("line"), 3);
       }},
      {"a rotation while the run reads its files: verified again, not taken for a break",
       [](const fs::path& dir) {
         LogChain chain;
         fs::create_directories(dir / "a");
         fs::create_directories(dir / "next");
         LogBuilder(chain).DataLines(2, "old ").Sign().WriteTo(dir / "a/System_1.log");
         LogBuilder(chain).DataLines(2, "mid ").Sign().WriteTo(dir / "a/system.log");
         LogBuilder(chain).DataLines(2, "new ").Sign().WriteTo(dir / "next/system.log");
       },
       {"a"}, 0,
       [&](const std::vector<Json>& chains, const fs::path&) {
         EXPECT_EQ(chains.at(0).at("totalFiles"), 3);
         EXPECT_EQ(chains.at(0).at("warnings"), Json::array());
       },
       Before("open", "a/system.log",
              "mv a/system.log a/System_2.log && cp next/system.log a/system.log")},
      {"the same by name breaks the chain",
       [](const fs::path& dir) {
         LogChain chain;
         fs::create_directories(dir / "a");
         LogBuilder(chain).DataLines(1).Sign().WriteTo(dir / "a/System_2.log");
         LogBuilder(chain).DataLines(1).Sign().WriteTo(dir / "a/System_1.log");
         LogBuilder(chain).DataLines(1).Sign().WriteTo(dir / "a/system.log");
       },
       {"--order", "name", "a"}, 2,
       [&](const std::vector<Json>& chains, const fs::path&) {
         EXPECT_EQ(chains.at(0).at("order"), "name");
         EXPECT_EQ(chains.at(0).at("badFiles"), 2);
       }},
      {"links that do not join: runs in name order, seams said",
       [](const fs::path& dir) {
         LogChain chain;
         fs::create_directories(dir / "a");
         LogBuilder(chain).DataLines(1).Sign().WriteTo(dir / "a/System_1.log");
         chain.Reset();
         LogBuilder(chain).DataLines(1).Sign().WriteTo(dir / "a/System_2.log");
       },
       {"a"}, 2,
       [&](const std::vector<Json>& chains, const fs::path&) {
         EXPECT_EQ(chains.at(0).at("order"), "links, with seams");
         EXPECT_EQ(chains.at(0).at("files").at(0).at("name"), "System_2.log");
       }},
      {"a fleet: a damaged record and a missing device stop only their chains",
       [](const fs::path& dir) {
         Device(dir / "a");
         Device(dir / "b");
         fs::create_directory(dir / "cps");
         Verify(dir, {"-q", "--each", "--checkpoint-init", "--checkpoint-dir", "cps", "a", "b"});
         testing::WriteFile(dir / "cps/b.checkpoint", std::string("{"));
       },
       {"--checkpoint-dir", "cps", "a", "b", "c"}, 66,
       [&](const std::vector<Json>& chains, const fs::path& dir) {
         ASSERT_EQ(chains.size(), 3u);
         EXPECT_EQ(status(chains[0]), 0);
         EXPECT_EQ(chains[0].at("checkpoint").at("written"), true);
         EXPECT_EQ(status(chains[1]), 65);
         EXPECT_EQ(chains[1].at("path"), "b");
         EXPECT_TRUE(chains[1].contains("error"));
         EXPECT_EQ(status(chains[2]), 66);
         EXPECT_EQ(Text(dir / "cps/b.checkpoint"), "{");
       }},
      {"a fleet: tampering outranks the errors",
       [](const fs::path& dir) {
         Device(dir / "a");
         Bytes log = testing::ReadFile(dir / "a/system.log");
         log[0] = 'S';
         testing::WriteFile(dir / "a/system.log", log);
       },
       {"a", "c"}, 2,
       [&](const std::vector<Json>& chains, const fs::path&) {
         EXPECT_EQ(status(chains.at(0)), 2);
         EXPECT_EQ(status(chains.at(1)), 66);
       }},
      {"a device named in bytes that are not UTF-8: its record made, the fleet verified",
       [](const fs::path& dir) {
         Device(dir / "a");
         Device(dir / "d\xe9v");
         fs::create_directory(dir / "cps");
         Bytes log = testing::ReadFile(dir / "a/system.log");
         log[0] = 'S';
         testing::WriteFile(dir / "a/system.log", log);
       },
       {"--checkpoint-init", "--checkpoint-dir", "cps", "a", "d\xe9v"}, 2,
       [&](const std::vector<Json>& chains, const fs::path& dir) {
         EXPECT_EQ(status(chains.at(0)), 2);
         EXPECT_EQ(status(chains.at(1)), 0);
         EXPECT_EQ(chains.at(1).at("path"), "d\\xe9v");
         EXPECT_TRUE(fs::exists(dir / "cps/d\xe9v.checkpoint"));
       }},
      {"a fleet's metrics: every device's status, when its chain last grew as a unix time",
       [](const fs::path& dir) {
         Device(dir / "a");
         fs::create_directory(dir / "cps");
         Verify(dir, {"-q", "--each", "--checkpoint-init", "--checkpoint-dir", "cps", "a"});
         Json record = Record(dir / "cps/a.checkpoint");
         record["grew"] = "2026-12-07t03:05:47.5+01:00";
         Write(dir / "cps/a.checkpoint", record);
       },
       {"--checkpoint-dir-read-only", "cps", "--metrics", "m.prom", "a", "c"}, 66,
       [&](const std::vector<Json>&, const fs::path& dir) {
         const std::string prom = Text(dir / "m.prom");
         for (const char* line : {"qvehelper_verify_status{path=\"a\"} 0\n",
                                  "qvehelper_verify_status{path=\"c\"} 66\n",
                                  "qvehelper_verify_files{path=\"a\"} 2\n",
                                  "qvehelper_verify_bad_blocks{path=\"a\"} 0\n",
                                  "qvehelper_checkpoint_grew_timestamp_seconds{path=\"a\"} "
                                  "1796609147\n"})
           EXPECT_NE(prom.find(line), std::string::npos) << line << prom;
         EXPECT_EQ(prom.find("files{path=\"c\"}"), std::string::npos) << prom;
       }},
      {"metrics that would replace a log: refused before any work",
       {}, {"--metrics", "a/system.log", "a"}, 64,
       [&](const std::vector<Json>& chains, const fs::path& dir) {
         EXPECT_TRUE(chains.empty());
         EXPECT_EQ(Text(dir / "a/system.log").substr(0, 4), "sys ");
         EXPECT_EQ(testing::NamesIn(dir), (std::set<std::string>{"a"}));
       }},
      {"a read-only record this user may not replace, and no lock",
       [](const fs::path& dir) {
         DeviceRecorded(dir);
         fs::remove(dir / "record.lock");
         chmod((dir / "record").c_str(), 0444);
       },
       {"--checkpoint-read-only", "record", "a"}, 0,
       [&](const std::vector<Json>& chains, const fs::path& dir) {
         EXPECT_EQ(chains.at(0).at("checkpoint").at("readOnly"), true);
         EXPECT_EQ(chains.at(0).at("checkpoint").at("written"), false);
         EXPECT_FALSE(fs::exists(dir / "record.lock"));
       },
       nobody},
      {"a missing record is an error, and nothing is made",
       [](const fs::path& dir) { Device(dir / "a"); },
       {"--checkpoint", "record", "a"}, 66,
       [&](const std::vector<Json>&, const fs::path& dir) {
         EXPECT_EQ(testing::NamesIn(dir), (std::set<std::string>{"a"}));
       }},
      {"a missing read-only record is an error",
       [](const fs::path& dir) { Device(dir / "a"); },
       {"--checkpoint-read-only", "record", "a"}, 66, {}},
      {"--checkpoint-init creates a missing record",
       [](const fs::path& dir) { Device(dir / "a"); },
       {"--checkpoint-init", "--checkpoint", "record", "a"}, 0,
       [&](const std::vector<Json>& chains, const fs::path& dir) {
         EXPECT_EQ(chains.at(0).at("checkpoint").at("status"), "new");
         EXPECT_EQ(Record(dir / "record").at("line"), 3);
       }},
      {"a record in upper-case hex",
       RecordedAndEdited([](Json& record) {
         for (const char* name : {"verificationKey", "chainValue", "start"}) {
           std::string value = record[name];
           for (char& c : value) c = char(std::toupper(c));
           record[name] = value;
         }
       }),
       {"--checkpoint", "record", "a"}, 0,
       [&](const std::vector<Json>& chains, const fs::path&) {
         EXPECT_EQ(chains.at(0).at("checkpoint").at("status"), "extended");
       }},
      {"a record whose time is no time",
       RecordedAndEdited([](Json& record) { record["time"] = "yesterday"; }),
       {"--checkpoint", "record", "a"}, 65,
       [&](const std::vector<Json>&, const fs::path& dir) {
         EXPECT_EQ(Record(dir / "record").at("time"), "yesterday");
       }},
      {"a record with a member of its own",
       RecordedAndEdited([](Json& record) { record["note"] = "x"; }),
       {"--checkpoint", "record", "a"}, 65, {}},
      {"a record of mode 000 cannot be read: 66, not 73",
       [](const fs::path& dir) {
         DeviceRecorded(dir);
         chown(dir.c_str(), testing::NobodyUid(), testing::NobodyGid());
         chown((dir / "record.lock").c_str(), testing::NobodyUid(), testing::NobodyGid());
         chmod((dir / "record").c_str(), 0);
       },
       {"--checkpoint", "record", "a"}, 66, {}, nobody},
      {"the newest log in a folder the user cannot read: incomplete, and strict fails",
       [](const fs::path& dir) {
         Device(dir / "a");
         fs::create_directory(dir / "a/sub");
         fs::rename(dir / "a/system.log", dir / "a/sub/system.log");
         chmod((dir / "a/sub").c_str(), 0);
       },
       {"--strict", "a"}, 5,
       [&](const std::vector<Json>& chains, const fs::path&) {
         EXPECT_EQ(chains.at(0).at("strict").at(0).at("reason"), "Unverified");
         EXPECT_EQ(chains.at(0).at("warnings").at(0).at("unverified"), true);
       },
       nobody},
      {"system.log as a link: incomplete",
       [](const fs::path& dir) {
         Device(dir / "a");
         fs::rename(dir / "a/system.log", dir / "a/real");
         fs::create_symlink("real", dir / "a/system.log");
       },
       {"a"}, 6,
       [&](const std::vector<Json>& chains, const fs::path&) {
         EXPECT_EQ(chains.at(0).at("status"), "Incomplete");
         EXPECT_EQ(chains.at(0).at("result"), "Incomplete");
         EXPECT_EQ(chains.at(0).at("report").at("result"), "ReportOk");
       }},
      {"a read-only record folder: every chain verified, tampering said, records not written",
       [](const fs::path& dir) {
         Device(dir / "a");
         Device(dir / "b");
         Bytes log = testing::ReadFile(dir / "b/system.log");
         log[0] = 'S';
         testing::WriteFile(dir / "b/system.log", log);
         fs::create_directory(dir / "cps");
       },
       {"--checkpoint-init", "--checkpoint-dir", "cps", "a", "b"}, 2,
       [&](const std::vector<Json>& chains, const fs::path& dir) {
         EXPECT_EQ(status(chains.at(0)), 0);
         EXPECT_EQ(chains.at(0).at("checkpoint").at("written"), false);
         EXPECT_EQ(chains.at(0).at("checkpoint").at("status"), "not created");
         EXPECT_TRUE(chains.at(0).at("checkpoint").at("error").is_string());
         EXPECT_EQ(status(chains.at(1)), 2);
         EXPECT_TRUE(testing::NamesIn(dir / "cps").empty());
       },
       Failing("open-write", "*cps/", EROFS, 1, 0)},
      {"no inode left for the record: verified, held, and 73 where nothing is worse",
       DeviceRecorded, {"--checkpoint", "record", "a"}, 73,
       [&](const std::vector<Json>& chains, const fs::path& dir) {
         EXPECT_EQ(status(chains.at(0)), 0);
         EXPECT_EQ(chains.at(0).at("checkpoint").at("status"), "held");
         EXPECT_EQ(Record(dir / "record").at("line"), 3);
       },
       Failing("open-write", "*record", ENOSPC, 1, 0)},
      {"a temporary record a killed run left is removed under the lock",
       [&](const fs::path& dir) {
         DeviceRecorded(dir);
         testing::Run(testing::InFolder(Before("rename", "record", "kill -9 $PPID"), cli, "verify",
                                        {"--checkpoint", "record", "a"}, dir.string()));
         const std::set<std::string> names = testing::NamesIn(dir);
         ASSERT_TRUE(std::ranges::any_of(names, [](const std::string& n) { return n.starts_with(".qve-"); }));
       },
       {"--checkpoint", "record", "a"}, 0,
       [&](const std::vector<Json>&, const fs::path& dir) {
         EXPECT_EQ(testing::NamesIn(dir), (std::set<std::string>{"a", "record", "record.lock"}));
       }},
      {"history removed beyond rotation fails --strict, and the record stays",
       OldestRemoved, {"--strict", "--checkpoint", "record", "a"}, 5,
       [&](const std::vector<Json>& chains, const fs::path& dir) {
         const Json& checkpoint = chains.at(0).at("checkpoint");
         EXPECT_EQ(chains.at(0).at("strict").at(0).at("reason"), "HistoryShrunk");
         EXPECT_EQ(checkpoint.at("historyLeft"), (Json{{"files", 1}, {"lines", 3}}));
         EXPECT_EQ(checkpoint.at("written"), false);
         EXPECT_EQ(Record(dir / "record").at("oldestFile"), "System_1.log");
       }},
      {"without --strict a warning, and the record keeps its oldest block until --accept",
       OldestRemoved, {"--checkpoint", "record", "a"}, 0,
       [&](const std::vector<Json>& chains, const fs::path& dir) {
         EXPECT_EQ(chains.at(0).at("checkpoint").at("historyShrunk"), true);
         EXPECT_EQ(chains.at(0).at("checkpoint").at("written"), true);
         const Json record = Record(dir / "record");
         EXPECT_EQ(record.at("version"), 2);
         EXPECT_EQ(record.at("oldestFile"), "System_1.log");
         EXPECT_EQ(record.at("files"), 2);
         EXPECT_EQ(Again(dir, {"--checkpoint", "record", "a"}).at("checkpoint").at("historyShrunk"),
                   true);
         const Json accepted = Again(dir, {"--accept", "--checkpoint", "record", "a"});
         EXPECT_EQ(accepted.at("checkpoint").at("accepted"), true);
         EXPECT_FALSE(accepted.at("checkpoint").at("givesUp").is_null());
         EXPECT_EQ(Record(dir / "record").at("oldestFile"), "system.log");
         EXPECT_EQ(Again(dir, {"--strict", "--checkpoint", "record", "a"}).at("exitStatus"), 0);
       }},
      {"a rotation that takes as many files as it adds: history left said, no failure",
       [](const fs::path& dir) {
         RotatedAfterRecord(dir, [](const fs::path& a) {
           fs::remove(a / "System_1.log");
           fs::rename(a / "system.log", a / "System_2.log");
         });
       },
       {"--strict", "--checkpoint", "record", "a"}, 0,
       [&](const std::vector<Json>& chains, const fs::path& dir) {
         const Json& checkpoint = chains.at(0).at("checkpoint");
         EXPECT_EQ(checkpoint.at("historyLeft"), (Json{{"files", 1}, {"lines", 3}}));
         EXPECT_EQ(checkpoint.at("historyShrunk"), false);
         EXPECT_EQ(Record(dir / "record").at("oldestFile"), "System_2.log");
       }},
      {"--accept takes a reset device: 4 is still said, and the record is rewritten",
       [](const fs::path& dir) {
         DeviceRecorded(dir);
         LogChain chain;
         LogBuilder(chain).DataLines(2, "new ").Sign().WriteTo(dir / "a/system.log");
         fs::remove(dir / "a/System_1.log");
       },
       {"--accept", "--checkpoint", "record", "a"}, 4,
       [&](const std::vector<Json>& chains, const fs::path& dir) {
         const Json& checkpoint = chains.at(0).at("checkpoint");
         EXPECT_EQ(checkpoint.at("written"), true);
         EXPECT_FALSE(checkpoint.at("givesUp").is_null());
         EXPECT_EQ(Record(dir / "record").at("chainValue"), checkpoint.at("now").at("chainValue"));
       }},
      {"--accept with a read-only record", nullptr,
       {"--accept", "--checkpoint-read-only", "record", "a"}, 64, {}},
      {"--stale-after without a record", nullptr, {"--stale-after", "2", "a"}, 64, {}},
      {"a record that has not grown for --stale-after days fails --strict",
       RecordedAndEdited([](Json& record) { record["grew"] = "2020-01-01T00:00:00Z"; }),
       {"--strict", "--stale-after", "30", "--checkpoint", "record", "a"}, 5,
       [&](const std::vector<Json>& chains, const fs::path& dir) {
         EXPECT_EQ(chains.at(0).at("strict").at(0).at("reason"), "Stale");
         EXPECT_EQ(Record(dir / "record").at("grew"), "2020-01-01T00:00:00Z");
       }},
      {"a stale record without --strict: a warning, and the time it grew stays",
       RecordedAndEdited([](Json& record) { record["grew"] = "2020-01-01T00:00:00+02:00"; }),
       {"--stale-after", "30", "--checkpoint", "record", "a"}, 0,
       [&](const std::vector<Json>& chains, const fs::path& dir) {
         EXPECT_EQ(chains.at(0).at("checkpoint").at("stale"), true);
         EXPECT_EQ(Record(dir / "record").at("grew"), "2020-01-01T00:00:00+02:00");
       }},
      {"a version 1 record is read, and written as version 2",
       RecordedAndEdited([](Json& record) {
         for (const char* name : {"files", "lines", "oldestFile", "oldestLine",
                                  "oldestChainValue", "grew"})
           record.erase(name);
         record["version"] = 1;
       }),
       {"--checkpoint", "record", "a"}, 0,
       [&](const std::vector<Json>&, const fs::path& dir) {
         EXPECT_EQ(Record(dir / "record").at("version"), 2);
         EXPECT_EQ(Record(dir / "record").at("files"), 2);
         EXPECT_EQ(Record(dir / "record").at("lines"), 6);
       }},
      {"a newest file stripped of its signatures, longer than a signed block, fails --strict",
       [](const fs::path& dir) {
         LogChain chain;
         fs::create_directories(dir / "a");
         LogBuilder(chain).DataLines(2).Sign().DataLines(2).Sign().WriteTo(dir / "a/System_1.log");
         LogBuilder(chain).DataLines(3, "stripped ").WriteTo(dir / "a/system.log");
       },
       {"--strict", "a"}, 5,
       [&](const std::vector<Json>& chains, const fs::path&) {
         EXPECT_EQ(chains.at(0).at("longestSignedBlock"), 2);
         EXPECT_EQ(chains.at(0).at("strict").at(0).at("reason"), "UnsignedTail");
       }},
      {"the same within --max-unsigned passes",
       [](const fs::path& dir) {
         LogChain chain;
         fs::create_directories(dir / "a");
         LogBuilder(chain).DataLines(2).Sign().WriteTo(dir / "a/System_1.log");
         LogBuilder(chain).DataLines(3).WriteTo(dir / "a/system.log");
       },
       {"--strict", "--max-unsigned", "3", "a"}, 0, {}},
      {"system.log this user cannot read, with a record: incomplete, the record held, not lost",
       [](const fs::path& dir) {
         DeviceRecorded(dir);
         for (const char* name : {"", "record", "record.lock"})
           chown((dir / name).c_str(), testing::NobodyUid(), testing::NobodyGid());
         chmod((dir / "a/system.log").c_str(), 0);
       },
       {"--checkpoint", "record", "a"}, 6,
       [&](const std::vector<Json>& chains, const fs::path&) {
         EXPECT_EQ(chains.at(0).at("checkpoint").at("status"), "held");
         EXPECT_EQ(chains.at(0).at("checkpoint").at("written"), false);
       },
       nobody},
      {"a middle file this user cannot read: incomplete, the next file's break follows from it",
       [](const fs::path& dir) {
         NewestFirst(dir, 2);
         chmod((dir / "a/System_1.log.gz").c_str(), 0);
       },
       {"--details", "a"}, 6,
       [&](const std::vector<Json>& chains, const fs::path&) {
         EXPECT_EQ(chains.at(0).at("badFiles"), 0);
         EXPECT_EQ(chains.at(0).at("details").at(2).at("path"), "a/system.log");
         EXPECT_EQ(chains.at(0).at("details").at(2).at("breakFollows"), "a/System_1.log.gz");
       },
       nobody},
      {"system.log gone for a moment as the run reads it: opened once more", nullptr, {"a"}, 0, {},
       Failing("open", "a/system.log", ENOENT, 2)},
      {"system.log gone, with a record: incomplete, not lost", DeviceRecorded,
       {"--checkpoint", "record", "a"}, 6, {}, Failing("open", "a/system.log", ENOENT, 1, 0)},
      {"system.log moved away as the run opens it, with a record: incomplete, the record held",
       DeviceRecorded, {"--checkpoint", "record", "a"}, 6,
       [&](const std::vector<Json>& chains, const fs::path&) {
         EXPECT_EQ(chains.at(0).at("checkpoint").at("status"), "held");
         EXPECT_EQ(chains.at(0).at("totalFiles"), 2);
       },
       Before("open", "a/system.log", "mv a/system.log elsewhere")},
      {"a middle file moved away as the run opens it, the newest replaced: incomplete, not a break",
       [](const fs::path& dir) { NewestFirst(dir, 2); }, {"a"}, 6,
       [&](const std::vector<Json>& chains, const fs::path&) {
         EXPECT_EQ(chains.at(0).at("badFiles"), 0);
       },
       Before("open", "a/System_1.log.gz",
              "mv a/System_1.log.gz elsewhere && cp a/system.log new && mv new a/system.log")},
      {"newest-first numbering: the missing file is said before the file after it",
       [](const fs::path& dir) { NewestFirst(dir, 6, 4); },
       {"a"}, 2,
       [&](const std::vector<Json>& chains, const fs::path&) {
         EXPECT_EQ(About(chains.at(0).at("warnings"), "a/System_3.log.gz"), 1u);
         EXPECT_EQ(About(chains.at(0).at("warnings"), "a/System_6.log.gz"), 0u);
         EXPECT_EQ(chains.at(0).at("files").at(0).at("path"), "a/System_3.log.gz");
       }},
      {"a plain and a gzip'd copy of one file: verified once",
       [](const fs::path& dir) {
         Device(dir / "a");
         testing::WriteFile(dir / "a/System_1.log.gz",
                            testing::Gzip(testing::ReadFile(dir / "a/System_1.log")));
       },
       {"a"}, 0,
       [&](const std::vector<Json>& chains, const fs::path&) {
         EXPECT_EQ(chains.at(0).at("totalFiles"), 2);
         EXPECT_EQ(About(chains.at(0).at("warnings"), "a/System_1.log.gz"), 1u);
       }},
      {"a folder holding no log", [](const fs::path& dir) { fs::create_directory(dir / "a"); },
       {"a"}, 66, {}},
      {"a folder holding no log, with a record: the evidence is lost",
       [](const fs::path& dir) {
         DeviceRecorded(dir);
         fs::remove_all(dir / "a");
         fs::create_directory(dir / "a");
       },
       {"--checkpoint", "record", "a"}, 4, {}},
  };
  // clang-format on
  for (const Scenario& row : rows) {
    testing::TempDir dir;
    chmod(dir.path().c_str(), 0755);
    if (row.setup) {
      row.setup(dir.path());
    } else {
      Device(dir / "a");
    }
    std::vector<std::string> args = {"--each", "--json"};
    args.insert(args.end(), row.args.begin(), row.args.end());
    const auto ran =
        testing::Run(testing::InFolder(row.how, QVE_CLI_FILE, "verify", args, dir.path()));
    EXPECT_EQ(ran.exitCode, row.status) << row.name << "\n" << ran.out << ran.err;
    std::vector<Json> chains;
    std::istringstream lines(ran.out);
    for (std::string line; std::getline(lines, line);) chains.push_back(Json::parse(line));
    for (const Json& chain : chains) {
      EXPECT_TRUE(chain.contains("exitStatus")) << row.name;
    }
    if (row.check) {
      SCOPED_TRACE(row.name);
      row.check(chains, dir.path());
    }
    chmod((dir / "a/sub").c_str(), 0755);
  }
}

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
