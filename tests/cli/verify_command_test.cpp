// SPDX-License-Identifier: Apache-2.0
// qvehelper verify as users run it: one row per case, with what it prints and
// its exit status, on chains of logs built line by line.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <string>

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
  std::string out;  // patterns; the whole text must match
  std::string err;
  std::function<void(const fs::path&)> setup = {};
  testing::Command how = {};
  std::function<void(const fs::path&)> after = {};  // checks the files left
};

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

TEST(VerifyCommand, Table) {
  const std::string tail = "warning: a/system.log: lines 5-6 are not signed\n";
  const std::string ok = "ReportOk \\(0\\): 3 files, 0 bad\n";
  const std::string strictOk =
      "StrictPolicyFailed \\(5\\): 3 files, 0 bad; report ReportOk \\(0\\)\n";
  const std::string any = "[\\s\\S]*";
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
  const std::string lost =
      "CheckpointLost \\(4\\): system.log line 4 \\(id 0\\), recorded \\S+, is no longer in the "
      "chain: "
      "what was verified before has been removed or rolled back; cp is kept\n";
  const testing::Command terminal{.errorToTerminal = true};
  const std::string line = "(\r[0-2] of 2 chains done *)+\r {18}\r";
  // clang-format off
  const Row rows[] = {
      {"one chain", {"a"}, 0, ok, tail},
      {"quiet", {"-q", "a"}, 0, "", ""},
      {"a typo", {"a", "typo.log"}, 66, "", ".*verify: typo\\.log: no such file or directory\n"},
      {"the same folder twice", {"a", "./a"}, 0, ok,
       "(warning: \\./a/\\S+: the same file as a/\\S+; verified once\n){3}" + tail},
      {"a file with its folder", {"a/system.log", "a"}, 0, ok,
       "warning: a/system.log: the same file as a/system.log; verified once\n" + tail},
      {"names repeat", {"a", "b"}, 2, "FileChainBreak b/System_1.log\nReportSomeInvalid \\(2\\): 6 files, 1 bad\n",
       any},
      {"names repeat, by name", {"--order", "name", "a", "b"}, 2, "FileChainBreak b/System_1.log\n"
       "FileChainBreak b/System_2.log\nFileChainBreak b/system.log\nReportSomeInvalid \\(2\\): 6 files, 3 bad\n", any},
      {"each", {"--each", "-j", "2", "a", "b"}, 0, "a: " + ok + "b: " + ok, tail + "warning: b/.*\n"},
      {"each worst", {"--each", "a", "b"}, 2,
       "a: " + ok + "  FileInvalid System_2.log\nb: ReportSomeInvalid \\(2\\): 3 files, 1 bad\n", any, tamper},
      {"each JSON", {"--each", "--json", "a", "b"}, 0,
       "\\{\"path\":\"a\",\"exitStatus\":0,\"status\":\"ReportOk\",\"result\":\"ReportOk\".*\\}\n"
       "\\{\"path\":\"b\",.*\\}\n", ""},
      {"JSON", {"--json", "--include-ok", "a"}, 0,
       any + "\"name\": \"system.log\",\\s*\"path\": \"a/system.log\",\\s*\"verdict\": \"FileOk\",\\s*"
       "\"verdictCode\": 0,\\s*\"unsignedLines\": \\{\\s*\"first\": 5,\\s*\"last\": 6\\s*\\}" + any +
       "\"warnings\": \\[\\s*\\{\\s*\"path\": \"a/system.log\",\\s*\"message\": \"lines 5-6 are not "
       "signed\",\\s*\"unverified\": false\\s*\\}\\s*\\],\\s*\"checkpoint\": null,\\s*\"strict\": null\\s*\\}\n", ""},
      {"a forged line", {"n"}, 1,
       "FileUnsigned System_1\\\\nOK: x\\\\x1b\\[m\xF0\x9F\x98\x80\\.log\nReportUnsigned \\(1\\): 1 file, 0 bad\n",
       "warning: n/System_1\\\\nOK: x\\\\x1b\\[m\xF0\x9F\x98\x80\\.log: line 1 is not signed\n", forgeName},
      {"a forged line in JSON", {"--json", "n"}, 1,
       any + "\"name\": \"System_1\\\\nOK: x\\\\u001b\\[m\xF0\x9F\x98\x80\\.log\"" + any, "", forgeName},
      {"unreadable", {"--details", "a"}, 2,
       "  a/System_1.log: 1 block, 0 bad\nFileUnsigned System_2.log\n  a/System_2.log: 0 blocks, 0 bad\n"
       "FileChainBreak system.log\n  a/system.log: 2 blocks, 1 bad\n"
       "    BlockChainBreak lines 1-4: follows from a/System_2.log, which cannot be read\n"
       "    BlockUnsigned lines 5-6\nReportSomeInvalid \\(2\\): 3 files, 1 bad\n",
       // In the order the folder lists them.
       "(warning: a/System_2.log: cannot be read \\(permission denied\\); FileUnsigned\n|"
       "warning: a/locked: skipped: permission denied\n){2}" + tail +
       "warning: a/system.log: FileChainBreak follows from a/System_2.log, which cannot be read\n", lock, nobody},
      {"not UTF-8", {"--include-ok", "a"}, 0,
       "FileOk System_1.log\nFileOk System_2.log\nFileOk System_\\\\xff\\.log\n" + ok,
       "warning: a/System_\\\\xff\\.log: lines 5-6 are not signed\n", renamedNotUtf8},
      {"named not UTF-8", {"--include-ok", "a/System_1.log", "a/System_2.log", "a/System_\xff.log"}, 0,
       "FileOk System_1.log\nFileOk System_2.log\nFileOk System_\\\\xff\\.log\n" + ok,
       "warning: a/System_\\\\xff\\.log: lines 5-6 are not signed\n", renamedNotUtf8},
      {"FIFOs", {"a"}, 6, "Incomplete \\(6\\): 3 files, 0 bad; report ReportOk \\(0\\)\n",
       "warning: a/System_9.log: skipped: a FIFO, not a regular file\n" + tail, fifos},
      {"deeper than the open-file limit", {"deep"}, 0, "ReportOk \\(0\\): 1 file, 0 bad\n", "", deep,
       {.openFileLimit = 12}},
      {"unseen bytes", {"u"}, 0, "ReportOk \\(0\\): 1 file, 0 bad\n",
       "warning: u/system.log: line 2: bytes after a NUL are not signed\n"
       "warning: u/system.log: line 4: data after an end-of-input byte \\(0x1A\\) is not read\n", unseen},
      {"byte-order marks", {"m"}, 6,
       "FileUnsigned system.log\nIncomplete \\(6\\): 2 files, 0 bad; report ReportOk \\(0\\)\n",
       "warning: m/System_1.log: starts with a UTF-8 byte-order mark" + any +
       "warning: m/system.log: is UTF-16 text" + any, marks},
      {"eleven files by name", {"--order", "name", "e"}, 2,
       "FileChainBreak System_10.log\nFileChainBreak System_2.log\nReportSomeInvalid \\(2\\): 11 files, 2 bad\n",
       "warning: e/System_10.log: name order puts it before System_2.log, link order after it: "
       "in link order the run has 2 chain breaks fewer\n", eleven},
      {"eleven files by links", {"e"}, 0, "ReportOk \\(0\\): 11 files, 0 bad\n", "", eleven},
      {"a middle file missing", {"--order", "links", "a"}, 2,
       "FileChainBreak system.log\nReportSomeInvalid \\(2\\): 2 files, 1 bad\n",
       tail + "warning: a/system.log: its first block links to [0-9a-f]{64}, which no file of the run "
       "ends in: a file before it is missing or was changed; it follows a/System_1.log by the order of names\n",
       remove("a/System_2.log")},
      {"a fork", {"--order", "links", "a"}, 2,
       "FileChainBreak System_2x.log\nReportSomeInvalid \\(2\\): 4 files, 1 bad\n",
       tail + "warning: a/System_2.log: a/System_2.log and a/System_2x.log continue the same block "
       "\\(chain value [0-9a-f]{64}\\): a file was replayed or rewritten\n"
       "warning: a/System_2x.log: the links join it to no file before it: it follows a/system.log by the "
       "order of names\n",
       copy("a/System_2.log", "a/System_2x.log")},
      {"a new checkpoint", {"--checkpoint-init", "--checkpoint", "cp", "a"}, 0,
       ok + "Checkpoint new: system.log line 4 \\(id 0\\), written to cp\n", tail, {}, {},
       recorded("cp", "\"file\": \"system.log\",\n  \"line\": 4,")},
      {"a checkpoint holds", {"--checkpoint", "cp", "a"}, 0,
       ok + "Checkpoint extended: system.log line 4 \\(id 0\\), nothing newer; written to cp\n", tail,
       checkpointed([](const fs::path&) {})},
      {"a checkpoint lost", {"--checkpoint", "cp", "a"}, 4,
       "CheckpointLost \\(4\\): 2 files, 0 bad; report ReportOk \\(0\\)\n" + lost, "", checkpointed(remove("a/system.log")),
       {}, recorded("cp", "\"line\": 4,")},
      {"a checkpoint with the oldest file gone", {"--checkpoint", "cp", "a"}, 0,
       "ReportOk \\(0\\): 2 files, 0 bad\nCheckpoint extended: .*, nothing newer; written to cp\n",
       tail + "notice: cp: the run starts later than the recorded one: the oldest files are gone\n",
       checkpointed(remove("a/System_1.log"))},
      {"a checkpoint in JSON", {"--json", "--strict", "--checkpoint-init", "--checkpoint", "cp", "a"}, 0,
       any + "\"order\": \"links\"" + any + "\"checkpoint\": \\{\\s*\"file\": \"cp\",\\s*\"status\": "
       "\"new\",\\s*\"readOnly\": false,\\s*\"written\": true,\\s*\"startsLater\": false,\\s*\"recorded\": null,"
       "\\s*\"held\": null,\\s*\"now\": "
       "\\{\\s*\"file\": \"system.log\",\\s*\"line\": 4," + any + "\"strict\": \\[\\]\\s*\\}\n", ""},
      {"one checkpoint for --each and one PATH", {"--each", "--checkpoint-init", "--checkpoint", "cp", "a"}, 0,
       "a: " + ok + "  Checkpoint new: .*, written to cp\n", any, {}, {},
       recorded("cp", "\"format\": \"qvehelper checkpoint\"")},
      {"a checkpoint per PATH", {"--each", "--checkpoint-init", "--checkpoint-dir", "d", "b/", "./a"}, 0,
       "b/: " + ok + "  Checkpoint new: system.log line 4 \\(id 0\\), written to d/b.checkpoint\n"
       "\\./a: " + ok + "  Checkpoint new: .*, written to d/a.checkpoint\n", any,
       [](const fs::path& dir) { fs::create_directory(dir / "d"); }, {},
       recorded("d/a.checkpoint", "\"format\": \"qvehelper checkpoint\"")},
      {"a damaged checkpoint", {"--checkpoint", "cp", "a"}, 65, "",
       ".*verify: checkpoint cp is damaged: not a JSON object; it is left as it is\n", write("cp", "{"), {},
       recorded("cp", "{")},
      {"a checkpoint of another version", {"--checkpoint", "cp", "a"}, 65, "",
       ".*verify: checkpoint cp is of version 2, which is not supported \\(this tool reads version 1\\); "
       "it is left as it is\n", write("cp", R"({"format": "qvehelper checkpoint", "version": 2})")},
      {"a checkpoint for another chain", {"--checkpoint", "cp", "a"}, 65, "",
       ".*verify: checkpoint cp is for another chain: it was recorded under the verification key 00, "
       "and this program verifies with [0-9a-f]{64}; it is left as it is\n",
       write("cp", R"({"format": "qvehelper checkpoint", "version": 1, "verificationKey": "00"})")},
      {"a checkpoint naming a log", {"--checkpoint", "a/system.log", "a"}, 64, "",
       ".*verify: --checkpoint a/system\\.log is the same file as a/system\\.log\n"},
      {"one checkpoint for two chains", {"--each", "--checkpoint", "cp", "a", "b"}, 64, "",
       ".*verify: --checkpoint keeps the record of one chain; .*\n"},
      {"a checkpoint folder without --each", {"--checkpoint-dir", "d", "a"}, 64, "", any},
      {"strict, passing", {"--strict", "a"}, 0, ok, tail},
      {"strict, stripped", {"--strict", "--order", "name", "a"}, 5,
       "FileUnsigned System_0.log\nStrictPolicyFailed \\(5\\): 4 files, 0 bad; report ReportOk \\(0\\)\n"
       "StrictPolicyFailed \\(5\\): 1 reason\n"
       "  a/System_0.log: FileUnsigned in a chain with signed files\n",
       "warning: a/System_0.log: line 1 is not signed\n" + tail, write("a/System_0.log", "plain\n")},
      {"strict, unsigned lines", {"--strict", "a"}, 5,
       strictOk + "StrictPolicyFailed \\(5\\): 1 reason\n  a/System_1.log: line 5 not signed, and not at the end "
       "of the newest file\n", any, [](const fs::path& dir) {
         std::ofstream(dir / "a/System_1.log", std::ios::app) << "late\n";
       }},
      {"strict, an empty signature line", {"--strict", "s"}, 5,
       "StrictPolicyFailed \\(5\\): 1 file, 0 bad; report ReportOk \\(0\\)\nStrictPolicyFailed \\(5\\): 1 reason\n"
       "  s/system.log: line 3: an empty signature line\n", "", emptySignature},
      {"strict, unseen bytes", {"--strict", "u"}, 5,
       "StrictPolicyFailed \\(5\\): 1 file, 0 bad; report ReportOk \\(0\\)\nStrictPolicyFailed \\(5\\): 2 reasons\n"
       "  u/system.log: line 2: bytes after a NUL\n  u/system.log: line 4: bytes after an end-of-input "
       "byte \\(0x1A\\)\n", any, unseen},
      {"names but for case", {"--strict", "a"}, 5,
       strictOk + "StrictPolicyFailed \\(5\\): 2 reasons\n(  a/\\S+: not verified: the name differs from \\S+ in case\n){2}",
       "(warning: a/(SYSTEM.LOG: not verified: the name differs from system.log|System_3.LOG: not "
       "verified: the name differs from System_\\*.log) in case\n){2}" + tail,
       [&](const fs::path& dir) {
         copy("a/system.log", "a/SYSTEM.LOG")(dir);
         copy("a/System_2.log", "a/System_3.LOG")(dir);
       }},
      {"gzip'd rotations", {"--include-ok", "a"}, 0,
       "FileOk System_1.log.gz\nFileOk System_2.log.gz\nFileOk system.log\n" + ok, tail,
       gzipped({"a/System_1.log", "a/System_2.log"})},
      {"a gzip'd rotation named", {"--include-ok", "a/System_2.log", "a/System_1.log.gz", "a/system.log"}, 0,
       "FileOk System_1.log.gz\nFileOk System_2.log\nFileOk system.log\n" + ok, tail, gzipped({"a/System_1.log"})},
      {"a gzip'd rotation cut short", {"a"}, 2,
       "FileUnsigned System_2.log.gz\nFileChainBreak system.log\nReportSomeInvalid \\(2\\): 3 files, 1 bad\n",
       "warning: a/System_2.log.gz: cannot be read \\(the gzip data is cut short\\); FileUnsigned\n" + tail +
       "warning: a/system.log: FileChainBreak follows from a/System_2.log.gz, which cannot be read\n",
       gzipped({"a/System_2.log"}, [](Bytes& gzip) { gzip.pop_back(); })},
      {"a damaged gzip'd rotation", {"--json", "a"}, 2,
       any + "\"path\": \"a/System_2.log.gz\",\\s*\"message\": \"cannot be read \\(damaged gzip data\\); "
       "FileUnsigned\"" + any, "", gzipped({"a/System_2.log"}, [](Bytes& gzip) { gzip[gzip.size() - 8] ^= 1; })},
      {"names of gzip'd logs", {"g"}, 6, "Incomplete \\(6\\): 1 file, 0 bad; report ReportOk \\(0\\)\n",
       "warning: g/system.log.GZ: not verified: the name differs from system.log.gz in case\n", gzipNames},
      {"progress", {"--progress-delay=0", "--each", "a", "b"}, 0, "a: " + ok + "b: " + ok,
       line + tail + "(" + line + ")?warning: b/system.log.*\n(" + line + ")?", {}, terminal},
      {"quiet, no progress", {"--progress-delay=0", "-q", "--each", "a", "b"}, 0, "", "", {}, terminal},
      {"JSON, no progress", {"--progress-delay=0", "--json", "--each", "a", "b"}, 0, any, "", {}, terminal},
      {"a page", {"--html", "p.html", "a"}, 0, ok, tail, {}, {}, Page("p.html", true)},
      {"a page replaced", {"--html", "p.html", "a"}, 0, ok, tail, oldPage, {}, Page("p.html", true, 0640)},
      {"a page naming a log", {"--html", "a/system.log", "a"}, 64, "",
       ".*verify: --html a/system\\.log is the same file as a/system\\.log\n", {}, {}, logKept},
      {"a page naming a PATH", {"--html", "b/system.log", "a", "b/system.log"}, 64, "",
       ".*verify: --html b/system\\.log is the same file as b/system\\.log\n", {}, {}, logKept},
      {"a page without a name", {"--html", "", "a"}, 64, "", ".*verify: --html must not be empty\n"},
      {"a page to standard output", {"--html", "-", "a"}, 0, "<!DOCTYPE html>" + any + "</html>\n", tail + ok},
      {"a page and JSON to standard output", {"--html", "-", "--json", "a"}, 64, "",
       ".*verify: the page and --json cannot both go to standard output\n"},
      {"standard input as a PATH", {"-"}, 64, "", ".*verify: PATH cannot be standard input \\(-\\).*\n"},
      {"jobs without each", {"-j", "2", "a"}, 64, "", "qvehelper: --jobs requires --each\n" + any},
      {"a page in no folder", {"--html", "no/p.html", "a"}, 73, "", ".*verify: the folder no of .*\n"},
      {"a page nobody may write", {"--html", "p.html", "a"}, 73, "", ".*verify: cannot create a file in \\.: .*\n",
       {}, nobody},
      {"a page too large", {"--html", "p.html", "a"}, 74, ok, tail + ".*verify: cannot write --html p.html: file too large\n",
       oldPage, {.fileSizeLimit = 2000}, Page("p.html", false, 0640)},
  };
  // clang-format on
  for (const Row& row : rows) {
    testing::TempDir dir;
    chmod(dir.path().c_str(), 0755);
    Export(dir / "a");
    Export(dir / "b");
    if (row.setup) row.setup(dir.path());
    auto command = testing::InFolder(row.how, QVE_CLI_FILE, "verify", row.args, dir.path());
    testing::ExpectPrinted(testing::Run(command), row.status, row.out, row.err, row.name);
    if (row.after) row.after(dir.path());
  }
}

}  // namespace
}  // namespace qve
