// SPDX-License-Identifier: Apache-2.0
// qvehelper inspect on containers and logs built byte by byte: the facts its
// JSON holds and, where a row makes a kind of line, how that line reads.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <functional>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "cli/inspect.h"
#include "tests/support/command_rows.h"
#include "tests/support/harness.h"
#include "tests/support/json_holds.h"
#include "tools/writer/signature_block_writer.h"

namespace qve {
namespace {

using testing::Block;
using testing::Container;
using testing::KeyBlock;
using testing::kKeyId10;
using testing::kKeyId11;
using testing::LogBuilder;
using testing::LogChain;
using testing::Pattern;
using testing::Record;
using testing::WrappedFor;
using Records = std::vector<Record>;

struct Case {
  const char* name;
  std::function<Bytes()> file;  // written as "file" and given as standard input
  std::vector<std::string> args = {"file"};
  std::string fields = {};  // JSON that its --json object must hold, value by value
  int exitCode = 0;
  std::string sh = "true";  // shell steps in its folder first
  testing::Command how = {};
  std::vector<std::string> says = {};  // in its text: only here is wording pinned
};

Bytes SessionKey() { return Container{}.sessionKey; }

Bytes LogOf(std::string_view script) {
  LogChain chain;
  return LogBuilder(chain).Script(script).bytes();
}

const Case kCases[] = {
    // clang-format off
    {.name = "BadMagic", .file = [] { return Container{.magic = "QVEX"}.Build(); },
     .args = {"--as", "container", "file"},
     .fields = R"({"header": {"code": 1, "status": "MagicVersionOrIvUnreadable", "field": "magic", "offset": 0}})",
     .says = {"  header malformed at offset 0: magic 51564558, expected 51564553 (reader code 1, MagicVersionOrIvUnreadable)\n"}},
    {.name = "SecondRecordUsed",
     .file = [] {
       return Container{.records = Records{WrappedFor(kKeyId11, KeyBlock(SessionKey())),
                                           WrappedFor(kKeyId10, KeyBlock(SessionKey()))}}
           .Build();
     },
     .fields = R"({"recipients": [{"used": false}, {"offset": 272, "tag": "P", "keyId": "0a000000", "wrappedKeyLength": 256, "used": true}], "sessionKey": {"record": 2}})",
     .says = {"  record 2 at offset 272: tag P, key 0a000000, wrapped key 256 bytes (used)\n"}},
    {.name = "WrongKey",
     .file = [] {
       return Container{.records = Records{WrappedFor(kKeyId11, KeyBlock(SessionKey()))}}.Build();
     },
     .args = {"--seal", "file"},
     .fields = R"({"recipients": [{"keyId": "0b000000"}], "sessionKey": {"record": null}, "seal": {"reached": false}})",
     .says = {"  session key: no record for the built-in key 0a000000\n  seal: not reached, the session key does not open\n"}},
    {.name = "CrcMismatch",
     .file = [] {
       return Container{.records = Records{WrappedFor(
                            kKeyId10, testing::Concat(SessionKey(), Bytes{1, 2, 3, 4}))}}
           .Build();
     },
     .fields = R"({"sessionKey": {"record": 1, "unwraps": true, "crcMatches": false, "keyMaterialLength": 32}})",
     .says = {"  session key: record 1 unwraps, CRC does not match, key material 32 bytes\n"}},
    {.name = "NoSeal", .file = [] { return Container{.body = Pattern(100), .seal = std::nullopt}.Build(); },
     .args = {"--seal", "file"},
     .fields = R"({"payloadLength": 112, "wholeBlocks": true, "lastBlockPadding": true, "sessionKey": {"crcMatches": true}, "seal": {"plaintextLength": 100, "found": false, "stop": "NoClosingTag"}})",
     .says = {"  payload 112 bytes, a whole number of 16-byte blocks, the last one's padding valid\n  session key: record 1 unwraps, CRC matches, key material 32 bytes\n  seal: no trailer in 100 bytes of plaintext: closing tag "}},
    {.name = "CutAfterTheIv", .file = [] { return Container{}.Header(); }, .args = {"--seal", "file"},
     .fields = R"({"payloadLength": 0, "cutShort": true})",
     .says = {"  payload 0 bytes, none: the file ends right after the IV, cut short\n"}},
    {.name = "CutAtABlock",
     .file = [] { return Container{.body = Pattern(20000), .cutTo = 288 + 4096}.Build(); },
     .fields = R"({"payloadLength": 4096, "wholeBlocks": true, "cutShort": false, "lastBlockPadding": false})",
     .says = {"  payload 4096 bytes, a whole number of 16-byte blocks, the last one's padding invalid: cut short or damaged\n"}},
    {.name = "SealOfAnotherKey",
     .file = [] { return Container{.seal = testing::Seal{.keyId = KeyIdOf(12)}}.Build(); }, .args = {"--seal", "file"},
     .fields = R"({"seal": {"keyId": "0c000000", "namesBuiltInKey": false, "result": "BadSignature", "verifies": false}})",
     .says = {"does not verify (BadSignature): the seal names key 0c000000, not the built-in verification key 0b000000\n"}},
    {.name = "GoodSeal", .file = [] { return Container{.body = Pattern(20000)}.Build(); }, .args = {"--seal", "file"},
     .fields = R"({"seal": {"length": 276, "keyId": "0b000000", "signatureLength": 256, "result": "Success", "verifies": true}})",
     .says = {"  seal: 276 bytes, key 0b000000, signature 256 bytes, verifies (Success)\n"}},
    {.name = "LogChangedLine",
     .file = [] { return LogOf("a b S c S!"); },
     .fields = R"({"blocks": [{"verdict": "BlockOk"}, {"chain": "matches", "signatureLength": 256, "verdict": "BlockInvalid"}]})",
     .says = {" (32 bytes) matches, signature 256 bytes: BlockInvalid\n"}},
    {.name = "LogBrokenLink", .file = [] { return LogOf("a b S c S@"); },
     .fields = R"({"blocks": [{"verdict": "BlockOk"}, {"line": 5, "covers": [4, 4], "id": 0, "text": "", "link": "abababab", "linkLength": 32, "chain": "differs", "verdict": "BlockChainBreak"}]})",
     .says = {"  line 5: covers 4, id 0, text \"\", link abababab.. (32 bytes) differs, signature 256 bytes: BlockChainBreak\n"}},
    {.name = "LogEscapedText", .file = [] {
       LogChain chain;
       return LogBuilder(chain).Script("a b S c").Sign([](Block& b) { b.id = 7, b.text = "tab\there\\"; }).bytes();
     },
     .fields = R"({"blocks": [{"verdict": "BlockOk"}, {"covers": [4, 4], "id": 7, "text": "tab\\there\\\\", "verdict": "BlockOk"}]})",
     .says = {"covers 4, id 7, text \"tab\\there\\\\\", link "}},
    {.name = "LogEmptySignature",
     .file = [] { return LogOf("a b E"); },
     .fields = R"({"blocks": [{"line": 3, "covers": [1, 2], "empty": true, "verdict": "BlockNoSignature"}]})",
     .says = {"  line 3: covers 1-2, empty payload: BlockNoSignature\n"}},
    {.name = "LogOversizedText",
     .file = [] { return LogOf("|" + writer::EncodeBase64(Block{.textLength = 4096}.Build()) + "|"); },
     .fields = R"({"blocks": [{"line": 1, "covers": null, "verdict": "BlockInvalid"}]})",
     .says = {"  line 1: covers none, malformed at offset 10: text length 4096, at most 2048: BlockInvalid\n"}},
    {.name = "LogNulAndTail",
     .file = [] { return LogOf("abc~def S x y"); },
     .fields = R"({"blocks": [{"verdict": "BlockOk"}], "lines": 4, "signatureLines": 1, "unsignedTail": [3, 4],
         "ignored": [{"after": "NUL", "bytes": 3, "lines": 1, "firstLine": 1}],
         "firstLink": "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"})",
     .says = {"BlockOk\n  4 lines, 1 signature line\n  first link: e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855\n  last chain value: ",
              "\n  unsigned tail: lines 3-4\n  ignored: 3 bytes after a NUL on 1 line (first at line 1)\n"}},
    {.name = "LogEndOfInput", .file = [] { return LogOf("a b S c S +\x1A" "after"); },
     .fields = R"({"ignored": [{"after": "0x1A", "bytes": 5}]})",
     .says = {"  ignored: 5 bytes after the end-of-input byte 0x1A at offset "}},
    {.name = "NeitherKind", .file = [] { return testing::BytesOf("just text\n"); },
     .fields = R"({"kind": "unknown", "size": 10, "lines": 1})", .exitCode = 65,
     .says = {": unknown, 10 bytes, 1 line: no \"QVES\" magic and no signature line\n"}},
    {.name = "NameNotUtf8", .file = [] { return Container{}.Build(); }, .args = {"c\xe9"}, .fields = R"({"kind": "container", "path": "c\\xe9"})",
     .sh = "mv file c\xe9"},
    {.name = "StandardInput", .file = [] { return Container{.body = Pattern(20000)}.Build(); },
     .args = {"--seal", "-"}, .fields = R"({"path": "-", "kind": "container", "size": 20576, "version": 1})",
     .says = {"-: container, 20576 bytes\n  version 1\n"}},
    {.name = "GzipLog", .file = [] { return testing::Gzip(LogOf("a b S c S")); },
     .args = {"file.gz"}, .fields = R"({"kind": "log", "blocks": [{"verdict": "BlockOk"}, {"verdict": "BlockOk"}], "lines": 5, "signatureLines": 2})",
     .sh = "mv file file.gz"},
    {.name = "GzipLogCutShort",
     .file = [] {
       const Bytes gzip = testing::Gzip(LogOf("a b S c S"));
       return testing::Head(gzip, gzip.size() - 4);
     },
     .args = {"file.gz"}, .fields = R"({"kind": "log", "lines": 5, "changedWhileRead": false})", .exitCode = 66, .sh = "mv file file.gz",
     .says = {"\n  cannot be read past line 5: the gzip data is cut short; "}},
    {.name = "GzipLogNotGzip", .file = [] { return LogOf("a b S c S"); }, .args = {"file.gz"}, .fields = R"({"kind": "unreadable"})",
     .exitCode = 66, .sh = "mv file file.gz", .says = {"file.gz: cannot be read: damaged gzip data\n"}},
    {.name = "Absent", .file = [] { return Bytes(); }, .args = {"absent"}, .fields = R"({"kind": "unreadable"})", .exitCode = 66, .says = {": cannot be read: no such file or directory\n"}},
    {.name = "NotReadableByNobody", .file = [] { return Bytes(); }, .fields = R"({"kind": "unreadable"})",
     .exitCode = 66, .how = {.asNobody = true}},
    {.name = "Fifo", .file = [] { return Bytes(); }, .args = {"fifo"}, .fields = R"({"kind": "special"})", .exitCode = 65,
     .sh = "mkfifo fifo", .how = {.hangGuardSeconds = 20}, .says = {"fifo: a FIFO, not a regular file; give - to read a stream from standard input\n"}},
    {.name = "Empty", .file = [] { return Bytes(); }, .args = {""}, .fields = "", .exitCode = 64},
    {.name = "ReaderGone", .file = [] { return Container{}.Build(); }, .fields = "", .exitCode = 74,
     .how = {.outputTo = "|x"}},
    // clang-format on
};

// Runs inspect as `c` gives it the file, asking for JSON or for text.
testing::CommandResult Inspect(const Case& c, bool json) {
  testing::TempDir dir;
  const Bytes file = c.file();
  testing::WriteFile(dir / "file", file);
  EXPECT_EQ(testing::Shell(dir.path(), "chmod 600 file && " + c.sh), 0);
  testing::Command how = c.how;
  how.input.assign(file.begin(), file.end());
  std::vector<std::string> args = c.args;
  if (json) args.insert(args.begin(), "--json");
  return testing::Run(testing::InFolder(how, QVE_CLI_FILE, "inspect", args, dir.path()));
}

class InspectCommandTest : public ::testing::TestWithParam<Case> {};

TEST_P(InspectCommandTest, ReportsTheFault) {
  const Case& c = GetParam();
  const auto run = Inspect(c, true);
  EXPECT_EQ(run.exitCode, c.exitCode);
  if (c.fields.empty()) {
    EXPECT_EQ(run.out, "");
    return;
  }
  const auto report = nlohmann::json::parse(run.out);
  testing::ExpectHolds(report, c.fields);
  if (c.says.empty()) return;
  const auto text = Inspect(c, false);
  for (const std::string& part : c.says)
    EXPECT_NE(text.out.find(part), std::string::npos) << part << text.out;
}

QVE_ROWS(InspectCommandTest, kCases);

TEST(InspectCommandJsonTest, OneObjectPerFile) {
  testing::TempDir dir;
  testing::WriteFile(dir / "a.qves", Container{}.Build());
  LogChain chain;
  testing::WriteFile(dir / "b.log", LogBuilder(chain).Script("a b S c S").bytes());
  const auto run = testing::RunCommand(
      QVE_CLI_FILE, {"inspect", "--json", (dir / "a.qves").string(), (dir / "b.log").string()});
  ASSERT_EQ(run.exitCode, 0);
  const auto newline = run.out.find('\n');
  EXPECT_EQ(nlohmann::json::parse(run.out.substr(0, newline))["kind"], "container");
  const auto log = nlohmann::json::parse(run.out.substr(newline + 1));
  EXPECT_EQ(log["lastChainValue"], text::Hex(chain.value()));
}

}  // namespace
}  // namespace qve
