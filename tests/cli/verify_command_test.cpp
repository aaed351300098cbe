// SPDX-License-Identifier: Apache-2.0
// qvehelper verify as users run it, beside two exports a/ and b/ of one chain
// each: exit status, output, warnings, JSON, the files left and, where a row
// is the one that makes a message, its wording.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <functional>
#include <nlohmann/json.hpp>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "tests/support/command_rows.h"
#include "tests/support/harness.h"
#include "tests/support/json_holds.h"

namespace qve {
namespace {

namespace fs = std::filesystem;
using Step = std::function<void(const fs::path&)>;

struct Row {
  std::string name;
  std::vector<std::string> args;
  int status = 0;
  // Parts they must hold, the output's in order, each warning one part; none: nothing.
  std::vector<std::string> out = {}, err = {};
  std::string sh = {};  // shell steps first, $Q the command
  Step setup = {};
  testing::Command how = {};
  std::string after = {};               // shell test of the files left
  std::string json = {};                // values its JSON must hold, where it prints JSON
  std::vector<std::string> never = {};  // parts neither output may hold
  std::vector<std::string> says = {};   // messages word for word: only here is wording pinned
};

// "warning: PATH:" begins a line about PATH, and is no wording.
std::string Warning(const std::string& path) { return "warning: " + path + ":"; }

void Unseen(const fs::path& dir) {
  testing::WriteChain(dir, {{"u/system.log",
                             "a b~forged S \x1a"
                             "forged"}});
}

// A name that forges a line, and a four-byte character printed as it is.
void Forge(const fs::path& dir) {
  fs::create_directory(dir / "n");
  testing::WriteFile(dir / "n/System_1\nOK: x\x1b[m\xF0\x9F\x98\x80.log", std::string("x\n"));
}

std::vector<Row> Rows() {
  const std::string tail = Warning("a/system.log");
  const std::string ok = "ReportOk (0): 3 files, 0 bad\n";
  const std::string report = "; report ReportOk (0)\n";
  const std::string strict = "StrictPolicyFailed (5)";
  const std::string say = "qvehelper verify: ";
  const testing::Command nobody{.asNobody = true}, terminal{.errorToTerminal = true};
  const std::string tamper = "sed -i 1s/t/T/ b/System_2.log",
                    lock = "chmod 0 a/System_2.log; mkdir -m 0 a/locked";
  const std::string record = "$Q verify -q --checkpoint-init --checkpoint cp a && ";
  const std::string oldPage = "printf old > p.html && chmod 640 p.html";
  // A page or the old bytes, with its mode, and no file beside a, b and it.
  const std::string three = " && [ $(ls | wc -l) = 3 ] && stat -c %a p.html | grep -qx ";
  const std::string page =
      "grep -q '^<!DOCTYPE html>' p.html && tail -n 1 p.html | grep -qx '</html>'" + three;
  // clang-format off
  return {
      {.name = "OneChain", .args = {"a"}, .out = {ok}, .err = {tail},
       .says = {"warning: a/system.log: lines 5-6 are not signed\n"}},
      {.name = "TamperedOnTwoThreads", .args = {"-j", "2", "b"}, .status = 2,
       .out = {"FileInvalid System_2.log\n", "ReportSomeInvalid (2): 3 files, 1 bad\n"},
       .err = {Warning("b/system.log")}, .sh = tamper},
      {.name = "Quiet", .args = {"-q", "a"}},
      {.name = "QuietFailing", .args = {"-q", "--each", "a", "b", "c"}, .status = 2,
       .err = {"b/System_2.log: FileInvalid", "c: "}, .sh = tamper, .says = {say + "b/System_2.log: FileInvalid\n"}},
      // The break that follows from the unreadable file is no line of its own.
      {.name = "QuietUnreadable", .args = {"-q", "a"}, .status = 6, .err = {"a/System_2.log: ", "a/locked: "},
       .sh = lock, .how = nobody, .never = {"a/system.log"}},
      {.name = "QuietHistoryGoneAndStale", .args = {"-q", "--stale-after", "30", "--checkpoint", "cp", "a"},
       .err = {Warning("cp"), Warning("cp")}, .sh = record + "rm a/System_1.log && sed -i 's/\"grew\": \"[^\"]*\"/\"grew\": \"2020-01-01T00:00:00Z\"/' cp",
       .never = {"notice"}},
      {.name = "DevicesAsOneChain", .args = {"."}, .status = 2, .out = {"ReportSomeInvalid (2)"},
       .err = {"notice: . holds 2 folders", "warning: ", "warning: ", "warning: ", "warning: ", "warning: ", "warning: "},
       .says = {"notice: . holds 2 folders with logs of their own, verified here as one chain; --each verifies each PATH as a chain of its own\n"}},
      {.name = "UsageError", .args = {"--bogus", "a"}, .status = 64,
       .err = {"usage: qvehelper verify ", "--bogus", "see 'qvehelper help verify'"}},
      {.name = "Typo", .args = {"a", "typo.log"}, .status = 66, .err = {"typo.log"},
       .says = {say + "typo.log: no such file or directory\n"}},
      {.name = "FileWithItsFolder", .args = {"a/system.log", "a"}, .out = {ok}, .err = {Warning("a/system.log"), tail},
       .says = {"warning: a/system.log: the same file as a/system.log; verified once\n"}},
      {.name = "NamesRepeat", .args = {"a", "b"}, .status = 2,
       .out = {"FileChainBreak b/System_1.log\n", "ReportSomeInvalid (2): 6 files, 1 bad\n"},
       .err = {tail, Warning("b/system.log"), tail, Warning("a/System_2.log"), Warning("a/System_1.log"),
               Warning("b/System_1.log")}},
      {.name = "Each", .args = {"--each", "-j", "2", "a", "b"}, .out = {"a: " + ok + "b: " + ok},
       .err = {tail, Warning("b/system.log")}},
      {.name = "EachWorst", .args = {"--each", "a", "b"}, .status = 2,
       .out = {"a: " + ok + "  FileInvalid System_2.log\nb: ReportSomeInvalid (2): 3 files, 1 bad\n"},
       .err = {tail, Warning("b/system.log")}, .sh = tamper},
      {.name = "EachJsonChainNotFound", .args = {"--each", "--json", "a", "caf\xc3\xa9"}, .status = 66,
       .err = {"caf\xc3\xa9:"},
       .json = R"([{"path": "a", "exitStatus": 0, "status": "ReportOk", "result": "ReportOk"},
                  {"path": "caf\u00e9", "exitStatus": 66, "status": "NoInput"}])"},
      {.name = "Json", .args = {"--json", "--include-ok", "a"},
       .json = R"({"files": [{"verdict": "FileOk"}, {"verdict": "FileOk"}, {"name": "system.log", "path": "a/system.log",
           "verdict": "FileOk", "verdictCode": 0, "unsignedLines": {"first": 5, "last": 6}}],
           "warnings": [{"path": "a/system.log", "unverified": false}], "checkpoint": null, "strict": null})"},
      {.name = "ForgedLine", .args = {"n"}, .status = 1,
       .out = {"FileUnsigned System_1\\nOK: x\\x1b[m\xF0\x9F\x98\x80.log\nReportUnsigned (1): 1 file, 0 bad\n"},
       .err = {Warning("n/System_1\\nOK: x\\x1b[m\xF0\x9F\x98\x80.log")}, .setup = Forge},
      {.name = "ForgedLineInJson", .args = {"--json", "n"}, .status = 1,
       .setup = Forge,
       .json = R"({"files": [{"name": "System_1\nOK: x\u001b[m)" "\xF0\x9F\x98\x80" R"(.log"}]})"},
      {.name = "Unreadable", .args = {"--details", "a"}, .status = 6,
       .out = {"  a/System_1.log: 1 block, 0 bad\nFileUnsigned System_2.log\n  a/System_2.log: 0 blocks, 0 bad\n"
               "FileChainBreak system.log\n  a/system.log: 2 blocks, 1 bad\n    BlockChainBreak lines 1-4: ",
               "\n    BlockUnsigned lines 5-6\nIncomplete (6): 3 files, 0 bad" + report},
       .err = {Warning("a/System_2.log"), Warning("a/locked"), tail, Warning("a/system.log") + " FileChainBreak"},
       .sh = lock, .how = nobody,
       .says = {"warning: a/System_2.log: cannot be read (permission denied); FileUnsigned\n",
                "warning: a/locked: skipped: permission denied\n",
                "warning: a/system.log: FileChainBreak follows from a/System_2.log, which cannot be read\n",
                "    BlockChainBreak lines 1-4: follows from a/System_2.log, which cannot be read\n"}},
      {.name = "NotUtf8", .args = {"--include-ok", "a"},
       .out = {"FileOk System_1.log\nFileOk System_2.log\nFileOk System_\\xff.log\n" + ok},
       .err = {Warning("a/System_\\xff.log")}, .sh = "mv a/system.log a/System_\377.log"},
      {.name = "NamedNotUtf8InJson", .args = {"--json", "--include-ok", "a/System_\xff.log"},
       .sh = "mv a/system.log a/System_\377.log",
       .json = R"({"files": [{"name": "System_\\xff.log", "path": "a/System_\\xff.log"}]})"},
      {.name = "Fifos", .args = {"a"}, .status = 6, .out = {"FileUnsigned System_9.log\nIncomplete (6): 4 files, 0 bad" + report},
       .err = {Warning("a/System_9.log"), tail}, .sh = "mkfifo a/System_9.log a/notes",
       .says = {"warning: a/System_9.log: cannot be read (a FIFO, not a regular file); FileUnsigned\n"}},
      {.name = "DeeperThanOpenFileLimit", .args = {"deep"}, .out = {"ReportOk (0): 1 file, 0 bad\n"}, .sh = "d=deep/$(printf 'd/%.0s' $(seq 40)) && mkdir -p $d && cp a/System_1.log $d/system.log",
       .how = {.openFileLimit = 12}},
      {.name = "UnseenBytes", .args = {"u"}, .out = {"ReportOk (0): 1 file, 0 bad\n"},
       .err = {Warning("u/system.log") + " line 2:", Warning("u/system.log") + " line 4:"}, .setup = Unseen,
       .says = {"warning: u/system.log: line 2: bytes after a NUL are not signed\n",
                "warning: u/system.log: line 4: data after an end-of-input byte (0x1A) is not read\n"}},
      {.name = "ByteOrderMarks", .args = {"m"}, .status = 6, .out = {"FileUnsigned system.log\nIncomplete (6): 2 files, 0 bad" + report},
       .err = {Warning("m/System_1.log"), Warning("m/system.log"), Warning("m/system.log")}, .setup = [](const fs::path& dir) {
         testing::WriteChain(dir, {{"m/System_1.log", "\xEF\xBB\xBFx S"}});
         testing::WriteFile(dir / "m/system.log", std::string("\xFF\xFEx\0\n\0", 6));
       },
       .says = {"warning: m/System_1.log: starts with a UTF-8 byte-order mark (EF BB BF), which is read as part of line 1: an editor may have added it\n",
                "warning: m/system.log: is UTF-16 text (byte-order mark FF FE, little-endian), not the bytes of a signed log: it was not verified as written\n"}},
      {.name = "ElevenByName", .args = {"--order", "name", "e"}, .status = 2,
       .out = {"FileChainBreak System_10.log\nFileChainBreak System_2.log\nReportSomeInvalid (2): 11 files, 2 bad\n"},
       .err = {Warning("e/System_10.log")}, .setup = [](const fs::path& dir) {
         std::vector<std::pair<std::string, std::string>> files;
         for (int i = 1; i <= 11; ++i) files.push_back({"e/System_" + std::to_string(i) + ".log", "n S"});
         testing::WriteChain(dir, files);
       },
       .says = {"warning: e/System_10.log: name order puts it before System_2.log, link order after it: in link order the run has 2 chain breaks fewer\n"}},
      {.name = "MiddleFileMissing", .args = {"--order", "links", "a"}, .status = 2,
       .out = {"FileChainBreak system.log\nReportSomeInvalid (2): 2 files, 1 bad\n"}, .err = {tail, Warning("a/system.log")},
       .sh = "rm a/System_2.log",
       .says = {"warning: a/system.log: its first block links to ",
                ", which no file of the run ends in: a file before it is missing or was changed; it follows a/System_1.log by the order of names\n"}},
      {.name = "Fork", .args = {"--order", "links", "a"}, .status = 2,
       .out = {"FileChainBreak System_2x.log\nReportSomeInvalid (2): 4 files, 1 bad\n"},
       .err = {tail, Warning("a/System_2.log"), Warning("a/System_2x.log")}, .sh = "cp a/System_2.log a/System_2x.log",
       .says = {"warning: a/System_2.log: a/System_2.log and a/System_2x.log continue the same block (chain value ",
                "): a file was replayed or rewritten\n",
                "warning: a/System_2x.log: the links join it to no file before it: it follows a/system.log by the order of names\n"}},
      {.name = "NewCheckpoint", .args = {"--checkpoint-init", "--checkpoint", "cp", "a"}, .out = {ok, "Checkpoint new", "cp\n"},
       .err = {tail}, .after = "grep -qzF '\"file\": \"system.log\",\n  \"line\": 4,' cp",
       .says = {"Checkpoint new: system.log line 4 (id 0), written to cp\n"}},
      {.name = "CheckpointHolds", .args = {"--checkpoint", "cp", "a"}, .out = {ok, "Checkpoint extended", "cp\n"}, .err = {tail},
       .sh = record + "true",
       .says = {"Checkpoint extended: system.log line 4 (id 0), nothing newer; written to cp\n"}},
      {.name = "CheckpointLost", .args = {"--checkpoint", "cp", "a"}, .status = 4,
       .out = {"CheckpointLost (4): 2 files, 0 bad" + report, "CheckpointLost (4)", "cp"},
       .sh = record + "rm a/system.log", .after = "grep -qF '\"line\": 4,' cp",
       .says = {"CheckpointLost (4): system.log line 4 (id 0), recorded ",
                ", is no longer in the chain: what was verified before has been removed or rolled back; cp is kept\n"}},
      {.name = "CheckpointOldestFileGone", .args = {"--checkpoint", "cp", "a"},
       .out = {"ReportOk (0): 2 files, 0 bad\nCheckpoint extended", "cp\n"}, .err = {tail, "notice: cp:", "warning: cp:"},
       .sh = record + "rm a/System_1.log",
       .says = {"notice: cp: the run starts later than the recorded one: 1 file (4 lines) of the recorded history left its old end\n"}},
      // What --accept gives up is a notice, not a warning.
      {.name = "OldestFileGoneAccepted", .args = {"--accept", "--checkpoint", "cp", "a"}, .out = {"Checkpoint extended"},
       .err = {tail, "notice: cp: --accept"}, .sh = record + "rm a/System_1.log"},
      {.name = "CheckpointJson", .args = {"--json", "--strict", "--checkpoint-init", "--checkpoint", "cp", "a"},
       .json = R"({"order": "links", "checkpoint": {"file": "cp", "status": "new", "readOnly": false,
       "written": true, "startsLater": false, "recorded": null, "held": null, "now": {"file": "system.log",
       "line": 4}}, "strict": []})"},
      {.name = "CheckpointEachOnePath", .args = {"--each", "--checkpoint-init", "--checkpoint", "cp", "a"},
       .out = {"a: " + ok + "  Checkpoint new", "cp\n"}, .err = {tail},
       .after = "grep -q 'qvehelper checkpoint' cp"},
      {.name = "CheckpointPerPath", .args = {"--each", "--checkpoint-init", "--checkpoint-dir", "d", "b/", "./a"},
       .out = {"b/: " + ok + "  Checkpoint new", "d/b.checkpoint\n./a: " + ok + "  Checkpoint new", "d/a.checkpoint\n"},
       .err = {Warning("b/system.log"), Warning("./a/system.log")},
       .sh = "mkdir d", .after = "grep -q 'qvehelper checkpoint' d/a.checkpoint"},
      {.name = "DamagedCheckpoint", .args = {"--checkpoint", "cp", "a"}, .status = 65, .err = {"cp"}, .sh = "echo { > cp",
       .after = "grep -qx { cp", .says = {say + "checkpoint cp is damaged: not a JSON object; it is left as it is\n"}},
      {.name = "CheckpointOtherVersion", .args = {"--checkpoint", "cp", "a"}, .status = 65, .err = {"cp"},
       .sh = R"(echo '{"format": "qvehelper checkpoint", "version": 3}' > cp)", .after = "grep -q 3 cp",
       .says = {say + "checkpoint cp is of version 3, which is not supported (this tool reads versions 1 and 2); it is left as it is\n"}},
      {.name = "CheckpointOtherChain", .args = {"--checkpoint", "cp", "a"}, .status = 65, .err = {"cp"},
       .sh = R"(echo '{"format": "qvehelper checkpoint", "version": 1, "verificationKey": "00"}' > cp)",
       .after = "grep -q 00 cp",
       .says = {say + "checkpoint cp is for another chain: it was recorded under the verification key 00, and this program verifies with "}},
      {.name = "CheckpointNamingLog", .args = {"--checkpoint", "a/system.log", "a"}, .status = 64, .err = {"a/system.log"},
       .after = "cmp a/system.log b/system.log", .says = {say + "--checkpoint a/system.log is the same file as a/system.log\n"}},
      {.name = "CheckpointTwoChains", .args = {"--each", "--checkpoint", "cp", "a", "b"}, .status = 64, .err = {"--checkpoint"},
       .says = {say + "--checkpoint keeps the record of one chain; with --each and several PATHs, --checkpoint-dir keeps one for each\n"}},
      {.name = "CheckpointDirWithoutEach", .args = {"--checkpoint-dir", "d", "a"}, .status = 64, .err = {"--checkpoint-dir"}},
      {.name = "StrictPassing", .args = {"--strict", "a"}, .out = {ok}, .err = {tail}},
      {.name = "StrictStripped", .args = {"--strict", "--order", "name", "a"}, .status = 5,
       .out = {"FileUnsigned System_0.log\nStrictPolicyFailed (5): 4 files, 0 bad" + report + strict, "a/System_0.log: FileUnsigned"},
       .err = {Warning("a/System_0.log"), tail}, .sh = "echo plain > a/System_0.log",
       .says = {"StrictPolicyFailed (5): 1 reason\n", "  a/System_0.log: FileUnsigned in a chain with signed files\n"}},
      {.name = "StrictUnsignedLines", .args = {"--strict", "a"}, .status = 5,
       .out = {"StrictPolicyFailed (5): 3 files, 0 bad" + report + strict, "a/System_1.log: line 5"},
       .err = {Warning("a/System_1.log"), tail},
       .sh = "echo late >> a/System_1.log",
       .says = {"  a/System_1.log: line 5 not signed, and not at the end of the newest file\n"}},
      {.name = "StrictEmptySignature", .args = {"--strict", "s"}, .status = 5,
       .out = {"StrictPolicyFailed (5): 1 file, 0 bad" + report + strict, "s/system.log: line 3"}, .setup = [](const fs::path& dir) { testing::WriteChain(dir, {{"s/system.log", "a S E"}}); },
       .says = {"  s/system.log: line 3: an empty signature line\n"}},
      {.name = "StrictUnseenBytes", .args = {"--strict", "u"}, .status = 5,
       .out = {"StrictPolicyFailed (5): 1 file, 0 bad" + report + strict, "u/system.log: line 2", "u/system.log: line 4"},
       .err = {Warning("u/system.log") + " line 2:", Warning("u/system.log") + " line 4:"}, .setup = Unseen,
       .says = {"StrictPolicyFailed (5): 2 reasons\n  u/system.log: line 2: bytes after a NUL\n  u/system.log: line 4: bytes after an end-of-input byte (0x1A)\n"}},
      {.name = "NamesButForCase", .args = {"--strict", "a"}, .status = 5,
       .out = {"StrictPolicyFailed (5): 3 files, 0 bad" + report + strict, "a/S", "a/S"},
       .err = {Warning("a/SYSTEM.LOG"), Warning("a/System_3.LOG"), tail},
       .sh = "cp a/system.log a/SYSTEM.LOG && cp a/System_2.log a/System_3.LOG",
       .says = {"warning: a/SYSTEM.LOG: not verified: the name differs from system.log in case\n",
                "warning: a/System_3.LOG: not verified: the name differs from System_*.log in case\n"}},
      {.name = "GzipRotationNamed", .args = {"--include-ok", "a/System_2.log", "a/System_1.log.gz", "a/system.log"},
       .out = {"FileOk System_1.log.gz\nFileOk System_2.log\nFileOk system.log\n" + ok}, .err = {tail},
       .sh = "gzip a/System_1.log"},
      {.name = "GzipRotationCutShort", .args = {"a"}, .status = 6,
       .out = {"FileUnsigned System_2.log.gz\nFileChainBreak system.log\nIncomplete (6): 3 files, 0 bad" + report},
       .err = {Warning("a/System_2.log.gz"), tail, Warning("a/system.log") + " FileChainBreak"},
       .sh = "gzip a/System_2.log && truncate -s -1 a/System_2.log.gz",
       .says = {"warning: a/System_2.log.gz: cannot be read (the gzip data is cut short); FileUnsigned\n"}},
      {.name = "GzipNames", .args = {"g"}, .status = 6, .out = {"Incomplete (6): 1 file, 0 bad" + report},
       .err = {Warning("g/system.log.GZ")}, .sh = "mkdir g && gzip -c a/System_1.log > g/system.log.gz && for n in System_3.log.gz.bak System_3.gz system.log.GZ; do cp g/system.log.gz g/$n; done"},
      {.name = "Progress", .args = {"--progress-delay=0", "--each", "a", "b"}, .out = {"a: " + ok + "b: " + ok},
       .err = {"\r", tail, Warning("b/system.log")}, .how = terminal, .says = {"\r0 of 2 chains done"}},
      {.name = "QuietNoProgress", .args = {"--progress-delay=0", "-q", "--each", "a", "b"}, .how = terminal},
      {.name = "JsonNoProgress", .args = {"--progress-delay=0", "--json", "--each", "a", "b"}, .how = terminal,
       .json = R"([{"path": "a"}, {"path": "b"}])"},
      {.name = "Page", .args = {"--html", "p.html", "a"}, .out = {ok}, .err = {tail}, .after = page + "644"},
      {.name = "PageReplaced", .args = {"--html", "p.html", "a"}, .out = {ok}, .err = {tail}, .sh = oldPage, .after = page + "640"},
      {.name = "PageNothingVerified", .args = {"--html", "p.html", "c"}, .status = 66, .err = {"c: "}, .sh = oldPage, .after = "grep -q 'NoInput (66)' p.html"},
      {.name = "PageEveryPath", .args = {"--each", "--html", "p.html", "a", "c"}, .status = 66, .out = {"a: " + ok, "c: "},
       .err = {tail, "c: "}, .after = "grep -q 'Chain 2 of 2: c' p.html"},
      {.name = "PageNamingLog", .args = {"--html", "a/system.log", "a"}, .status = 64, .err = {"a/system.log"}, .after = "cmp a/system.log b/system.log"},
      {.name = "PageByLogNameNotAPath", .args = {"--html", "System_9.log.gz", "a"}, .status = 64, .err = {"System_9.log.gz"},
       .sh = "echo kept > System_9.log.gz", .after = "grep -qx kept System_9.log.gz"},
      {.name = "PageTwoReasonsOnOneLine", .args = {"--each", "--html", "p.html", "--checkpoint-dir", "d", "e"}, .status = 66,
       .out = {"e: "}, .err = {"d/e.checkpoint"},
       .sh = "mkdir d e", .after = "! grep -qF '\\n' p.html"},
      {.name = "PageWithoutName", .args = {"--html", "", "a"}, .status = 64, .err = {"--html"},
       .says = {say + "--html must not be empty\n"}},
      {.name = "PageToStandardOutput", .args = {"--html", "-", "a"}, .out = {"<!DOCTYPE html>", "</html>\n"}, .err = {tail, ok}},
      {.name = "PageAndJsonToStandardOutput", .args = {"--html", "-", "--json", "a"}, .status = 64, .err = {"--json"},
       .says = {say + "the page and --json cannot both go to standard output\n"}},
      {.name = "StandardInputAsPath", .args = {"-"}, .status = 64, .err = {"PATH"},
       .says = {say + "PATH cannot be standard input (-); ./- names a file called -\n"}},
      {.name = "PageInNoFolder", .args = {"--html", "no/p.html", "a"}, .status = 73, .err = {"no/p.html"},
       .says = {say + "the folder no of --html no/p.html does not exist\n"}},
      {.name = "PageNobodyMayWrite", .args = {"--html", "p.html", "a"}, .status = 73, .err = {"\n"}, .how = nobody,
       .says = {say + "cannot create a file in .: permission denied\n"}},
      {.name = "PageTooLarge", .args = {"--html", "p.html", "a"}, .status = 74, .out = {ok}, .err = {tail, "p.html"},
       .sh = oldPage, .how = {.fileSizeLimit = 2000}, .after = "grep -qx old p.html" + three + "640",
       .says = {say + "cannot write --html p.html: file too large\n"}},
      // With standard error closed, the lock file would be the first file
      // opened and take the warnings.
      {.name = "StandardErrorClosed", .args = {"--checkpoint-init", "--checkpoint", "cp", "a"}, .out = {ok},
       .how = {.errorClosed = true}, .after = "[ -f cp.lock ] && [ ! -s cp.lock ]"},
  };
  // clang-format on
}

// One object, or one per line.
nlohmann::json ParseJson(const std::string& out) {
  nlohmann::json printed = nlohmann::json::parse(out, nullptr, false);
  if (!printed.is_discarded()) return printed;
  printed = nlohmann::json::array();
  std::istringstream lines(out);
  for (std::string line; std::getline(lines, line);) printed.push_back(nlohmann::json::parse(line));
  return printed;
}

class VerifyCommand : public ::testing::TestWithParam<Row> {};

TEST_P(VerifyCommand, Row) {
  const Row& row = GetParam();
  testing::TempDir dir;
  chmod(dir.path().c_str(), 0755);
  for (const char* d : {"a/", "b/"})
    testing::WriteChain(dir.path(), {{d + std::string("System_1.log"), "o o o S"},
                                     {d + std::string("System_2.log"), "t t S"},
                                     {d + std::string("system.log"), "s s s S u u"}});
  if (!row.sh.empty()) {
    ASSERT_EQ(testing::Shell(dir.path(), row.sh), 0) << row.sh;
  }
  if (row.setup) row.setup(dir.path());
  const auto ran =
      testing::Run(testing::InFolder(row.how, QVE_CLI_FILE, "verify", row.args, dir.path()));
  if (!row.after.empty()) {
    EXPECT_EQ(testing::Shell(dir.path(), row.after), 0) << row.after;
  }
  EXPECT_EQ(ran.exitCode, row.status) << ran.out << ran.err;
  if (!row.json.empty()) {
    // Text goes out as UTF-8, as the paths are; only controls are escaped.
    EXPECT_FALSE(std::regex_search(ran.out, std::regex(R"(\\u(?!00[01]))"))) << ran.out;
    testing::ExpectHolds(ParseJson(ran.out), row.json);
  } else {
    testing::ExpectInOrder(ran.out, row.out);
  }
  std::size_t warnings = 0;
  for (const std::string& part : row.err) {
    EXPECT_NE(ran.err.find(part), std::string::npos) << part << "\n" << ran.err;
    warnings += part.starts_with("warning: ");
  }
  const std::regex warning("warning: ");
  EXPECT_EQ(std::distance(std::sregex_iterator(ran.err.begin(), ran.err.end(), warning), {}),
            warnings)
      << ran.err;
  if (row.err.empty()) {
    EXPECT_EQ(ran.err, "");
  }
  for (const std::string& part : row.never)
    EXPECT_EQ((ran.out + ran.err).find(part), std::string::npos) << part;
  for (const std::string& text : row.says)
    EXPECT_NE((ran.out + ran.err).find(text), std::string::npos) << text << ran.out << ran.err;
}

QVE_ROWS(VerifyCommand, Rows());

}  // namespace
}  // namespace qve
