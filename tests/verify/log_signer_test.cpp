// The writer side of signed logs, checked by the library's verifier.
#include "tools/writer/log_signer.h"

#include <gtest/gtest.h>

#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "crypto/base64.h"
#include "crypto/signature_block.h"
#include "platform/paths.h"
#include "tests/support/command_runner.h"
#include "tests/support/dev_keys.h"
#include "tests/support/temp_dir.h"
#include "verify/file_verifier.h"

namespace qve {

void PrintTo(const BlockResult& b, std::ostream* os);

namespace {

using testing::TempDir;
using Blocks = std::vector<BlockResult>;

std::string Sign(const std::string& input, std::size_t every, Bytes link = {},
                 Bytes* chainAfter = nullptr) {
  writer::LogSignerOptions options;
  options.key = testing::DevVerificationPrivateKey();
  options.linesPerBlock = every;
  options.id = 42;
  options.text = "host-7";
  if (!link.empty()) options.link = link;
  std::istringstream in(input);
  std::ostringstream out;
  const Bytes chain = writer::SignLog(in, out, options);
  if (chainAfter != nullptr) *chainAfter = chain;
  return out.str();
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

bool IsSignatureLine(const std::string& line) {
  return line.size() >= 2 && line.front() == 0x1F && line.back() == 0x1F;
}

class LogSignerTest : public ::testing::Test {
 protected:
  std::vector<FileCheckResult> VerifyFiles(
      const std::vector<std::pair<std::string, std::string>>& files) {
    std::vector<std::wstring> paths;
    for (const auto& [name, content] : files) {
      testing::WriteFile(dir / name, content);
      paths.push_back(*platform::ToWide((dir / name).string()));
    }
    FileVerifier verifier;
    qve::VerifyFiles(verifier, paths);
    return verifier.results;
  }

  TempDir dir;
};

TEST_F(LogSignerTest, InsertsASignatureLineEveryNLinesAndAtTheEnd) {
  const std::string input = "a\nb\r\nc\n\nd\re";
  const std::string signedLog = Sign(input, 2);
  const std::vector<std::string> lines = Lines(signedLog);
  ASSERT_EQ(lines.size(), 8u);
  const std::vector<std::string> data = {"a", "b\r", "c", "", "d\re"};
  for (std::size_t i : {2, 5, 7}) EXPECT_TRUE(IsSignatureLine(lines[i])) << i;
  EXPECT_EQ((std::vector<std::string>{lines[0], lines[1], lines[3], lines[4], lines[6]}), data);
  EXPECT_EQ(signedLog.back(), '\n');

  const auto results = VerifyFiles({{"a.log", signedLog}});
  EXPECT_EQ(results[0].blockCount, 3u);
  EXPECT_TRUE(results[0].blocks.empty());
}

TEST_F(LogSignerTest, BlocksCarryIdAndTextAndTheReturnedChainIsTheLastBlocks) {
  Bytes chain;
  const std::string signedLog = Sign("x\n", 0, {}, &chain);
  const std::vector<std::string> lines = Lines(signedLog);
  ASSERT_EQ(lines.size(), 2u);
  const std::string payload = lines[1].substr(1, lines[1].size() - 2);
  const Bytes block = DecodeBase64(payload);
  SignatureBlock parsed;
  ASSERT_EQ(ParseSignatureBlock(block, parsed), BlockParseResult::Parsed);
  EXPECT_EQ(parsed.id, 42u);
  EXPECT_EQ(parsed.text, "host-7");
  EXPECT_EQ(parsed.link, writer::EmptyChainValue());
  EXPECT_EQ(chain, writer::Sha256(block));
  std::istringstream again(signedLog);
  EXPECT_EQ(writer::ChainValueAfter(again), chain);
}

TEST_F(LogSignerTest, SecondFileContinuesTheChainOfTheFirst) {
  Bytes afterFirst;
  const std::string first = Sign("1\n2\n3\n", 2, {}, &afterFirst);
  std::istringstream firstIn(first);
  ASSERT_EQ(writer::ChainValueAfter(firstIn), afterFirst);
  const std::string chained = Sign("4\n5\n", 1, afterFirst);
  const std::string unchained = Sign("4\n5\n", 1);

  auto results = VerifyFiles({{"System_1.log", first}, {"System_2.log", chained}});
  EXPECT_TRUE(results[0].blocks.empty());
  EXPECT_TRUE(results[1].blocks.empty());
  results = VerifyFiles({{"System_1.log", first}, {"System_2.log", unchained}});
  EXPECT_EQ(results[1].blocks, (Blocks{{BlockChainBreak, 1, 2}}));
}

TEST_F(LogSignerTest, EmptyInputGetsOneSignatureLine) {
  const std::string signedLog = Sign("", 5);
  ASSERT_EQ(Lines(signedLog).size(), 1u);
  const auto results = VerifyFiles({{"a.log", signedLog}});
  EXPECT_EQ(results[0].blockCount, 1u);
  EXPECT_TRUE(results[0].blocks.empty());
}

TEST_F(LogSignerTest, RefusesInputThatAReaderWouldSeeDifferently) {
  for (const std::string input : {"a\n\x1F"
                                  "abc\x1F\n",
                                  "\x1F\x1F\r\n",
                                  "a\x1A"
                                  "b\n"}) {
    EXPECT_THROW(Sign(input, 1), std::runtime_error) << input;
  }
  EXPECT_NO_THROW(Sign("\x1F\n \x1F\x1F\n\x1F\x1F \n", 1));
}

TEST_F(LogSignerTest, ChainValueAfterAFileWithoutSignatureIsTheEmptyDigest) {
  std::istringstream plain("a\nb\n");
  EXPECT_EQ(writer::ChainValueAfter(plain), writer::EmptyChainValue());
  std::istringstream empty("\x1F\x1F\n");
  EXPECT_EQ(writer::ChainValueAfter(empty), writer::EmptyChainValue());
}

#ifndef _WIN32
// The programs run through a POSIX shell; scripts/test-windows runs them under Wine.
TEST_F(LogSignerTest, CommandSignsAChainOfFiles) {
  testing::WriteFile(dir / "in1.txt", std::string("a\nb\nc\n"));
  testing::WriteFile(dir / "in2.txt", std::string("d\ne"));
  const std::string key = testing::DevKeyPath("verification-private.pem");
  const auto first = testing::RunCommand(
      QVE_DEV_CLI_FILE, {"sign-log", "--key", key, "-n", "2", "--id", "7", "--text", "t",
                         (dir / "in1.txt").string(), (dir / "System_1.log").string()});
  ASSERT_EQ(first.exitCode, 0) << first.err;
  const auto second = testing::RunCommand(
      QVE_DEV_CLI_FILE, {"sign-log", "--key", key, "--chain-from", (dir / "System_1.log").string(),
                         (dir / "in2.txt").string(), (dir / "System_2.log").string()});
  ASSERT_EQ(second.exitCode, 0) << second.err;
  std::vector<std::wstring> paths = {*platform::ToWide((dir / "System_2.log").string()),
                                     *platform::ToWide((dir / "System_1.log").string())};
  FileVerifier verifier;
  qve::VerifyFiles(verifier, paths);
  ASSERT_EQ(verifier.results.size(), 2u);
  EXPECT_EQ(verifier.results[0].blockCount, 2u);
  EXPECT_EQ(verifier.results[1].blockCount, 1u);
  for (const auto& result : verifier.results) EXPECT_TRUE(result.blocks.empty());
}

TEST_F(LogSignerTest, CommandErrors) {
  testing::WriteFile(dir / "in.txt", std::string("a\n"));
  const std::string in = (dir / "in.txt").string();
  EXPECT_EQ(testing::RunCommand(QVE_DEV_CLI_FILE, {"sign-log", in, in}).exitCode, 64);
  EXPECT_EQ(testing::RunCommand(QVE_DEV_CLI_FILE, {"sign-log"}).exitCode, 64);
  const auto missing = testing::RunCommand(
      QVE_DEV_CLI_FILE, {"sign-log", "--key", testing::DevKeyPath("verification-private.pem"),
                         (dir / "absent.txt").string(), (dir / "out.log").string()});
  EXPECT_EQ(missing.exitCode, 1);
  EXPECT_NE(missing.err.find("cannot open"), std::string::npos) << missing.err;
  const auto badKey = testing::RunCommand(
      QVE_DEV_CLI_FILE, {"sign-log", "--key", testing::DevKeyPath("verification-public.pem"), in,
                         (dir / "out.log").string()});
  EXPECT_EQ(badKey.exitCode, 1);
}
#endif

}  // namespace
}  // namespace qve
