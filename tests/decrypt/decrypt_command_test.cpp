// qvehelper decrypt and qvehelper-dev seal, run as the user runs them.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <cstdio>
#include <filesystem>
#include <set>
#include <string>

#include "tests/support/container_builder.h"
#include "tests/support/dev_keys.h"
#include "tests/support/temp_dir.h"

namespace qve {
namespace {

namespace fs = std::filesystem;
using testing::ContainerBuilder;
using testing::kKeyId10;
using testing::Pattern;
using testing::ReadFile;
using testing::SealTrailerBuilder;
using testing::TempDir;
using testing::WriteFile;

struct Ran {
  int status;
  std::string out;
};

std::string Quoted(const std::string& text) { return "'" + text + "'"; }

Ran RunTool(const std::string& tool, const std::string& arguments) {
  const std::string command = Quoted(tool) + " " + arguments + " 2>/dev/null";
  FILE* pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) return {-1, ""};
  std::string out;
  char buffer[256];
  while (std::fgets(buffer, sizeof buffer, pipe) != nullptr) out += buffer;
  const int status = pclose(pipe);
  return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, out};
}

Ran Qvehelper(const std::string& arguments) { return RunTool(QVE_CLI_FILE, arguments); }

std::set<std::string> FilesIn(const fs::path& dir) {
  std::set<std::string> names;
  for (const auto& entry : fs::directory_iterator(dir)) names.insert(entry.path().filename());
  return names;
}

class DecryptCommandTest : public ::testing::Test {
 protected:
  // A container whose plaintext is `body` and the trailer `seal`.
  void Container(SealTrailerBuilder seal) {
    WriteFile(input_, ContainerBuilder().Body(body_).Trailer(std::move(seal)).Build());
  }
  std::string Args(const std::string& flags = "") const {
    return " " + flags + " " + Quoted(input_.string()) + " " + Quoted(output_.string());
  }

  TempDir dir_;
  const Bytes body_ = Pattern(50000, 2);
  const fs::path input_ = dir_ / "in.qves";
  const fs::path output_ = dir_ / "out.bin";
  const Bytes previous_ = Pattern(777, 9);
};

TEST_F(DecryptCommandTest, SuccessReplacesTheOutputWithTheVerifiedPlaintext) {
  Container(SealTrailerBuilder());
  WriteFile(output_, previous_);
  const Ran ran = Qvehelper("decrypt" + Args());
  EXPECT_EQ(ran.out, "Success (0)\n");
  EXPECT_EQ(ran.status, 0);
  EXPECT_EQ(ReadFile(output_), body_);
  EXPECT_EQ(FilesIn(dir_.path()), (std::set<std::string>{"in.qves", "out.bin"}));
  const mode_t mask = umask(0);
  umask(mask);
  EXPECT_EQ(static_cast<mode_t>(fs::status(output_).permissions()), 0666 & ~mask);
}

TEST_F(DecryptCommandTest, AFailureLeavesAnExistingOutputUntouchedAndNoTemporaryFile) {
  const struct {
    const char* name;
    SealTrailerBuilder seal;
    std::string line;
    int status;
  } cases[] = {
      {"wrong signer", SealTrailerBuilder().KeyId(kKeyId10), "BadSignature (13)\n", 13},
      {"forged", SealTrailerBuilder().Signature(Pattern(256)), "BadSignature (13)\n", 13},
      {"no seal", SealTrailerBuilder().ClosingTag("Lame"), "NoSeal (1)\n", 1},
  };
  for (const auto& c : cases) {
    Container(c.seal);
    WriteFile(output_, previous_);
    const Ran ran = Qvehelper("decrypt" + Args());
    EXPECT_EQ(ran.out, c.line) << c.name;
    EXPECT_EQ(ran.status, c.status) << c.name;
    EXPECT_EQ(ReadFile(output_), previous_) << c.name;
    EXPECT_EQ(FilesIn(dir_.path()), (std::set<std::string>{"in.qves", "out.bin"})) << c.name;
  }
}

TEST_F(DecryptCommandTest, AFailureCreatesNoOutputWhereThereWasNone) {
  WriteFile(input_, ContainerBuilder().Body(body_).Magic("QVEX").Build());
  const Ran ran = Qvehelper("decrypt" + Args());
  EXPECT_EQ(ran.out, "HeaderInvalid (6)\n");
  EXPECT_EQ(ran.status, 6);
  EXPECT_EQ(FilesIn(dir_.path()), (std::set<std::string>{"in.qves"}));
}

TEST_F(DecryptCommandTest, OpenFailuresAreReportedWithoutTouchingTheOutput) {
  WriteFile(output_, previous_);
  const Ran missingInput =
      Qvehelper("decrypt " + Quoted((dir_ / "none").string()) + " " + Quoted(output_.string()));
  EXPECT_EQ(missingInput.out, "InputOpenFailed (2)\n");
  EXPECT_EQ(missingInput.status, 2);
  EXPECT_EQ(ReadFile(output_), previous_);

  Container(SealTrailerBuilder());
  const Ran missingFolder = Qvehelper("decrypt " + Quoted(input_.string()) + " " +
                                      Quoted((dir_ / "none" / "out.bin").string()));
  EXPECT_EQ(missingFolder.out, "OutputOpenFailed (4)\n");
  EXPECT_EQ(missingFolder.status, 4);
}

TEST_F(DecryptCommandTest, KeepUnverifiedLeavesTheLibrarysOutput) {
  Container(SealTrailerBuilder().KeyId(kKeyId10));
  WriteFile(output_, previous_);
  const Ran bad = Qvehelper("decrypt" + Args("--keep-unverified"));
  EXPECT_EQ(bad.out, "BadSignature (13)\n");
  EXPECT_EQ(bad.status, 13);
  EXPECT_EQ(ReadFile(output_), body_);  // already cut, not confirmed

  const ContainerBuilder unsealed = ContainerBuilder().Body(body_).NoTrailer();
  WriteFile(input_, unsealed.Build());
  const Ran noSeal = Qvehelper("decrypt" + Args("--keep-unverified"));
  EXPECT_EQ(noSeal.out, "NoSeal (1)\n");
  EXPECT_EQ(ReadFile(output_), body_);

  Container(SealTrailerBuilder());
  const Ran good = Qvehelper("decrypt" + Args("--keep-unverified"));
  EXPECT_EQ(good.out, "Success (0)\n");
  EXPECT_EQ(good.status, 0);
  EXPECT_EQ(ReadFile(output_), body_);
  EXPECT_EQ(FilesIn(dir_.path()), (std::set<std::string>{"in.qves", "out.bin"}));
}

TEST_F(DecryptCommandTest, UsageErrorsExitWith64) {
  EXPECT_EQ(Qvehelper("decrypt").status, 64);
  EXPECT_EQ(Qvehelper("decrypt " + Quoted(input_.string())).status, 64);
  EXPECT_EQ(Qvehelper("decrypt --no-such-flag" + Args()).status, 64);
  EXPECT_EQ(Qvehelper("decrypt \"$(printf '\\377')\" out").status, 64);
}

TEST_F(DecryptCommandTest, TheBundledSampleDecryptsToItsPlaintext) {
  const fs::path examples = QVE_EXAMPLES_DIR;
  const Ran ran = Qvehelper("decrypt " + Quoted((examples / "sample.qves").string()) + " " +
                            Quoted(output_.string()));
  EXPECT_EQ(ran.out, "Success (0)\n");
  EXPECT_EQ(ReadFile(output_), ReadFile(examples / "sample.txt"));
}

class SealCommandTest : public DecryptCommandTest {
 protected:
  Ran Seal(const std::string& flags) {
    return RunTool(QVE_DEV_TOOL_FILE,
                   "seal " + flags + " " + Quoted(plain_.string()) + " " + Quoted(input_.string()));
  }
  void SetUp() override { WriteFile(plain_, body_); }
  const fs::path plain_ = dir_ / "plain.bin";
};

TEST_F(SealCommandTest, SealsWhatTheCommandDecrypts) {
  const std::string other = testing::DevKeyPath("verification-public.pem");
  const std::string wrongSigner = testing::DevKeyPath("decryption-private.pem");
  const struct {
    const char* name;
    std::string flags;
    std::string line;
  } cases[] = {
      {"defaults", "", "Success (0)\n"},
      {"extra recipient", "--recipient " + Quoted(other + ":11"), "Success (0)\n"},
      {"only another recipient", "--no-default-recipient --recipient " + Quoted(other + ":11"),
       "SessionKeyUnavailable (7)\n"},
      {"seal naming key 10", "--seal-key-id 10", "BadSignature (13)\n"},
      {"signed by another key", "--signing-key " + Quoted(wrongSigner), "BadSignature (13)\n"},
  };
  for (const auto& c : cases) {
    fs::remove(output_);
    ASSERT_EQ(Seal(c.flags).status, 0) << c.name;
    EXPECT_EQ(Qvehelper("decrypt" + Args()).out, c.line) << c.name;
    if (c.line == "Success (0)\n") {
      EXPECT_EQ(ReadFile(output_), body_) << c.name;
    }
  }
}

TEST_F(SealCommandTest, RefusesWhatItCannotUse) {
  EXPECT_EQ(Seal("--signing-key " + Quoted((dir_ / "none.pem").string())).status, 1);
  EXPECT_EQ(Seal("--recipient nocolon").status, 1);
  EXPECT_EQ(
      Seal("--recipient " + Quoted(testing::DevKeyPath("decryption-public.pem") + ":x")).status, 1);
  fs::remove(plain_);
  EXPECT_EQ(Seal("").status, 1);
}

}  // namespace
}  // namespace qve
