// Signed logs: how a line is read, the blocks of one file, a chain of files,
// and the writer's signed logs read back by the library.
#include <gtest/gtest.h>

#include <sstream>

#include "crypto/signature_block.h"
#include "tests/support/builders.h"
#include "tests/support/command_runner.h"
#include "tests/support/harness.h"
#include "tools/writer/log_signer.h"
#include "verify/log_line.h"

namespace qve {
namespace {

using namespace testing;
using Blocks = std::vector<BlockResult>;
using Make = std::function<void(LogBuilder&)>;
constexpr auto U = BlockUnsigned, N = BlockNoSignature, I = BlockInvalid, C = BlockChainBreak;

// '|' stands for the 0x1F marker and '~' for NUL.
std::string M(std::string s) {
  for (auto& c : s) c = c == '|' ? '\x1F' : c == '~' ? '\0' : c;
  return s;
}

TEST(ClassifyLine, SignatureLinesAndDataLines) {
  const struct {
    std::string line;
    bool signature;
    std::string text, payload;
  } rows[] = {
      {"", false, "", ""},
      {"hello", false, "hello", ""},
      {"|", false, "|", ""},
      {"||", true, "||", ""},
      {"|QVYC|", true, "|QVYC|", "QVYC"},
      {"|||", true, "|||", "|"},
      {"|abc", false, "|abc", ""},
      {"abc|", false, "abc|", ""},
      {" |abc|", false, " |abc|", ""},
      {"|abc| ", false, "|abc| ", ""},
      {"|abc|\r", false, "|abc|\r", ""},
      {"|a\rb|", true, "|a\rb|", "a\rb"},
      {"ab~cd", false, "ab", ""},
      {"ab~", false, "ab", ""},
      {"~||", false, "", ""},
      {"|ab~|", false, "|ab", ""},
      {"|ab|~junk", true, "|ab|", "ab"},
      {"|~|", false, "|", ""},
  };
  for (const auto& row : rows) {
    const LogLine line = ClassifyLine(M(row.line));
    EXPECT_EQ(line.isSignature, row.signature) << row.line;
    EXPECT_EQ(line.text, M(row.text)) << row.line;
    EXPECT_EQ(line.payload, M(row.payload)) << row.line;
  }
}

void Link(Block& b, Bytes link) { b.link = std::move(link); }

// Each row is one file verified alone: its blocks that are not BlockOk, and
// where given, its block count and bad block count.
TEST(VerifyFiles, OneFile) {
  const Bytes elsewhere(32, 0xAB), truncated = {'Q', 'V', 2};
  const auto other = [](Block& b) { b.signOver = {{"tampered"}}; };
  const struct {
    const char* name;
    Make make;
    Blocks blocks;
    int count = -1, bad = -1;
  } rows[] = {
      {"empty file", [](auto&) {}, {}, 0, 0},
      {"data only", [](auto& l) { l.DataLines(4); }, {{U, 1, 4}}, 1, 0},
      {"six lines",
       [](auto& l) { l.Data("1").Data("2").Sign().Data("4").Sign().Data("6"); },
       {{U, 6, 6}},
       3,
       0},
      {"signature lines in a row", [](auto& l) { l.Data("a").Sign().Sign(); }, {}, 2, 0},
      {"empty payload", [](auto& l) { l.Data("a").SignatureLine(""); }, {{N, 1, 2}}, 1, 0},
      {"three characters",
       [](auto& l) { l.Data("a").Data("b").SignatureLine("QVY"); },
       {{N, 1, 3}},
       1,
       0},
      {"four decoding to nothing",
       [](auto& l) { l.Data("a").SignatureLine("!QVY"); },
       {{N, 1, 2}},
       1,
       0},
      {"garbage payload",
       [](auto& l) { l.DataLines(3).SignatureLine("bm90IGEgYmxvY2s="); },
       {{I, 1, 4}},
       1,
       1},
      {"block covering no line",
       [](auto& l) { l.Data("a").Sign().SignatureLine("QUJD"); },
       {{I, 3, 3}},
       2,
       1},
      {"line numbers",
       [](auto& l) {
         l.SignatureLine("").Data("x").SignatureLine("").SignatureLine("").Data("y").Data("z");
       },
       {{N, 1, 1}, {N, 2, 3}, {N, 4, 4}, {U, 5, 6}},
       4,
       0},
      {"signed over other lines",
       [&](auto& l) { l.Data("a").Sign(other).Data("d").Sign(); },
       {{I, 1, 2}},
       2,
       1},
      {"signed by another key",
       [](auto& l) { l.Data("a").Sign([](Block& b) { b.key = DevDecryptionPrivateKey(); }); },
       {{I, 1, 2}}},
      {"version 1",
       [](auto& l) { l.Data("a").Sign([](Block& b) { b.version = 1; }); },
       {{I, 1, 2}}},
      {"decoding stops at a space",
       [](auto& l) { l.Data("a").SignatureLine("UVYCAAAA AAAAAA"); },
       {{I, 1, 2}}},
      {"next block links to a truncated block",
       [&](auto& l) {
         l.Data("a").SignatureLine("UVYC").Data("b").Sign(
             [&](Block& b) { Link(b, writer::Sha256(truncated)); });
       },
       {{I, 1, 2}}},
      {"linked past an invalid block",
       [&](auto& l) {
         l.Data("a").Sign(other).Data("b").Sign([](Block& b) { Link(b, LogChain::EmptyDigest()); });
       },
       {{I, 1, 2}, {C, 3, 4}},
       2,
       2},
      {"only the first signature line is lenient",
       [&](auto& l) {
         l.Data("a").Sign([&](Block& b) { Link(b, elsewhere); }).Data("b").Sign([&](Block& b) {
           Link(b, elsewhere);
         });
       },
       {{C, 3, 4}},
       2,
       1},
      // Line rules: what a signature must cover to verify.
      {"CR LF lines", [](auto& l) { l.CrLf().Data("a").Data("b").Sign(); }, {}},
      {"CR LF signature line",
       [](auto& l) { l.Data("a").CrLf().Sign().Lf().Data("c"); },
       {{U, 3, 3}}},
      {"lone CR stays", [](auto& l) { l.Data("a\rb").Data("\rc").Sign(); }, {}},
      {"lone CR is covered",
       [](auto& l) { l.Data("a\rb").Sign([](Block& b) { b.signOver = {{"ab"}}; }); },
       {{I, 1, 2}}},
      {"CR before LF is no part of the line",
       [](auto& l) { l.Data("x\r").Sign([](Block& b) { b.signOver = {{"x"}}; }); },
       {}},
      {"empty lines are covered", [](auto& l) { l.Data("").Data("").Sign(); }, {}},
      {"an empty line counts",
       [](auto& l) { l.Data("").Data("x").Sign([](Block& b) { b.signOver = {{"x"}}; }); },
       {{I, 1, 3}}},
      {"NUL ends what is covered", [](auto& l) { l.Data(M("ab~cd")).Sign(); }, {}},
      {"NUL as the third byte",
       [](auto& l) { l.Data(M("ab~")).Sign([](Block& b) { b.signOver = {{"ab"}}; }); },
       {}},
      {"0x1A ends the input",
       [](auto& l) {
         l.Data("a")
             .Raw(
                 "b\x1A"
                 "c\n")
             .Sign()
             .Data("d");
       },
       {{U, 1, 2}}},
      {"last line without LF", [](auto& l) { l.Data("a").Sign().Raw("tail"); }, {{U, 3, 3}}},
      {"0x1F 0x0D at the end of the file",
       [](auto& l) { l.Data("a").Sign().Raw(M("|QUJD|\r")); },
       {{U, 3, 3}}},
      {"0x1F 0x0D LF", [](auto& l) { l.Data("a").Sign().Raw(M("|QUJD|\r\n")); }, {{I, 3, 3}}},
      {"lone 0x1F is data", [](auto& l) { l.Data("\x1F").Sign(); }, {}},
      {"space before the marker", [](auto& l) { l.Data("a").Sign().Raw(M(" ||\n")); }, {{U, 3, 3}}},
      {"space after the marker", [](auto& l) { l.Data("a").Sign().Raw(M("|| \n")); }, {{U, 3, 3}}},
      {"signed only after NUL",
       [](auto& l) { l.Data("a").Sign().Raw(M("|QUJD~|\n")); },
       {{U, 3, 3}}},
  };
  TempDir dir;
  for (const auto& row : rows) {
    LogChain chain;
    LogBuilder log(chain);
    row.make(log);
    log.WriteTo(dir / "a.log");
    const FileCheckResult result = Verify({WidePath(dir / "a.log")}).at(0);
    EXPECT_EQ(result.fileName, L"a.log") << row.name;
    EXPECT_EQ(result.blocks, row.blocks) << row.name;
    EXPECT_TRUE(row.count < 0 || result.blockCount == std::uint32_t(row.count)) << row.name;
    EXPECT_TRUE(row.bad < 0 || result.badBlockCount == std::uint32_t(row.bad)) << row.name;
  }
}

// Each row writes its files as one chain, in the order listed (a null maker
// makes a folder of that name), verifies `given` and expects each result in
// name order.
TEST(VerifyFiles, Chains) {
  const auto elsewhere = [](Block& b) { b.link = Bytes(32, 0xAB); };
  const struct {
    const char* name;
    std::vector<std::pair<std::string, Make>> files;
    std::vector<std::string> given;
    std::vector<std::pair<std::wstring, Blocks>> expected;
  } rows[] = {
      {"name order",
       {{"System_1.log", [](auto& l) { l.DataLines(2).Sign().Data("x").Sign(); }},
        {"System_2.log", [](auto& l) { l.DataLines(3).Sign(); }},
        {"system.log", [](auto& l) { l.Data("y").Sign().Data("tail"); }}},
       {"system.log", "System_2.log", "System_1.log"},
       {{L"System_1.log", {}}, {L"System_2.log", {}}, {L"system.log", {{U, 3, 3}}}}},
      {"swapped names",
       {{"b.log", [](auto& l) { l.DataLines(2).Sign(); }},
        {"a.log", [](auto& l) { l.Data("x").Sign(); }}},
       {"b.log", "a.log"},
       {{L"a.log", {}}, {L"b.log", {{C, 1, 3}}}}},
      {"only the first file is lenient",
       {{"a.log", [&](auto& l) { l.Data("a").Sign(elsewhere); }},
        {"b.log", [&](auto& l) { l.Data("c").Sign(elsewhere); }}},
       {"a.log", "b.log"},
       {{L"a.log", {}}, {L"b.log", {{C, 1, 2}}}}},
      {"no leniency after an unsigned first file",
       {{"a.log", [](auto& l) { l.Data("unsigned"); }},
        {"b.log", [&](auto& l) { l.Data("b").Sign(elsewhere); }}},
       {"a.log", "b.log"},
       {{L"a.log", {{U, 1, 1}}}, {L"b.log", {{C, 1, 2}}}}},
      {"an empty payload resets the link",
       {{"a.log", [](auto& l) { l.Data("a").Sign().Data("b").EmptySignature(); }},
        {"b.log", [](auto& l) { l.Data("c").Sign(); }}},
       {"a.log", "b.log"},
       {{L"a.log", {{N, 3, 4}}}, {L"b.log", {}}}},
      {"linked past an empty payload",
       {{"a.log", [](auto& l) { l.Data("a").Sign().Data("b").SignatureLine(""); }},
        {"b.log", [](auto& l) { l.Data("c").Sign(); }}},
       {"a.log", "b.log"},
       {{L"a.log", {{N, 3, 4}}}, {L"b.log", {{C, 1, 2}}}}},
      {"missing and unopenable files leave the chain alone",
       {{"a.log", [](auto& l) { l.Data("a").Sign(); }},
        {"c.log", nullptr},
        {"d.log", [](auto& l) { l.Data("d").Sign(); }}},
       {"d.log", "c.log", "b.log", "a.log"},
       {{L"a.log", {}}, {L"b.log", {}}, {L"c.log", {}}, {L"d.log", {}}}},
      {"one name in two folders",
       {{"one", nullptr},
        {"two", nullptr},
        {"one/x.log", [](auto& l) { l.Data("a"); }},
        {"two/x.log", [](auto& l) { l.Data("b"); }},
        {"w.log", [](auto& l) { l.Data("c"); }}},
       {"two/x.log", "w.log", "one/x.log"},
       {{L"w.log", {{U, 1, 1}}}, {L"x.log", {{U, 1, 1}}}, {L"x.log", {{U, 1, 1}}}}},
#ifndef _WIN32
      // Under Windows these names have no form in the ANSI code page.
      {"UTF-16 order",
       {{"System_\xee\x80\x80.log", [](auto& l) { l.Data("1"); }},
        {"System_\xf0\x9f\x98\x80.log", [](auto& l) { l.Data("2"); }},
        {"System_a.log", [](auto& l) { l.Data("3"); }},
        {"System_B.log", [](auto& l) { l.Data("4"); }}},
       {"System_\xee\x80\x80.log", "System_a.log", "System_\xf0\x9f\x98\x80.log", "System_B.log"},
       {{L"System_B.log", {{U, 1, 1}}},
        {L"System_a.log", {{U, 1, 1}}},
        {L"System_\U0001F600.log", {{U, 1, 1}}},
        {L"System_\uE000.log", {{U, 1, 1}}}}},
#endif
  };
  for (const auto& row : rows) {
    TempDir dir;
    LogChain chain;
    for (const auto& [name, make] : row.files) {
      if (!make) {
        fs::create_directory(dir / name);
        continue;
      }
      LogBuilder log(chain);
      make(log);
      log.WriteTo(dir / name);
    }
    std::vector<std::wstring> paths;
    for (const auto& name : row.given) paths.push_back(WidePath(dir / name));
    const auto results = Verify(paths);
    ASSERT_EQ(results.size(), row.expected.size()) << row.name;
    for (std::size_t i = 0; i < results.size(); ++i) {
      EXPECT_EQ(results[i].fileName, row.expected[i].first) << row.name;
      EXPECT_EQ(results[i].blocks, row.expected[i].second) << row.name;
      EXPECT_EQ(results[i].badBlockCount,
                row.expected[i].second.size() -
                    std::count_if(row.expected[i].second.begin(), row.expected[i].second.end(),
                                  [](auto& b) { return b.verdict == U || b.verdict == N; }))
          << row.name;
    }
  }
}

// The writer's signed logs, read back by the library.
TEST(SignLog, RoundTrips) {
  const auto sign = [](const std::string& input, std::size_t every, Bytes link, Bytes* chain) {
    std::istringstream in(input);
    std::ostringstream out;
    *chain = writer::SignLog(in, out,
                             {.key = DevVerificationPrivateKey(),
                              .id = 42,
                              .text = "host-7",
                              .linesPerBlock = every,
                              .link = link});
    return out.str();
  };
  TempDir dir;
  Bytes afterFirst, ignored;
  const std::string first = sign("a\nb\r\nc\n\nd\re", 2, LogChain::EmptyDigest(), &afterFirst);
  EXPECT_EQ(std::count(first.begin(), first.end(), '\x1F'), 6);  // three signature lines
  WriteFile(dir / "System_1.log", first);
  WriteFile(dir / "System_2.log", sign("4\n5\n", 1, afterFirst, &ignored));
  WriteFile(dir / "System_3.log", sign("", 5, ignored, &ignored));
  auto results = Verify({WidePath(dir / "System_1.log"), WidePath(dir / "System_2.log"),
                         WidePath(dir / "System_3.log")});
  EXPECT_EQ(results[0].blockCount, 3u);
  EXPECT_EQ(results[1].blockCount, 2u);
  EXPECT_EQ(results[2].blockCount, 1u);
  for (const auto& result : results) EXPECT_EQ(result.blocks, Blocks{});
  std::istringstream again(first);
  EXPECT_EQ(writer::ChainValueAfter(again), afterFirst);
  const std::size_t last = first.rfind('\x1F', first.size() - 3);
  SignatureBlock block;
  const Bytes bytes = Decode64(first.substr(last + 1, first.size() - last - 3));
  ASSERT_EQ(ParseSignatureBlock(bytes, block), BlockParseResult::Parsed);
  EXPECT_EQ(block.id, 42u);
  EXPECT_EQ(block.text, "host-7");
  EXPECT_EQ(writer::Sha256(bytes), afterFirst);
  WriteFile(dir / "System_2.log", sign("4\n5\n", 1, LogChain::EmptyDigest(), &ignored));
  results = Verify({WidePath(dir / "System_1.log"), WidePath(dir / "System_2.log")});
  EXPECT_EQ(results[1].blocks, (Blocks{{C, 1, 2}}));
  // Input that a reader would see differently is refused.
  for (const std::string& input : {M("a\n|abc|\n"), M("||\r\n"),
                                  std::string("a\x1A"
                                              "b\n")})
    EXPECT_THROW(sign(input, 1, {}, &ignored), std::runtime_error) << input;
  EXPECT_NO_THROW(sign(M("|\n ||\n|| \n"), 1, {}, &ignored));
  std::istringstream plain("a\nb\n"), empty(M("||\n"));
  EXPECT_EQ(writer::ChainValueAfter(plain), LogChain::EmptyDigest());
  EXPECT_EQ(writer::ChainValueAfter(empty), LogChain::EmptyDigest());
}

#ifndef _WIN32
// The programs run through a POSIX shell; scripts/test-windows runs them under Wine.
TEST(SignLog, Command) {
  TempDir dir;
  WriteFile(dir / "in1.txt", std::string("a\nb\nc\n"));
  WriteFile(dir / "in2.txt", std::string("d\ne"));
  const std::string key = DevKeyPath("verification-private.pem"), in = (dir / "in1.txt").string();
  const auto run = [](std::vector<std::string> args) {
    args.insert(args.begin(), "sign-log");
    return RunCommand(QVE_DEV_CLI_FILE, args);
  };
  EXPECT_EQ(run({"--key", key, "-n", "2", "--id", "7", "--text", "t", in,
                 (dir / "System_1.log").string()})
                .exitCode,
            0);
  EXPECT_EQ(run({"--key", key, "--chain-from", (dir / "System_1.log").string(),
                 (dir / "in2.txt").string(), (dir / "System_2.log").string()})
                .exitCode,
            0);
  const auto results = Verify({WidePath(dir / "System_2.log"), WidePath(dir / "System_1.log")});
  EXPECT_EQ(results.at(0).blockCount, 2u);
  EXPECT_EQ(results.at(1).blockCount, 1u);
  for (const auto& result : results) EXPECT_EQ(result.blocks, Blocks{});
  EXPECT_EQ(run({in, in}).exitCode, 64);
  EXPECT_EQ(run({}).exitCode, 64);
  const auto missing =
      run({"--key", key, (dir / "absent.txt").string(), (dir / "out.log").string()});
  EXPECT_EQ(missing.exitCode, 1);
  EXPECT_NE(missing.err.find("cannot open"), std::string::npos) << missing.err;
  EXPECT_EQ(run({"--key", DevKeyPath("verification-public.pem"), in, (dir / "out.log").string()})
                .exitCode,
            1);
}
#endif

}  // namespace
}  // namespace qve
