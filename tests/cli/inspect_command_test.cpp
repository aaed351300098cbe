// SPDX-License-Identifier: Apache-2.0
// qvehelper inspect on containers and logs built byte by byte: each row is a
// file, the arguments, and a line the output must hold.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <functional>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "cli/inspect.h"
#include "tests/support/builders.h"
#include "tests/support/command_runner.h"
#include "tests/support/harness.h"
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
  std::function<Bytes()> file;
  std::vector<std::string> args;
  std::string expected;  // a part of the output
  int exitCode = 0;
  // The file as inspect is given it: by its path, as standard input ("-"),
  // by a name that is not UTF-8 ("c\xe9"),
  // by a path that does not exist ("absent"), by its path as nobody, who
  // may not read it ("nobody"), by the path of a FIFO beside it ("fifo"), as
  // an empty argument (""), by its path with standard output a pipe whose
  // reader has gone ("gone"), or named as a gzip'd log ("gz").
  std::string given = "path";
};

Bytes SessionKey() { return Container{}.sessionKey; }

std::string Base64(const Block& block) { return writer::EncodeBase64(block.Build()); }

// Two blocks; `adjust` changes the second, whose link the chain expects.
Bytes Log(const std::function<void(Block&)>& adjust,
          const std::function<void(LogBuilder&)>& more = {}) {
  LogChain chain;
  LogBuilder log(chain);
  log.DataLines(2).Sign().Data("third").Sign(adjust);
  if (more) more(log);
  return log.bytes();
}

std::string Header(const std::string& offset, const std::string& problem, const std::string& code) {
  return "  header malformed at offset " + offset + ": " + problem + " (reader code " + code +
         ")\n";
}

const Case kCases[] = {
    // The container's fields and faults are the library's diagnosis, whose
    // rows are in the decrypt tests; these pin how each kind of line reads.
    {"BadMagic",
     [] { return Container{.magic = "QVEX"}.Build(); },
     {"--as", "container"},
     Header("0", "magic 51564558, expected 51564553", "1, MagicVersionOrIvUnreadable")},
    {"OneByteIsNoContainer",
     [] { return testing::BytesOf("Q"); },
     {},
     ": unknown, 1 bytes, 1 line: no \"QVES\" magic and no signature line\n",
     65},
    {"WrappedKeyCutShort",
     [] { return Container{.cutTo = 100}.Build(); },
     {},
     Header("16", "wrapped key of record 1: 256 bytes, 84 left", "3, Truncated")},
    {"SecondRecordUsed",
     [] {
       return Container{.records = Records{WrappedFor(kKeyId11, KeyBlock(SessionKey())),
                                           WrappedFor(kKeyId10, KeyBlock(SessionKey()))}}
           .Build();
     },
     {},
     "  record 2 at offset 272: tag P, key 0a000000, wrapped key 256 bytes (used)\n"},
    {"WrongKey",
     [] {
       return Container{.records = Records{WrappedFor(kKeyId11, KeyBlock(SessionKey()))}}.Build();
     },
     {"--seal"},
     "  session key: no record for the built-in key 0a000000\n"
     "  seal: not reached, the session key does not open\n"},
    {"CrcMismatch",
     [] {
       return Container{.records = Records{WrappedFor(
                            kKeyId10, testing::Concat(SessionKey(), Bytes{1, 2, 3, 4}))}}
           .Build();
     },
     {},
     "  session key: record 1 unwraps, CRC does not match, key material 32 bytes\n"},
    {"NoSeal",
     [] { return Container{.body = Pattern(100), .seal = std::nullopt}.Build(); },
     {"--seal"},
     "  payload 112 bytes, a whole number of 16-byte blocks, the last one's padding valid\n"
     "  session key: record 1 unwraps, CRC matches, key material 32 bytes\n"
     "  seal: no trailer in 100 bytes of plaintext: closing tag "},
    {"CutAfterTheIv",
     [] { return Container{}.Header(); },
     {"--seal"},
     "  payload 0 bytes, none: the file ends right after the IV, cut short\n"},
    {"CutAtABlock",
     [] { return Container{.body = Pattern(20000), .cutTo = 288 + 4096}.Build(); },
     {},
     "  payload 4096 bytes, a whole number of 16-byte blocks, the last one's padding invalid: cut "
     "short or damaged\n"},
    {"SealOfAnotherKey",
     [] { return Container{.seal = testing::Seal{.keyId = KeyIdOf(12)}}.Build(); },
     {"--seal"},
     "does not verify (BadSignature): the seal names key 0c000000, not the built-in verification "
     "key 0b000000\n"},
    {"GoodSeal",
     [] { return Container{.body = Pattern(20000)}.Build(); },
     {"--seal"},
     "  seal: 276 bytes, key 0b000000, signature 256 bytes, verifies (Success)\n"},

    {"LogChangedLine",
     [] { return Log([](auto& b) { b.signOver = std::vector<std::string>{"other"}; }); },
     {},
     " (32 bytes) matches, signature 256 bytes: BlockInvalid\n"},
    {"LogBrokenLink",
     [] { return Log([](auto& b) { b.link = Bytes(32, 0xAB); }); },
     {},
     "  line 5: covers 4, id 0, text \"\", link abababab.. (32 bytes) differs, signature 256 "
     "bytes: BlockChainBreak\n"},
    {"LogEscapedText",
     [] { return Log([](auto& b) { b.id = 7, b.text = "tab\there\\"; }); },
     {},
     "covers 4, id 7, text \"tab\\there\\\", link "},
    {"LogEmptySignature",
     [] {
       LogChain chain;
       return LogBuilder(chain).DataLines(2).EmptySignature().bytes();
     },
     {},
     "  line 3: covers 1-2, empty payload: BlockNoSignature\n"},
    {"LogOversizedText",
     [] {
       LogChain chain;
       return LogBuilder(chain).SignatureLine(Base64({.textLength = 4096})).bytes();
     },
     {},
     "  line 1: covers none, malformed at offset 10: text length 4096, at most 2048: "
     "BlockInvalid\n"},
    {"LogLinkPastEnd",
     [] {
       LogChain chain;
       return LogBuilder(chain)
           .SignatureLine(Base64({.link = Bytes(8, 1), .linkLength = 90}))
           .bytes();
     },
     {},
     "malformed at offset 18: link: 90 bytes, 12 left: BlockInvalid\n"},
    {"LogNulAndTail",
     [] {
       LogChain chain;
       return LogBuilder(chain).Data(std::string("abc\0def", 7)).Sign().DataLines(2).bytes();
     },
     {},
     "BlockOk\n  4 lines, 1 signature line\n"
     "  first link: e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855\n"
     "  last chain value: "},
    {"LogNulAndTailIgnored",
     [] {
       LogChain chain;
       return LogBuilder(chain).Data(std::string("abc\0def", 7)).Sign().DataLines(2).bytes();
     },
     {},
     "\n  unsigned tail: lines 3-4\n  ignored: 3 bytes after a NUL on 1 line (first at line 1)\n"},
    {"LogEndOfInput",
     [] {
       return Log({}, [](LogBuilder& log) {
         log.Raw(
             "\x1A"
             "after");
       });
     },
     {},
     "  ignored: 5 bytes after the end-of-input byte 0x1A at offset "},
    {"NeitherKind",
     [] { return testing::BytesOf("just text\n"); },
     {},
     ": unknown, 10 bytes, 1 line: no \"QVES\" magic and no signature line\n",
     65},
    {"NameNotUtf8", [] { return Container{}.Build(); }, {}, "/c\\xe9: container, ", 0, "c\xe9"},
    {"StandardInput",
     [] { return Container{.body = Pattern(20000)}.Build(); },
     {"--seal"},
     "-: container, 20576 bytes\n  version 1\n",
     0,
     "-"},
    {"GzipLog",
     [] { return testing::Gzip(Log({})); },
     {},
     ": BlockOk\n  5 lines, 2 signature lines\n",
     0,
     "gz"},
    {"GzipLogCutShort",
     [] {
       const Bytes gzip = testing::Gzip(Log({}));
       return testing::Head(gzip, gzip.size() - 4);
     },
     {},
     "\n  cannot be read past line 5: the gzip data is cut short; ",
     66,
     "gz"},
    {"GzipLogNotGzip",
     [] { return Log({}); },
     {},
     "/file.gz: cannot be read: damaged gzip data\n",
     66,
     "gz"},
    {"Absent",
     [] { return Bytes(); },
     {},
     ": cannot be read: no such file or directory\n",
     66,
     "absent"},
    {"NotReadableByNobody",
     [] { return Bytes(); },
     {},
     ": cannot be read: permission denied\n",
     66,
     "nobody"},
    {"Fifo",
     [] { return Bytes(); },
     {},
     "/fifo: a FIFO, not a regular file; give - to read a stream from standard input\n",
     65,
     "fifo"},
    {"Empty", [] { return Bytes(); }, {}, "", 64, ""},
    {"ReaderGone", [] { return Container{}.Build(); }, {}, "", 74, "gone"},
};

class InspectCommandTest : public ::testing::TestWithParam<Case> {};

TEST_P(InspectCommandTest, PrintsTheFault) {
  testing::TempDir dir;
  const Case& c = GetParam();
  const Bytes file = c.file();
  const std::string name = c.given == "c\xe9" ? c.given : c.given == "gz" ? "file.gz" : "file";
  testing::WriteFile(dir / name, file);
  std::filesystem::permissions(
      dir / name, std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
  std::vector<std::string> args = {"inspect"};
  args.insert(args.end(), c.args.begin(), c.args.end());
  if (c.given == "fifo") {
    ASSERT_EQ(mkfifo((dir / "fifo").c_str(), 0644), 0);
  }
  const bool byPath = c.given != "-" && !c.given.empty();
  const std::string as = c.given == "absent" || c.given == "fifo" ? c.given : name;
  args.push_back(byPath ? (dir / as).string() : c.given);
  const auto run = testing::Run({.program = QVE_CLI_FILE,
                                 .args = args,
                                 .input = std::string(file.begin(), file.end()),
                                 .outputTo = c.given == "gone" ? "|x" : "",
                                 .asNobody = c.given == "nobody",
                                 .hangGuardSeconds = c.given == "fifo" ? 20u : 0u});
  EXPECT_EQ(run.exitCode, c.exitCode);
  EXPECT_NE(run.out.find(c.expected), std::string::npos) << run.out;
}

INSTANTIATE_TEST_SUITE_P(Files, InspectCommandTest, ::testing::ValuesIn(kCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(InspectCommandJsonTest, OneObjectPerFile) {
  testing::TempDir dir;
  testing::WriteFile(dir / "a.qves", Container{}.Build());
  LogChain chain;
  testing::WriteFile(dir / "b.log", LogBuilder(chain).DataLines(2).Sign().Data("x").Sign().bytes());
  const auto run = testing::RunCommand(
      QVE_CLI_FILE,
      {"inspect", "--json", "--seal", (dir / "a.qves").string(), (dir / "b.log").string()});
  ASSERT_EQ(run.exitCode, 0);
  const auto newline = run.out.find('\n');
  const auto container = nlohmann::json::parse(run.out.substr(0, newline));
  const auto log = nlohmann::json::parse(run.out.substr(newline + 1));
  EXPECT_EQ(container["recipients"][0]["used"], true);
  EXPECT_EQ(container["seal"]["verifies"], true);
  EXPECT_EQ(log["blocks"][1]["chain"], "matches");
  EXPECT_EQ(log["blocks"][1]["verdict"], "BlockOk");
  EXPECT_TRUE(log["ignored"].empty()) << log["ignored"];
  EXPECT_EQ(log["firstLink"], cli::Hex(LogChain::EmptyDigest()));
  EXPECT_EQ(log["lastChainValue"], cli::Hex(chain.value()));
}

}  // namespace
}  // namespace qve
