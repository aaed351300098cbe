// SPDX-License-Identifier: Apache-2.0
// qvehelper verify as users run it: one row per case, with its verdicts, the
// paths it warns about, its JSON and its exit status, on chains of logs built
// line by line; what it says in words, in one table at the end.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>
#include <nlohmann/json.hpp>
#include <regex>
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
using testing::LogBuilder;
using testing::LogChain;

// One device's export: System_1.log, System_2.log and system.log, one chain,
// system.log ending in two unsigned lines (5-6).
void Export(const fs::path& folder) {
  fs::create_directories(folder);
  LogChain chain;
  LogBuilder(chain).DataLines(3, "one ").Sign().WriteTo(folder / "System_1.log");
  LogBuilder(chain).DataLines(2, "two ").Sign().WriteTo(folder / "System_2.log");
  LogBuilder(chain)
      .DataLines(3, "sys ")
      .Sign()
      .DataLines(2, "tail ")
      .WriteTo(folder / "system.log");
}

struct Row {
  const char* name;
  std::vector<std::string> args;
  int status;
  std::vector<std::string> out;  // parts it must hold, in order; none: nothing
  std::vector<std::string> err;  // parts it must hold, its warnings one part each; none: nothing
  std::function<void(const fs::path&)> setup = {};
  testing::Command how = {};
  std::function<void(const fs::path&)> after = {};  // checks the files left
  std::string json = {};                // values its JSON must hold, where it prints JSON
  std::vector<std::string> never = {};  // parts neither output may hold
};

std::string Text(const fs::path& path) {
  const Bytes bytes = testing::ReadFile(path);
  return std::string(bytes.begin(), bytes.end());
}

// "warning: PATH:" begins a line about PATH, and is no wording.
std::string Warning(const std::string& path) { return "warning: " + path + ":"; }

// What the page rows leave: `page` holding a page, or the old bytes, and no
// other file beside it.
std::function<void(const fs::path&)> Page(const char* page, bool written, mode_t mode = 0644) {
  return [=](const fs::path& dir) {
    const Bytes bytes = testing::ReadFile(dir / page);
    const std::string text(bytes.begin(), bytes.end());
    EXPECT_EQ(text.starts_with("<!DOCTYPE html>") && text.ends_with("</html>\n"), written)
        << text.size();
    if (!written) {
      EXPECT_EQ(text, "old");
    }
    struct stat status {};
    ASSERT_EQ(stat((dir / page).c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 07777, mode);
    EXPECT_EQ(testing::NamesIn(dir).size(), 3u) << "a, b and the page";
  };
}

// A page written, and holding `parts`.
std::function<void(const fs::path&)> PageHolds(std::vector<std::string> parts) {
  return [=](const fs::path& dir) {
    const Bytes bytes = testing::ReadFile(dir / "p.html");
    const std::string text(bytes.begin(), bytes.end());
    for (const std::string& part : parts) EXPECT_NE(text.find(part), std::string::npos) << part;
  };
}

std::vector<Row> Rows() {
  const std::string tail = Warning("a/system.log");
  const std::string ok = "ReportOk (0): 3 files, 0 bad\n";
  const std::string report = "; report ReportOk (0)\n";
  const testing::Command nobody{.asNobody = true};
  const auto tamper = [](const fs::path& dir) {
    Bytes log = testing::ReadFile(dir / "b/System_2.log");
    log[1] = 'W';  // "two 1" becomes "tWo 1"
    testing::WriteFile(dir / "b/System_2.log", log);
  };
  const auto forgeName = [](const fs::path& dir) {
    fs::create_directory(dir / "n");
    // A four-byte character is printed as it is.
    testing::WriteFile(dir / "n" / "System_1\nOK: x\x1b[m\xF0\x9F\x98\x80.log",
                       std::string("plain\n"));
  };
  const auto lock = [](const fs::path& dir) {
    chmod((dir / "a/System_2.log").c_str(), 0);
    fs::create_directory(dir / "a/locked");
    chmod((dir / "a/locked").c_str(), 0);
  };
  const auto renamedNotUtf8 = [](const fs::path& dir) {
    fs::rename(dir / "a/system.log", dir / "a/System_\xff.log");
  };
  const auto deep = [](const fs::path& dir) {
    fs::path folder = dir / "deep";
    for (int i = 0; i < 40; ++i) folder /= "d";
    fs::create_directories(folder);
    LogChain chain;
    LogBuilder(chain).Data("x").Sign().WriteTo(folder / "system.log");
  };
  const auto unseen = [](const fs::path& dir) {
    fs::create_directory(dir / "u");
    LogChain chain;
    LogBuilder(chain)
        .Data("a")
        .Data(std::string_view("b\0 forged", 9))
        .Sign()
        .Raw("\x1a forged\n")
        .WriteTo(dir / "u/system.log");
  };
  // An editor's UTF-8 mark on a signed log, and a log saved as UTF-16.
  const auto marks = [](const fs::path& dir) {
    fs::create_directory(dir / "m");
    LogChain chain;
    LogBuilder(chain).Data("\xEF\xBB\xBFx").Sign().WriteTo(dir / "m/System_1.log");
    testing::WriteFile(dir / "m/system.log", std::string("\xFF\xFEx\0\n\0", 6));
  };
  const auto oldPage = [](const fs::path& dir) {
    testing::WriteFile(dir / "p.html", std::string("old"));
    chmod((dir / "p.html").c_str(), 0640);
  };
  // The logs of a/ and b/ are alike byte for byte.
  const auto logKept = [](const fs::path& dir) {
    EXPECT_TRUE(testing::ReadFile(dir / "a/system.log") == testing::ReadFile(dir / "b/system.log"));
  };
  const auto fifos = [](const fs::path& dir) {
    for (const char* name : {"a/System_9.log", "a/notes"})
      ASSERT_EQ(mkfifo((dir / name).c_str(), 0644), 0);
  };
  // System_1.log ... System_11.log, signed in that order.
  const auto eleven = [](const fs::path& dir) {
    fs::create_directory(dir / "e");
    LogChain chain;
    for (int i = 1; i <= 11; ++i)
      LogBuilder(chain).Data("n").Sign().WriteTo(dir / "e" /
                                                 ("System_" + std::to_string(i) + ".log"));
  };
  const auto remove = [](const char* name) {
    return [=](const fs::path& dir) { fs::remove(dir / name); };
  };
  const auto copy = [](const char* from, const char* to) {
    return [=](const fs::path& dir) { fs::copy_file(dir / from, dir / to); };
  };
  const auto write = [](const char* name, std::string text) {
    return [=](const fs::path& dir) { testing::WriteFile(dir / name, text); };
  };
  // A checkpoint of a/ recorded first, then `change` made.
  const auto checkpointed = [](std::function<void(const fs::path&)> change) {
    return [=](const fs::path& dir) {
      const auto first =
          testing::InFolder({}, QVE_CLI_FILE, "verify",
                            {"-q", "--checkpoint-init", "--checkpoint", "cp", "a"}, dir.string());
      ASSERT_EQ(testing::Run(first).exitCode, 0);
      change(dir);
    };
  };
  const auto recorded = [](const char* name, const char* text) {
    return [=](const fs::path& dir) {
      const Bytes bytes = testing::ReadFile(dir / name);
      EXPECT_TRUE(std::string(bytes.begin(), bytes.end()).find(text) != std::string::npos) << name;
    };
  };
  const auto emptySignature = [](const fs::path& dir) {
    fs::create_directory(dir / "s");
    LogChain chain;
    LogBuilder(chain).Data("a").Sign().EmptySignature().WriteTo(dir / "s/system.log");
  };
  // NAME gzip'd as a rotation does it: NAME.gz holds it and NAME is gone;
  // `damage` may change the gzip data first.
  const auto gzipped = [](std::vector<std::string> names, std::function<void(Bytes&)> damage = {}) {
    return [=](const fs::path& dir) {
      for (const std::string& name : names) {
        Bytes gzip = testing::Gzip(testing::ReadFile(dir / name));
        if (damage) damage(gzip);
        testing::WriteFile(dir / (name + ".gz"), gzip);
        fs::remove(dir / name);
      }
    };
  };
  // g/system.log.gz, a chain of its own, and names the walk must not take.
  const auto gzipNames = [](const fs::path& dir) {
    fs::create_directory(dir / "g");
    LogChain chain;
    const Bytes gzip = testing::Gzip(LogBuilder(chain).Data("g").Sign().bytes());
    for (const char* name :
         {"system.log.gz", "System_3.log.gz.bak", "System_3.gz", "system.log.GZ"})
      testing::WriteFile(dir / "g" / name, gzip);
  };
  const testing::Command terminal{.errorToTerminal = true};
  // With standard error closed, the lock file would be the first file opened
  // and take the warnings.
  const auto lockEmpty = [](const fs::path& dir) { EXPECT_EQ(fs::file_size(dir / "cp.lock"), 0u); };
  // clang-format off
  return {
      {"one chain", {"a"}, 0, {ok}, {tail}},
      {"one chain on three threads", {"-j", "3", "a"}, 0, {ok}, {tail}},
      {"one tampered chain on two threads", {"-j", "2", "b"}, 2,
       {"FileInvalid System_2.log\n", "ReportSomeInvalid (2): 3 files, 1 bad\n"}, {Warning("b/system.log")},
       tamper},
      {"quiet", {"-q", "a"}, 0, {}, {}},
      {"quiet, failing", {"-q", "--each", "a", "b", "c"}, 2, {}, {"b/System_2.log: FileInvalid", "c: "}, tamper},
      {"quiet, unreadable: the break that follows is no line of its own", {"-q", "a"}, 6, {},
       {"a/System_2.log: ", "a/locked: "}, lock, nobody, {}, {}, {"a/system.log"}},
      {"quiet, history gone and a stale chain: said all the same", {"-q", "--stale-after", "30", "--checkpoint", "cp", "a"},
       0, {}, {Warning("cp"), Warning("cp")}, checkpointed([=](const fs::path& dir) {
         remove("a/System_1.log")(dir);
         nlohmann::json record = nlohmann::json::parse(Text(dir / "cp"));
         record["grew"] = "2020-01-01T00:00:00Z";
         testing::WriteFile(dir / "cp", record.dump());
       }), {}, {}, {}, {"notice"}},
      {"a folder of devices as one chain", {"."}, 2, {"ReportSomeInvalid (2)"},
       {"notice: . holds 2 folders", "warning: ", "warning: ", "warning: ", "warning: ", "warning: ", "warning: "}},
      {"a usage error", {"--bogus", "a"}, 64, {}, {"usage: qvehelper verify ", "--bogus", "see 'qvehelper help verify'"}},
      {"a typo", {"a", "typo.log"}, 66, {}, {"typo.log"}},
      {"the same folder twice", {"a", "./a"}, 0, {ok},
       {Warning("./a/System_1.log"), Warning("./a/System_2.log"), Warning("./a/system.log"), tail}},
      {"a file with its folder", {"a/system.log", "a"}, 0, {ok}, {Warning("a/system.log"), tail}},
      {"names repeat", {"a", "b"}, 2, {"FileChainBreak b/System_1.log\n", "ReportSomeInvalid (2): 6 files, 1 bad\n"},
       {tail, Warning("b/system.log"), tail, Warning("a/System_2.log"), Warning("a/System_1.log"),
        Warning("b/System_1.log")}},
      {"names repeat, by name", {"--order", "name", "a", "b"}, 2, {"FileChainBreak b/System_1.log\n"
       "FileChainBreak b/System_2.log\nFileChainBreak b/system.log\nReportSomeInvalid (2): 6 files, 3 bad\n"},
       {tail, Warning("b/system.log"), tail, Warning("a/System_2.log"), Warning("a/System_1.log"),
        Warning("b/System_1.log")}},
      {"each", {"--each", "-j", "2", "a", "b"}, 0, {"a: " + ok + "b: " + ok}, {tail, Warning("b/system.log")}},
      {"each worst", {"--each", "a", "b"}, 2,
       {"a: " + ok + "  FileInvalid System_2.log\nb: ReportSomeInvalid (2): 3 files, 1 bad\n"},
       {tail, Warning("b/system.log")}, tamper},
      {"each JSON", {"--each", "--json", "a", "b"}, 0, {}, {}, {}, {}, {},
       R"([{"path": "a", "exitStatus": 0, "status": "ReportOk", "result": "ReportOk"}, {"path": "b"}])"},
      {"each JSON, a chain not found", {"--each", "--json", "a", "caf\xc3\xa9"}, 66, {}, {"caf\xc3\xa9:"}, {}, {}, {},
       R"([{"path": "a", "exitStatus": 0}, {"path": "caf\u00e9", "exitStatus": 66, "status": "NoInput"}])"},
      {"JSON", {"--json", "--include-ok", "a"}, 0, {}, {}, {}, {}, {},
       R"({"files": [{"verdict": "FileOk"}, {"verdict": "FileOk"}, {"name": "system.log", "path": "a/system.log", "verdict": "FileOk",
           "verdictCode": 0, "unsignedLines": {"first": 5, "last": 6}}],
           "warnings": [{"path": "a/system.log", "unverified": false}], "checkpoint": null, "strict": null})"},
      {"a forged line", {"n"}, 1,
       {"FileUnsigned System_1\\nOK: x\\x1b[m\xF0\x9F\x98\x80.log\nReportUnsigned (1): 1 file, 0 bad\n"},
       {Warning("n/System_1\\nOK: x\\x1b[m\xF0\x9F\x98\x80.log")}, forgeName},
      {"a forged line in JSON", {"--json", "n"}, 1, {}, {}, forgeName, {}, {},
       R"({"files": [{"name": "System_1\nOK: x\u001b[m)" "\xF0\x9F\x98\x80" R"(.log"}]})"},
      {"unreadable", {"--details", "a"}, 6,
       {"  a/System_1.log: 1 block, 0 bad\nFileUnsigned System_2.log\n  a/System_2.log: 0 blocks, 0 bad\n"
        "FileChainBreak system.log\n  a/system.log: 2 blocks, 1 bad\n    BlockChainBreak lines 1-4: ",
        "\n    BlockUnsigned lines 5-6\nIncomplete (6): 3 files, 0 bad" + report},
       {Warning("a/System_2.log"), Warning("a/locked"), tail, Warning("a/system.log") + " FileChainBreak"},
       lock, nobody},
      {"not UTF-8", {"--include-ok", "a"}, 0,
       {"FileOk System_1.log\nFileOk System_2.log\nFileOk System_\\xff.log\n" + ok},
       {Warning("a/System_\\xff.log")}, renamedNotUtf8},
      {"named not UTF-8", {"--include-ok", "a/System_1.log", "a/System_2.log", "a/System_\xff.log"}, 0,
       {"FileOk System_1.log\nFileOk System_2.log\nFileOk System_\\xff.log\n" + ok},
       {Warning("a/System_\\xff.log")}, renamedNotUtf8},
      {"a backslash in a name is not a byte's escape", {"--include-ok", "a"}, 0, {"FileOk System_1\\\\xff.log\n"},
       {tail}, [](const fs::path& dir) { fs::rename(dir / "a/System_1.log", dir / "a/System_1\\xff.log"); }},
      {"nor in JSON", {"--json", "--include-ok", "a"}, 0, {}, {},
       [](const fs::path& dir) { fs::rename(dir / "a/System_1.log", dir / "a/System_1\\xff.log"); }, {}, {},
       R"({"files": [{"name": "System_1\\\\xff.log"}]})"},
      {"named not UTF-8 in JSON", {"--json", "--include-ok", "a/System_\xff.log"}, 0, {}, {}, renamedNotUtf8, {}, {},
       R"({"files": [{"name": "System_\\xff.log", "path": "a/System_\\xff.log"}]})"},
      {"a FIFO named in a file's place", {"a/System_1.log", "a/System_2.log", "a/system.log"}, 6,
       {"FileUnsigned System_2.log\nFileChainBreak system.log\nIncomplete (6): 3 files, 0 bad" + report},
       {Warning("a/System_2.log"), tail, Warning("a/system.log") + " FileChainBreak"},
       [](const fs::path& dir) {
         fs::remove(dir / "a/System_2.log");
         ASSERT_EQ(mkfifo((dir / "a/System_2.log").c_str(), 0644), 0);
       }},
      {"FIFOs", {"a"}, 6, {"FileUnsigned System_9.log\nIncomplete (6): 4 files, 0 bad" + report}, {Warning("a/System_9.log"), tail}, fifos},
      {"deeper than the open-file limit", {"deep"}, 0, {"ReportOk (0): 1 file, 0 bad\n"}, {}, deep,
       {.openFileLimit = 12}},
      {"unseen bytes", {"u"}, 0, {"ReportOk (0): 1 file, 0 bad\n"},
       {Warning("u/system.log") + " line 2:", Warning("u/system.log") + " line 4:"}, unseen},
      {"byte-order marks", {"m"}, 6, {"FileUnsigned system.log\nIncomplete (6): 2 files, 0 bad" + report},
       {Warning("m/System_1.log"), Warning("m/system.log"), Warning("m/system.log")}, marks},
      {"eleven files by name", {"--order", "name", "e"}, 2,
       {"FileChainBreak System_10.log\nFileChainBreak System_2.log\nReportSomeInvalid (2): 11 files, 2 bad\n"},
       {Warning("e/System_10.log")}, eleven},
      {"eleven files by links", {"e"}, 0, {"ReportOk (0): 11 files, 0 bad\n"}, {}, eleven},
      {"a middle file missing", {"--order", "links", "a"}, 2,
       {"FileChainBreak system.log\nReportSomeInvalid (2): 2 files, 1 bad\n"}, {tail, Warning("a/system.log")},
       remove("a/System_2.log")},
      {"a fork", {"--order", "links", "a"}, 2, {"FileChainBreak System_2x.log\nReportSomeInvalid (2): 4 files, 1 bad\n"},
       {tail, Warning("a/System_2.log"), Warning("a/System_2x.log")}, copy("a/System_2.log", "a/System_2x.log")},
      {"a new checkpoint", {"--checkpoint-init", "--checkpoint", "cp", "a"}, 0, {ok, "Checkpoint new", "cp\n"},
       {tail}, {}, {}, recorded("cp", "\"file\": \"system.log\",\n  \"line\": 4,")},
      {"a checkpoint holds", {"--checkpoint", "cp", "a"}, 0, {ok, "Checkpoint extended", "cp\n"}, {tail},
       checkpointed([](const fs::path&) {})},
      {"a checkpoint lost", {"--checkpoint", "cp", "a"}, 4,
       {"CheckpointLost (4): 2 files, 0 bad" + report, "CheckpointLost (4)", "cp"}, {},
       checkpointed(remove("a/system.log")), {}, recorded("cp", "\"line\": 4,")},
      {"a checkpoint with the oldest file gone", {"--checkpoint", "cp", "a"}, 0,
       {"ReportOk (0): 2 files, 0 bad\nCheckpoint extended", "cp\n"}, {tail, "notice: cp:", "warning: cp:"},
       checkpointed(remove("a/System_1.log"))},
      {"the same, accepted: what is given up, no warning to --accept", {"--accept", "--checkpoint", "cp", "a"}, 0,
       {"Checkpoint extended"}, {tail, "notice: cp: --accept"}, checkpointed(remove("a/System_1.log"))},
      {"a checkpoint lost, accepted", {"--accept", "--checkpoint", "cp", "a"}, 4, {"CheckpointLost (4)"},
       {"notice: cp: --accept"}, checkpointed(remove("a/system.log")), {}, {}, {}, {"cp is kept"}},
      {"a checkpoint in JSON", {"--json", "--strict", "--checkpoint-init", "--checkpoint", "cp", "a"}, 0, {}, {},
       {}, {}, {}, R"({"order": "links", "checkpoint": {"file": "cp", "status": "new", "readOnly": false,
       "written": true, "startsLater": false, "recorded": null, "held": null, "now": {"file": "system.log",
       "line": 4}}, "strict": []})"},
      {"one checkpoint for --each and one PATH", {"--each", "--checkpoint-init", "--checkpoint", "cp", "a"}, 0,
       {"a: " + ok + "  Checkpoint new", "cp\n"}, {tail}, {}, {},
       recorded("cp", "\"format\": \"qvehelper checkpoint\"")},
      {"a checkpoint per PATH", {"--each", "--checkpoint-init", "--checkpoint-dir", "d", "b/", "./a"}, 0,
       {"b/: " + ok + "  Checkpoint new", "d/b.checkpoint\n./a: " + ok + "  Checkpoint new", "d/a.checkpoint\n"},
       {Warning("b/system.log"), Warning("./a/system.log")},
       [](const fs::path& dir) { fs::create_directory(dir / "d"); }, {},
       recorded("d/a.checkpoint", "\"format\": \"qvehelper checkpoint\"")},
      {"a damaged checkpoint", {"--checkpoint", "cp", "a"}, 65, {}, {"cp"}, write("cp", "{"), {}, recorded("cp", "{")},
      {"a checkpoint of another version", {"--checkpoint", "cp", "a"}, 65, {}, {"cp"},
       write("cp", R"({"format": "qvehelper checkpoint", "version": 3})"), {}, recorded("cp", "\"version\": 3")},
      {"a checkpoint for another chain", {"--checkpoint", "cp", "a"}, 65, {}, {"cp"},
       write("cp", R"({"format": "qvehelper checkpoint", "version": 1, "verificationKey": "00"})"), {},
       recorded("cp", "\"00\"")},
      {"a checkpoint naming a log", {"--checkpoint", "a/system.log", "a"}, 64, {}, {"a/system.log"}, {}, {}, logKept},
      {"one checkpoint for two chains", {"--each", "--checkpoint", "cp", "a", "b"}, 64, {}, {"--checkpoint"}},
      {"a checkpoint folder without --each", {"--checkpoint-dir", "d", "a"}, 64, {}, {"--checkpoint-dir"}},
      {"strict, passing", {"--strict", "a"}, 0, {ok}, {tail}},
      {"strict, stripped", {"--strict", "--order", "name", "a"}, 5,
       {"FileUnsigned System_0.log\nStrictPolicyFailed (5): 4 files, 0 bad" + report + "StrictPolicyFailed (5)",
        "a/System_0.log: FileUnsigned"},
       {Warning("a/System_0.log"), tail}, write("a/System_0.log", "plain\n")},
      {"strict, unsigned lines", {"--strict", "a"}, 5,
       {"StrictPolicyFailed (5): 3 files, 0 bad" + report + "StrictPolicyFailed (5)", "a/System_1.log: line 5"},
       {Warning("a/System_1.log"), tail}, [](const fs::path& dir) {
         std::ofstream(dir / "a/System_1.log", std::ios::app) << "late\n";
       }},
      {"strict, an empty signature line", {"--strict", "s"}, 5,
       {"StrictPolicyFailed (5): 1 file, 0 bad" + report + "StrictPolicyFailed (5)", "s/system.log: line 3"}, {},
       emptySignature},
      {"strict, unseen bytes", {"--strict", "u"}, 5,
       {"StrictPolicyFailed (5): 1 file, 0 bad" + report + "StrictPolicyFailed (5)", "u/system.log: line 2",
        "u/system.log: line 4"},
       {Warning("u/system.log") + " line 2:", Warning("u/system.log") + " line 4:"}, unseen},
      {"names but for case", {"--strict", "a"}, 5,
       {"StrictPolicyFailed (5): 3 files, 0 bad" + report + "StrictPolicyFailed (5)", "a/S", "a/S"},
       {Warning("a/SYSTEM.LOG"), Warning("a/System_3.LOG"), tail},
       [=](const fs::path& dir) {
         copy("a/system.log", "a/SYSTEM.LOG")(dir);
         copy("a/System_2.log", "a/System_3.LOG")(dir);
       }},
      {"gzip'd rotations", {"--include-ok", "a"}, 0,
       {"FileOk System_1.log.gz\nFileOk System_2.log.gz\nFileOk system.log\n" + ok}, {tail},
       gzipped({"a/System_1.log", "a/System_2.log"})},
      {"a gzip'd rotation named", {"--include-ok", "a/System_2.log", "a/System_1.log.gz", "a/system.log"}, 0,
       {"FileOk System_1.log.gz\nFileOk System_2.log\nFileOk system.log\n" + ok}, {tail}, gzipped({"a/System_1.log"})},
      {"a gzip'd rotation cut short", {"a"}, 6,
       {"FileUnsigned System_2.log.gz\nFileChainBreak system.log\nIncomplete (6): 3 files, 0 bad" + report},
       {Warning("a/System_2.log.gz"), tail, Warning("a/system.log") + " FileChainBreak"},
       gzipped({"a/System_2.log"}, [](Bytes& gzip) { gzip.pop_back(); })},
      {"a damaged gzip'd rotation", {"--json", "a"}, 6, {}, {},
       gzipped({"a/System_2.log"}, [](Bytes& gzip) { gzip[gzip.size() - 8] ^= 1; }), {}, {},
       R"({"files": [{"path": "a/System_2.log.gz", "verdict": "FileUnsigned"},
           {"path": "a/system.log", "verdict": "FileChainBreak"}],
           "warnings": [{"path": "a/System_2.log.gz", "unverified": true}]})"},
      {"names of gzip'd logs", {"g"}, 6, {"Incomplete (6): 1 file, 0 bad" + report}, {Warning("g/system.log.GZ")},
       gzipNames},
      {"progress", {"--progress-delay=0", "--each", "a", "b"}, 0, {"a: " + ok + "b: " + ok},
       {"\r", tail, Warning("b/system.log")}, {}, terminal},
      {"quiet, no progress", {"--progress-delay=0", "-q", "--each", "a", "b"}, 0, {}, {}, {}, terminal},
      {"JSON, no progress", {"--progress-delay=0", "--json", "--each", "a", "b"}, 0, {}, {}, {}, terminal, {},
       R"([{"path": "a"}, {"path": "b"}])"},
      {"a page", {"--html", "p.html", "a"}, 0, {ok}, {tail}, {}, {}, Page("p.html", true)},
      {"a page replaced", {"--html", "p.html", "a"}, 0, {ok}, {tail}, oldPage, {}, Page("p.html", true, 0640)},
      {"a page when nothing is verified", {"--html", "p.html", "c"}, 66, {}, {"c: "}, oldPage, {},
       PageHolds({"NoInput (66)", "c: "})},
      {"a page for every PATH", {"--each", "--html", "p.html", "a", "c"}, 66, {"a: " + ok, "c: "}, {tail, "c: "}, {}, {},
       PageHolds({"Chain 2 of 2: c", "NoInput (66)"})},
      {"a page naming a log", {"--html", "a/system.log", "a"}, 64, {}, {"a/system.log"}, {}, {}, logKept},
      {"a page by a log's name, not among the PATHs", {"--html", "System_9.log.gz", "a"}, 64, {}, {"System_9.log.gz"},
       write("System_9.log.gz", "kept"), {}, recorded("System_9.log.gz", "kept")},
      {"a page for a chain with two reasons: on one line", {"--each", "--html", "p.html", "--checkpoint-dir", "d", "e"},
       66, {"e: "}, {"d/e.checkpoint"}, [](const fs::path& dir) { fs::create_directories(dir / "d"); fs::create_directories(dir / "e"); },
       {}, [](const fs::path& dir) { EXPECT_EQ(Text(dir / "p.html").find("\\n"), std::string::npos); }},
      {"a page naming a PATH", {"--html", "b/system.log", "a", "b/system.log"}, 64, {}, {"b/system.log"}, {}, {},
       logKept},
      {"a page without a name", {"--html", "", "a"}, 64, {}, {"--html"}},
      {"a page to standard output", {"--html", "-", "a"}, 0, {"<!DOCTYPE html>", "</html>\n"}, {tail, ok}},
      {"a page and JSON to standard output", {"--html", "-", "--json", "a"}, 64, {}, {"--json"}},
      {"standard input as a PATH", {"-"}, 64, {}, {"PATH"}},
      {"a page in no folder", {"--html", "no/p.html", "a"}, 73, {}, {"no/p.html"}},
      {"a page nobody may write", {"--html", "p.html", "a"}, 73, {}, {"\n"}, {}, nobody},
      {"a page too large", {"--html", "p.html", "a"}, 74, {ok}, {tail, "p.html"}, oldPage, {.fileSizeLimit = 2000},
       Page("p.html", false, 0640)},
      {"standard error closed", {"--checkpoint-init", "--checkpoint", "cp", "a"}, 0, {ok}, {}, {},
       {.errorClosed = true}, lockEmpty},
  };
  // clang-format on
}

// Runs `row` beside two exports, a/ and b/, checks what it leaves and
// returns what it printed.
testing::CommandResult RunRow(const Row& row) {
  testing::TempDir dir;
  chmod(dir.path().c_str(), 0755);
  Export(dir / "a");
  Export(dir / "b");
  if (row.setup) row.setup(dir.path());
  const auto ran =
      testing::Run(testing::InFolder(row.how, QVE_CLI_FILE, "verify", row.args, dir.path()));
  if (row.after) row.after(dir.path());
  return ran;
}

std::size_t Count(const std::string& text, const std::string& part) {
  std::size_t count = 0;
  for (auto at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++count;
  return count;
}

TEST(VerifyCommand, Table) {
  for (const Row& row : Rows()) {
    const testing::CommandResult ran = RunRow(row);
    EXPECT_EQ(ran.exitCode, row.status) << row.name << "\n" << ran.out << ran.err;
    if (!row.json.empty()) {
      // One object, or one per line.
      nlohmann::json printed = nlohmann::json::parse(ran.out, nullptr, false);
      if (printed.is_discarded()) {
        printed = nlohmann::json::array();
        std::istringstream lines(ran.out);
        for (std::string line; std::getline(lines, line);)
          printed.push_back(nlohmann::json::parse(line));
      }
      // Text goes out as UTF-8, as the paths are; only controls are escaped.
      const bool escaped = std::regex_search(ran.out, std::regex(R"(\\u(?!00[01]))"));
      EXPECT_FALSE(escaped) << row.name << "\n" << ran.out;
      const auto report = printed.flatten();
      const auto expected = nlohmann::json::parse(row.json).flatten();
      for (const auto& [pointer, value] : expected.items()) {
        EXPECT_TRUE(report.contains(pointer) && report[pointer] == value)
            << row.name << ": " << pointer << "\n"
            << ran.out;
      }
    } else {
      std::size_t at = 0;
      for (const std::string& part : row.out) {
        at = ran.out.find(part, at);
        EXPECT_NE(at, std::string::npos) << row.name << ": " << part << "\n" << ran.out;
      }
      if (row.out.empty()) {
        EXPECT_EQ(ran.out, "") << row.name;
      }
    }
    std::size_t warnings = 0;
    for (const std::string& part : row.err) {
      EXPECT_NE(ran.err.find(part), std::string::npos) << row.name << ": " << part << "\n"
                                                       << ran.err;
      warnings += part.starts_with("warning: ");
    }
    EXPECT_EQ(Count(ran.err, "warning: "), warnings) << row.name << "\n" << ran.err;
    if (row.err.empty()) {
      EXPECT_EQ(ran.err, "") << row.name;
    }
    for (const std::string& part : row.never)
      EXPECT_EQ((ran.out + ran.err).find(part), std::string::npos) << row.name << ": " << part;
  }
}

// The one place that pins what verify says: a row per distinct message (a
// system's reason or a kind of file in place of another, not again), by the
// name of the row above that makes it; where a message holds a digest or a
// time, the text on either side.
TEST(VerifyCommand, Wording) {
  const std::string say = "qvehelper verify: ";
  // clang-format off
  const std::pair<const char*, std::string> messages[] = {
      {"one chain", "warning: a/system.log: lines 5-6 are not signed\n"},
      {"a typo", say + "typo.log: no such file or directory\n"},
      {"quiet, failing", say + "b/System_2.log: FileInvalid\n"},
      {"a folder of devices as one chain", "notice: . holds 2 folders with logs of their own, verified here as one chain; --each verifies each PATH as a chain of its own\n"},
      {"a file with its folder", "warning: a/system.log: the same file as a/system.log; verified once\n"},
      {"unreadable", "warning: a/System_2.log: cannot be read (permission denied); FileUnsigned\n"},
      {"unreadable", "warning: a/locked: skipped: permission denied\n"},
      {"unreadable", "warning: a/system.log: FileChainBreak follows from a/System_2.log, which cannot be read\n"},
      {"unreadable", "    BlockChainBreak lines 1-4: follows from a/System_2.log, which cannot be read\n"},
      {"FIFOs", "warning: a/System_9.log: cannot be read (a FIFO, not a regular file); FileUnsigned\n"},
      {"unseen bytes", "warning: u/system.log: line 2: bytes after a NUL are not signed\n"},
      {"unseen bytes", "warning: u/system.log: line 4: data after an end-of-input byte (0x1A) is not read\n"},
      {"byte-order marks", "warning: m/System_1.log: starts with a UTF-8 byte-order mark (EF BB BF), which is read as part of line 1: an editor may have added it\n"},
      {"byte-order marks", "warning: m/system.log: is UTF-16 text (byte-order mark FF FE, little-endian), not the bytes of a signed log: it was not verified as written\n"},
      {"eleven files by name", "warning: e/System_10.log: name order puts it before System_2.log, link order after it: in link order the run has 2 chain breaks fewer\n"},
      {"a middle file missing", "warning: a/system.log: its first block links to "},
      {"a middle file missing", ", which no file of the run ends in: a file before it is missing or was changed; it follows a/System_1.log by the order of names\n"},
      {"a fork", "warning: a/System_2.log: a/System_2.log and a/System_2x.log continue the same block (chain value "},
      {"a fork", "): a file was replayed or rewritten\n"},
      {"a fork", "warning: a/System_2x.log: the links join it to no file before it: it follows a/system.log by the order of names\n"},
      {"a new checkpoint", "Checkpoint new: system.log line 4 (id 0), written to cp\n"},
      {"a checkpoint holds", "Checkpoint extended: system.log line 4 (id 0), nothing newer; written to cp\n"},
      {"a checkpoint lost", "CheckpointLost (4): system.log line 4 (id 0), recorded "},
      {"a checkpoint lost", ", is no longer in the chain: what was verified before has been removed or rolled back; cp is kept\n"},
      {"a checkpoint with the oldest file gone", "notice: cp: the run starts later than the recorded one: 1 file (4 lines) of the recorded history left its old end\n"},
      {"a damaged checkpoint", say + "checkpoint cp is damaged: not a JSON object; it is left as it is\n"},
      {"a checkpoint of another version", say + "checkpoint cp is of version 3, which is not supported (this tool reads versions 1 and 2); it is left as it is\n"},
      {"a checkpoint for another chain", say + "checkpoint cp is for another chain: it was recorded under the verification key 00, and this program verifies with "},
      {"a checkpoint naming a log", say + "--checkpoint a/system.log is the same file as a/system.log\n"},
      {"one checkpoint for two chains", say + "--checkpoint keeps the record of one chain; with --each and several PATHs, --checkpoint-dir keeps one for each\n"},
      {"strict, stripped", "StrictPolicyFailed (5): 1 reason\n"},
      {"strict, stripped", "  a/System_0.log: FileUnsigned in a chain with signed files\n"},
      {"strict, unsigned lines", "  a/System_1.log: line 5 not signed, and not at the end of the newest file\n"},
      {"strict, an empty signature line", "  s/system.log: line 3: an empty signature line\n"},
      {"strict, unseen bytes", "StrictPolicyFailed (5): 2 reasons\n  u/system.log: line 2: bytes after a NUL\n  u/system.log: line 4: bytes after an end-of-input byte (0x1A)\n"},
      {"names but for case", "warning: a/SYSTEM.LOG: not verified: the name differs from system.log in case\n"},
      {"names but for case", "warning: a/System_3.LOG: not verified: the name differs from System_*.log in case\n"},
      {"a gzip'd rotation cut short", "warning: a/System_2.log.gz: cannot be read (the gzip data is cut short); FileUnsigned\n"},
      {"progress", "\r0 of 2 chains done"},
      {"a page without a name", say + "--html must not be empty\n"},
      {"a page and JSON to standard output", say + "the page and --json cannot both go to standard output\n"},
      {"standard input as a PATH", say + "PATH cannot be standard input (-); ./- names a file called -\n"},
      {"a page in no folder", say + "the folder no of --html no/p.html does not exist\n"},
      {"a page nobody may write", say + "cannot create a file in .: permission denied\n"},
      {"a page too large", say + "cannot write --html p.html: file too large\n"},
  };
  // clang-format on
  const std::vector<Row> rows = Rows();
  for (const auto& [name, text] : messages) {
    const auto row = std::find_if(rows.begin(), rows.end(),
                                  [&](const Row& each) { return std::string(each.name) == name; });
    ASSERT_NE(row, rows.end()) << name;
    const testing::CommandResult ran = RunRow(*row);
    EXPECT_NE((ran.out + ran.err).find(text), std::string::npos) << name << ":\n"
                                                                 << ran.out << ran.err;
  }
}

}  // namespace
}  // namespace qve
