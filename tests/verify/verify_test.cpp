// SPDX-License-Identifier: Apache-2.0
// Signed logs: lines, the blocks of a file, chains of files, the writer's logs read back.
#include <gtest/gtest.h>

#include "platform/paths.h"
#include "tests/support/builders.h"
#include "tests/support/command_runner.h"
#include "tests/support/harness.h"
#include "tools/writer/log_signer.h"
#include "tools/writer/signature_block_writer.h"
#include "verify/chain_checker.h"
#include "verify/log_line.h"

namespace qve {
namespace {

using namespace testing;
using Blocks = std::vector<BlockResult>;
using Make = std::function<void(LogBuilder&)>;
constexpr auto U = BlockUnsigned, N = BlockNoSignature, I = BlockInvalid, C = BlockChainBreak;

std::uint32_t BadIn(const Blocks& blocks) {
  return std::uint32_t(
      std::count_if(blocks.begin(), blocks.end(), [](auto& b) { return b.verdict > N; }));
}

// '|' stands for the 0x1F marker and '~' for NUL.
std::string M(std::string s) {
  for (auto& c : s) c = c == '|' ? '\x1F' : c == '~' ? '\0' : c;
  return s;
}

TEST(ClassifyLine, SignatureLinesAndDataLines) {
  const struct {
    std::string line;
    bool signature = false;
    const char* text = nullptr;  // the whole line
    std::string payload = "";
  } rows[] = {
      // clang-format off
      {.line = ""}, {.line = "hello"}, {.line = "|"}, {.line = "||", .signature = true},
      {.line = "|QVYC|", .signature = true, .payload = "QVYC"}, {.line = "|||", .signature = true, .payload = "|"},
      {.line = "|abc"}, {.line = "abc|"}, {.line = " |abc|"}, {.line = "|abc| "}, {.line = "|abc|\r"},
      {.line = "|a\rb|", .signature = true, .payload = "a\rb"}, {.line = "ab~cd", .text = "ab"},
      {.line = "~||", .text = ""}, {.line = "|ab~|", .text = "|ab"}, {.line = "|~|", .text = "|"},
      {.line = "|ab|~junk", .signature = true, .text = "|ab|", .payload = "ab"},
      // clang-format on
  };
  for (const auto& row : rows) {
    const std::string marked = M(row.line);  // the line's views point into it
    const LogLine line = ClassifyLine(marked);
    EXPECT_EQ(std::tuple(line.isSignature, std::string(line.text), std::string(line.payload)),
              std::tuple(row.signature, M(row.text ? row.text : row.line), M(row.payload)));
  }
}

// A file written by a script, then `extra`; its bytes.
Bytes WriteLog(const std::string& script, const Make& extra, const fs::path& path) {
  LogChain chain;
  LogBuilder log(chain);
  log.Script(script);
  if (extra) extra(log);
  log.WriteTo(path);
  return log.bytes();
}

// One file verified alone: its blocks that are not BlockOk and, where given, its block count.
struct OneFileRow {
  std::string script;
  Blocks blocks = {};
  int count = -1;
  Make extra = {};
};

void ExpectOneFile(const std::vector<OneFileRow>& rows) {
  TempDir dir;
  for (const auto& row : rows) {
    WriteLog(row.script, row.extra, dir / "a.log");
    SCOPED_TRACE(row.script);
    const FileCheckResult result = Verify({WidePath(dir / "a.log")}).at(0);
    EXPECT_EQ(std::tie(result.fileName, result.blocks, result.badBlockCount),
              std::tuple(L"a.log", row.blocks, BadIn(row.blocks)));
    EXPECT_TRUE(row.count < 0 || result.blockCount == std::uint32_t(row.count));
  }
}

TEST(VerifyFiles, BlockVerdicts) {
  // clang-format off
  ExpectOneFile({
      {.script = "", .count = 0}, {.script = "a S S", .count = 2},
      {.script = "1 2 3 4", .blocks = {{U, 1, 4}}, .count = 1},
      {.script = "1 2 S 4 S 6", .blocks = {{U, 6, 6}}, .count = 3},
      {.script = "a ||", .blocks = {{N, 1, 2}}, .count = 1},
      {.script = "a b |QVY|", .blocks = {{N, 1, 3}}, .count = 1},
      {.script = "a |!QVY|", .blocks = {{N, 1, 2}}, .count = 1},
      {.script = "a b c |bm90IGEgYmxvY2s=|", .blocks = {{I, 1, 4}}, .count = 1},
      {.script = "a S |QUJD|", .blocks = {{I, 3, 3}}, .count = 2},
      {.script = "|| x || || y z", .blocks = {{N, 1, 1}, {N, 2, 3}, {N, 4, 4}, {U, 5, 6}}, .count = 4},
      // The next block links to the invalid one.
      {.script = "a S! d S", .blocks = {{I, 1, 2}}, .count = 2},
      {.script = "a S! b S0", .blocks = {{I, 1, 2}, {C, 3, 4}}, .count = 2},
      {.script = "a S# b S", .blocks = {{I, 1, 2}}, .count = 2},
      // Only the first signature line is lenient.
      {.script = "a S@ b S@", .blocks = {{C, 3, 4}}, .count = 2},
      {.script = "a |UVYCAAAA-AAAAAA|", .blocks = {{I, 1, 2}}},  // decoding stops at '-'
      // Linked to the digest of the payload "UVYC".
      {.script = "a |UVYC| b", .blocks = {{I, 1, 2}}, .count = 2,
       .extra = [](auto& l) { l.Sign([](Block& b) { b.link = writer::Sha256(Bytes{'Q', 'V', 2}); }); }},
      // What a signature must cover to verify.
      {.script = "crlf a b S"}, {.script = "a\rb \rc S"}, {.script = "x\r S"},
      {.script = "a crlf S lf c", .blocks = {{U, 3, 3}}}, {.script = "a S +tail", .blocks = {{U, 3, 3}}},
      {.script = "", .count = 1, .extra = [](auto& l) { l.Data("").Data("").Sign(); }},
      {.script = "a S +|QUJD|\r", .blocks = {{U, 3, 3}}}, {.script = "a S +|QUJD|\r\n", .blocks = {{I, 3, 3}}},
  });
  // clang-format on
}

// One file run alone: what the run hands over for each block, and the bytes
// the line rules ignore; each block leaves the digest of its signature line's payload.
struct Expected {
  BlockVerdict verdict;
  LineRange lines;
  bool coversNoLine = false;
  BlockParseResult parse = BlockParseResult::Parsed;
  std::uint32_t id = 0;
  std::string text = {};
};
struct DetailsRow {
  std::string script = {};
  std::vector<Expected> blocks = {};
  BytesAfterNul nul = {};
  std::uint32_t endLine = 0;  // of a 0x1A with bytes after it
  Make extra = {};
  ByteOrderMark mark = ByteOrderMark::None;
};

void ExpectDetails(const std::vector<DetailsRow>& rows) {
  using enum BlockParseResult;
  TempDir dir;
  const auto path = dir / "a.log";
  for (const auto& row : rows) {
    const Bytes written = WriteLog(row.script, row.extra, path);
    const std::string bytes(written.begin(), written.end());
    SCOPED_TRACE(row.script);
    const SeenFile seen = VerifyInOrder({WidePath(path)}).at(0);
    const FileDetail& file = seen.file;
    ASSERT_EQ(seen.blocks.size(), row.blocks.size());
    Bytes chainValue = LogChain::EmptyDigest();
    std::optional<Bytes> firstLink, lastChainValue;
    for (std::size_t b = 0; b < row.blocks.size(); ++b) {
      SCOPED_TRACE(b);
      const Expected& want = row.blocks[b];
      const BlockDetail& got = seen.blocks[b];
      EXPECT_EQ(std::tie(got.verdict, got.lines, got.coversNoLine, got.parse),
                std::tie(want.verdict, want.lines, want.coversNoLine, want.parse));
      EXPECT_EQ(got.expectedLink, chainValue);
      if (got.isUnsignedTail()) {
        EXPECT_EQ(got.chainValue, chainValue);
        EXPECT_EQ(file.unsignedTail, got.lines);
        continue;
      }
      // The signature line starts at the offset; its payload's bytes make the chain value.
      ASSERT_EQ(bytes.at(got.offset), '\x1F');
      EXPECT_TRUE(got.offset == 0 || bytes[got.offset - 1] == '\n');
      const std::size_t end = bytes.find('\n', got.offset);
      const std::string payload = bytes.substr(got.offset + 1, end - got.offset - 2);
      chainValue = writer::Sha256(payload.size() < 4 ? Bytes{} : Decode64(payload));
      EXPECT_EQ(got.chainValue, chainValue);
      EXPECT_EQ(got.stop.status, want.parse);
      if (want.parse == Parsed) {
        EXPECT_EQ(std::tuple(got.id, got.text, got.signatureLength),
                  std::tuple(want.id, want.text, std::uint64_t{256}));
        const bool linked = b > 0 && (got.verdict == BlockOk || got.verdict == C);
        EXPECT_TRUE(!linked || (got.link == got.expectedLink) == (got.verdict == BlockOk));
      }
      if (!lastChainValue && want.parse == Parsed) firstLink = got.link;
      lastChainValue = chainValue;
    }
    EXPECT_EQ(std::tie(file.firstLink, file.lastChainValue, file.afterNul),
              std::tie(firstLink, lastChainValue, row.nul));
    const std::size_t stop = bytes.find('\x1A');
    const EndOfInput end{row.endLine, stop, bytes.size() - stop - 1};
    EXPECT_EQ(file.endOfInput, row.endLine == 0 ? std::nullopt : std::optional(end));
    EXPECT_TRUE(file.opened && file.identity && !file.readError);
    EXPECT_EQ(file.counts.blockCount, row.blocks.size());
    EXPECT_EQ(file.byteOrderMark, row.mark);
    // However the first bytes come in pieces.
    EXPECT_EQ(
        VerifyInOrder({WidePath(path)}, {.limits = {.readBuffer = 2}}).at(0).file.byteOrderMark,
        row.mark);
  }
}

TEST(VerifyInOrder, Details) {
  using enum BlockParseResult;
  // clang-format off
  ExpectDetails({
      {.script = "a b S c S d", .blocks = {{BlockOk, {1, 3}}, {BlockOk, {4, 5}}, {U, {6, 6}, false, Empty}}},
      {.script = "S S", .blocks = {{BlockOk, {1, 1}, true}, {BlockOk, {2, 2}, true}}},
      {.script = "a || b", .blocks = {{N, {1, 2}, false, Empty}, {U, {3, 3}, false, Empty}}},
      {.script = "a |QUJD|", .blocks = {{I, {1, 2}, false, BadMagic}}},
      {.script = "a S# b S@", .blocks = {{I, {1, 2}}, {C, {3, 4}}}}, {.script = "a S@", .blocks = {{BlockOk, {1, 2}}}},
      {.blocks = {{I, {1, 1}, true, TextInvalid}}, .extra = [](auto& l) { l.SignatureLine(writer::EncodeBase64(Block{.textLength = 4096}.Build())); }},
      {.blocks = {{BlockOk, {1, 2}, false, Parsed, 7, "t"}}, .extra = [](auto& l) { l.Data("x").Sign([](Block& b) { b.id = 7, b.text = "t"; }); }},
      {.script = "ab~cd x~yz~ S a~", .blocks = {{BlockOk, {1, 3}}, {U, {4, 4}, false, Empty}}, .nul = {1, 2, 5}},
      {.script = "a +b\032c\n S d", .blocks = {{U, {1, 2}, false, Empty}}, .endLine = 2},
      {.script = "a S +\032", .blocks = {{BlockOk, {1, 2}}}},
      {.script = "a S \032 b", .blocks = {{BlockOk, {1, 2}}}, .endLine = 3},
      // Byte-order marks: said, and read as bytes of the first line.
      {.blocks = {{BlockOk, {1, 2}}}, .extra = [](auto& l) { l.Data("\xEF\xBB\xBFx").Sign(); }, .mark = ByteOrderMark::Utf8},
      {.blocks = {{U, {1, 1}, false, Empty}}, .extra = [](auto& l) { l.Data("\xFF\xFE"); },
       .mark = ByteOrderMark::Utf16LittleEndian},
      {.blocks = {{U, {1, 1}, false, Empty}}, .extra = [](auto& l) { l.Data("\xFE\xFFx"); },
       .mark = ByteOrderMark::Utf16BigEndian},
      {.blocks = {{U, {1, 2}, false, Empty}}, .extra = [](auto& l) { l.Data("\xEF\xBB").Data("\xBF"); }},
      {.script = "a", .blocks = {{U, {1, 2}, false, Empty}}, .extra = [](auto& l) { l.Data("\xFF\xFE"); }},
  });
  // clang-format on
  TempDir dir;
  const SeenFile missing = VerifyInOrder({WidePath(dir / "missing.log")}).at(0);
  EXPECT_FALSE(missing.file.opened || missing.file.identity || !missing.blocks.empty());
  EXPECT_EQ(missing.file.readError, std::errc::no_such_file_or_directory);
  EXPECT_EQ(VerifyInOrder({WidePath(dir.path())}).at(0).file.readError, std::errc::is_a_directory);
}

// The first covered lines of each block, as a page shows them: at most so many, each up to
// its NUL and cut at so many bytes, never inside a character.
TEST(VerifyInOrder, Excerpts) {
  TempDir dir;
  LogChain chain;
  LogBuilder log(chain);
  log.Data("abcd\xc3\xa9z").Data("ab\xe2\x82\xac").Data(std::string("x\0yz", 4));
  log.Data("fourth").Sign().Data("tail").WriteTo(dir / "a.log");
  const auto seen =
      VerifyInOrder({WidePath(dir / "a.log")}, {.excerptLines = 3, .excerptLineBytes = 5}).at(0);
  EXPECT_EQ(seen.blocks.at(0).excerpt,
            (std::vector<CoveredLine>{
                {1, "abcd", 7, false}, {2, "ab\xe2\x82\xac", 5, false}, {3, "x", 1, true}}));
  EXPECT_EQ(seen.blocks.at(1).excerpt, (std::vector<CoveredLine>{{6, "tail", 4, false}}));
  EXPECT_TRUE(VerifyInOrder({WidePath(dir / "a.log")}).at(0).blocks.at(0).excerpt.empty());
}

// The file rewritten before its block is read again: a change only where that reading does
// not end at the signature line; read again from its start, it gives what a fresh run gives.
TEST(VerifyFiles, FileChangedBeforeTheSecondReading) {
  LogChain chain;
  const Bytes signed_ = LogBuilder(chain).Data("line one").Data("line two").Sign().bytes();
  const auto with = [&](std::size_t at, std::size_t cut, std::string_view put) {
    return Concat(Concat(Head(signed_, at), BytesOf(put)), std::span(signed_).subspan(at + cut));
  };
  // clang-format off
  const std::pair<Bytes, bool> rows[] = {
      {signed_, false}, {with(5, 1, "O"), false}, {Head(signed_, 5), true}, {with(8, 0, "!"), true}, {{}, true}};
  // clang-format on
  TempDir dir;
  const auto path = dir / "a.log";
  for (const auto& [now, changed] : rows) {
    WriteFile(path, signed_);
    DetailRecorder recorder;
    ChainChecker checker(recorder, {.limits = {.heldBlockBytes = 5}});
    TextLineReader reader(path.string());
    checker.BeginFile(WidePath(path), &reader);
    std::string_view piece;
    bool lineEnds = false;
    for (int ended = 0; reader.NextPiece(&piece, &lineEnds); ended += lineEnds) {
      if (ended == 2 && piece.front() == '\x1F') WriteFile(path, now);
      checker.OnPiece(piece, lineEnds);
    }
    checker.EndFile();
    EXPECT_EQ(checker.file().changedWhileRead, changed) << now.size();
    TextLineReader again(path.string());
    checker.BeginFileAgain(&again);
    while (again.NextPiece(&piece, &lineEnds)) checker.OnPiece(piece, lineEnds);
    checker.EndFile();
    recorder.OnFileEnd(checker.file());
    SeenFile fresh = VerifyInOrder({WidePath(path)}).at(0);
    fresh.file.reading = 2;
    EXPECT_EQ(recorder.seen.at(0), fresh) << now.size();
  }
}

// Files written as one chain in the order listed ("/" makes a folder), the paths `given`
// verified, each result in name order.
TEST(VerifyFiles, Chains) {
  const struct {
    std::vector<std::pair<std::string, std::string>> files;
    std::vector<std::string> given = {"a.log", "b.log"};
    std::vector<std::pair<std::wstring, Blocks>> expected;
  } rows[] = {
      // clang-format off
      {.files = {{"a.log", "a"}, {"b.log", "b S@"}}, .expected = {{L"a.log", {{U, 1, 1}}}, {L"b.log", {{C, 1, 2}}}}},
      {.files = {{"a.log", "a S b E"}, {"b.log", "c S"}}, .expected = {{L"a.log", {{N, 3, 4}}}, {L"b.log", {}}}},
      {.files = {{"a.log", "a S b ||"}, {"b.log", "c S"}}, .expected = {{L"a.log", {{N, 3, 4}}}, {L"b.log", {{C, 1, 2}}}}},
      // Missing and unopenable files leave the chain alone.
      {.files = {{"a.log", "a S"}, {"c.log", "/"}, {"d.log", "d S"}}, .given = {"d.log", "c.log", "b.log", "a.log"},
       .expected = {{L"a.log", {}}, {L"b.log", {}}, {L"c.log", {}}, {L"d.log", {}}}},
      {.files = {{"one", "/"}, {"two", "/"}, {"one/x.log", "a"}, {"two/x.log", "b"}, {"w.log", "c"}},
       .given = {"two/x.log", "w.log", "one/x.log"},
       .expected = {{L"w.log", {{U, 1, 1}}}, {L"x.log", {{U, 1, 1}}}, {L"x.log", {{U, 1, 1}}}}},
      // clang-format on
  };
  for (const auto& row : rows) {
    TempDir dir;
    LogChain chain;
    for (const auto& [name, script] : row.files)
      script == "/" ? void(fs::create_directory(dir / name))
                    : LogBuilder(chain).Script(script).WriteTo(dir / name);
    std::vector<std::wstring> paths;
    for (const auto& name : row.given) paths.push_back(WidePath(dir / name));
    const auto results = Verify(paths);
    std::vector<std::tuple<std::wstring, Blocks, std::uint32_t>> got, expected;
    for (const auto& r : results) got.emplace_back(r.fileName, r.blocks, r.badBlockCount);
    for (const auto& [name, blocks] : row.expected)
      expected.emplace_back(name, blocks, BadIn(blocks));
    EXPECT_EQ(got, expected) << row.given[0];
  }
}

// Chains of three, the oldest two gzip'd (the middle one in two members): read as their
// content they give what the plain files give, blocks held or read again.
TEST(VerifyInOrder, GzipContent) {
  const std::vector<std::string> rows[] = {{"a S! b S", "c S# d", "S@ e S tail"},
                                           {"ab~cd S", "a +b\032c\n S d", "crlf x S"}};
  const char* names[] = {"System_1.log", "System_2.log", "system.log"};
  for (const auto& scripts : rows) {
    TempDir dir;
    for (const char* folder : {"plain", "gz"}) fs::create_directories(dir / folder);
    LogChain chain;
    std::vector<std::wstring> plain, gzip;
    for (int i = 0; i < 3; ++i) {
      LogBuilder log(chain);
      log.Script(scripts[i]).WriteTo(dir / "plain" / names[i]);
      const Bytes& b = log.bytes();
      const std::string name = names[i] + std::string(i < 2 ? ".gz" : "");
      const Bytes twoMembers =
          Concat(Gzip(Head(b, b.size() / 2)), Gzip(std::span(b).subspan(b.size() / 2)));
      WriteFile(dir / "gz" / name, i == 0 ? Gzip(b) : i == 1 ? twoMembers : b);
      plain.push_back(WidePath(dir / "plain" / names[i]));
      gzip.push_back(WidePath(dir / "gz" / name));
    }
    const auto asPlain = [&](std::vector<SeenFile> seen) {
      for (std::size_t i = 0; i < seen.size(); ++i) {
        FileDetail& file = seen[i].file;
        EXPECT_EQ(file.name, platform::FileNameOf(gzip[i])) << scripts[0];
        file.path = plain[i];
        file.name = platform::FileNameOf(plain[i]);
        file.identity = VerifyInOrder({plain[i]}).at(0).file.identity;
      }
      return seen;
    };
    for (RunOptions options :
         {RunOptions{.excerptLines = 2, .excerptLineBytes = 4}, RunOptions{.limits = kReadAgain}}) {
      const auto expected = VerifyInOrder(plain, options);
      options.gunzip = true;
      EXPECT_EQ(asPlain(VerifyInOrder(gzip, options)), expected) << scripts[0];
    }
  }
}

#ifndef _WIN32
// The dev tool's signed logs read back: a signature line every n lines and after the last,
// id and text in every block, a second file chained to the first.
TEST(SignLog, RoundTrip) {
  TempDir dir;
  WriteFile(dir / "in1.txt", std::string("a\nb\r\nc\n\nd\re"));
  WriteFile(dir / "in2.txt", std::string());
  WriteFile(dir / "in3.txt", M("a\n|abc|\n"));  // would read as a signature line
  const std::string key = DevKeyPath("verification-private.pem"), in = (dir / "in1.txt").string();
  const std::string one = (dir / "System_1.log").string(), two = (dir / "System_2.log").string();
  const auto run = [](std::vector<std::string> args) {
    args.insert(args.begin(), "sign-log");
    return RunCommand(QVE_DEV_CLI_FILE, args).exitCode;
  };
  EXPECT_EQ(run({"--key", key, "-n", "2", "--id", "7", "--text", "t", in, one}), 0);
  EXPECT_EQ(run({"--key", key, "--chain-from", one, (dir / "in2.txt").string(), two}), 0);
  const auto results = Verify({WidePath(two), WidePath(one)});
  EXPECT_EQ(std::pair(results.at(0).blockCount, results.at(1).blockCount), std::pair(3u, 1u));
  for (const auto& result : results) EXPECT_EQ(result.blocks, Blocks{});
  const auto detailed = VerifyInOrder({WidePath(one)});
  for (const BlockDetail& block : detailed.at(0).blocks)
    EXPECT_TRUE(block.id == 7 && block.text == "t");
  EXPECT_EQ(run({"--key", key, (dir / "in3.txt").string(), two}), 65);
  // Line ends stay as they were; a last CR stays in its line, not in a CR LF.
  WriteFile(dir / "in4.txt", M("x\r\n||\r"));
  const std::string four = (dir / "system.log").string();
  EXPECT_EQ(run({"--key", key, (dir / "in4.txt").string(), four}), 0);
  EXPECT_EQ(Verify({WidePath(four)}).at(0).blocks, Blocks{});
  EXPECT_EQ(Head(ReadFile(four), 8), BytesOf(M("x\r\n||\r\r\n")));
}
#endif

}  // namespace
}  // namespace qve
