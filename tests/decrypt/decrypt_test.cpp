// The exported entry points on real files: the result of every path and the
// output file each leaves behind.
#include <gtest/gtest.h>

#ifndef _WIN32
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <filesystem>
#include <string>
#include <vector>

#include "QVEHelper.h"
#include "decrypt/block_buffers.h"
#include "platform/paths.h"
#include "tests/support/byte_writer.h"
#include "tests/support/container_builder.h"
#include "tests/support/dev_keys.h"
#include "tests/support/temp_dir.h"

namespace qve {
namespace {

namespace fs = std::filesystem;
using QVE_Helper::DecryptResult;
using testing::ContainerBuilder;
using testing::kKeyId10;
using testing::kKeyId11;
using testing::Pattern;
using testing::ReadFile;
using testing::SealTrailerBuilder;
using testing::TempDir;
using testing::WriteFile;

const Bytes kPreviousOutput = testing::BytesOf("an earlier output");

using testing::WidePath;

DecryptResult Decrypt(const fs::path& input, const fs::path& output) {
  return QVE_Helper::Decrypt(WidePath(input), WidePath(output));
}

Bytes Concat(Bytes a, const Bytes& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

// What the output file holds afterwards.
enum class Left { Empty, Body, WholePlaintext };

struct FileCase {
  const char* name;
  ContainerBuilder container;
  DecryptResult expected;
  Left left;
};

void PrintTo(const FileCase& c, std::ostream* os) { *os << c.name; }

class DecryptFileTest : public ::testing::TestWithParam<FileCase> {
 protected:
  Bytes Expected() const {
    const auto& c = GetParam();
    switch (c.left) {
      case Left::Empty:
        return {};
      case Left::Body:
        return body_;
      case Left::WholePlaintext:
        return plaintext_;
    }
    return {};
  }

  void SetUp() override {
    // The trailer signature is made once here, so body and plaintext match
    // the container byte for byte.
    plaintext_ = GetParam().container.Plaintext();
    const Bytes container = GetParam().container.Build();
    WriteFile(dir_ / "in.qves", container);
    body_ = plaintext_;
    if (GetParam().left == Left::Body) body_.resize(BodySize());
  }

  std::size_t BodySize() const {
    // The body is everything before the trailer, whose length closes it.
    const std::size_t n = plaintext_.size();
    return n - (plaintext_[n - 2] | (plaintext_[n - 1] << 8));
  }

  TempDir dir_;
  Bytes plaintext_;
  Bytes body_;
};

TEST_P(DecryptFileTest, ReturnsTheResultAndLeavesTheOutputAsItsStepReached) {
  const fs::path input = dir_ / "in.qves", output = dir_ / "out.bin";
  WriteFile(output, kPreviousOutput);
  EXPECT_EQ(Decrypt(input, output), GetParam().expected);
  EXPECT_EQ(ReadFile(output), Expected());
}

TEST_P(DecryptFileTest, DecryptQveFileReturnsWhatDecryptReturns) {
  const fs::path input = dir_ / "in.qves", output = dir_ / "out.bin";
  WriteFile(output, kPreviousOutput);
  const std::wstring in = WidePath(input), out = WidePath(output);
  const std::int32_t value = DecryptQveFile(in.c_str(), out.c_str());
  EXPECT_EQ(value, static_cast<std::int32_t>(GetParam().expected));
  EXPECT_EQ(ReadFile(output), Expected());
  EXPECT_EQ(value, static_cast<std::int32_t>(Decrypt(input, output)));
}

std::vector<FileCase> FileCases() {
  const Bytes body = Pattern(30000, 1);
  const Bytes block = testing::KeyBlock(ContainerBuilder().sessionKey());
  const auto sealed = [&](Bytes b) { return ContainerBuilder().Body(std::move(b)); };
  Bytes keyIdPlus = kKeyId11;
  keyIdPlus.push_back(0);
  const Bytes trailerSignedOver =
      Concat(body, SealTrailerBuilder().Signature(Pattern(256, 3)).Build());
  return {
      {"Success", sealed(body), QVE_Helper::Success, Left::Body},
      {"SuccessWithOtherRecordsFirst",
       sealed(body)
           .Recipient(testing::WrappedFor(kKeyId11, block))
           .Recipient(testing::WrappedFor(kKeyId10, block)),
       QVE_Helper::Success, Left::Body},
      {"SuccessOutputOfExactChunks", sealed(Pattern(8192)), QVE_Helper::Success, Left::Body},
      {"SuccessOnlyTheTrailer", sealed({}), QVE_Helper::Success, Left::Body},
      {"HeaderInvalid", sealed(body).Magic("QVEZ"), QVE_Helper::HeaderInvalid, Left::Empty},
      {"SessionKeyUnavailable", sealed(body).Recipient(testing::WrappedFor(kKeyId11, block)),
       QVE_Helper::SessionKeyUnavailable, Left::Empty},
      {"NoSeal", sealed(body).NoTrailer(), QVE_Helper::NoSeal, Left::WholePlaintext},
      {"NoSealTrailerTooLong", sealed(body).Trailer(SealTrailerBuilder().Gap(Pattern(8000))),
       QVE_Helper::NoSeal, Left::WholePlaintext},
      {"BadSignatureKeyIdOfTheDecryptionKey",
       sealed(body).Trailer(SealTrailerBuilder().KeyId(kKeyId10)), QVE_Helper::BadSignature,
       Left::Body},
      {"BadSignatureKeyIdWithAFifthByte",
       sealed(body).Trailer(SealTrailerBuilder().KeyId(keyIdPlus)), QVE_Helper::BadSignature,
       Left::Body},
      {"BadSignatureOverTheTrailerToo",
       sealed(body).Trailer(SealTrailerBuilder().SignOver(trailerSignedOver)),
       QVE_Helper::BadSignature, Left::Body},
      {"BadSignatureByAnotherKey",
       sealed(body).Trailer(SealTrailerBuilder().SignBody(testing::DevDecryptionPrivateKey())),
       QVE_Helper::BadSignature, Left::Body},
      {"BadSignatureEmpty", sealed(body).Trailer(SealTrailerBuilder().Signature({})),
       QVE_Helper::BadSignature, Left::Body},
  };
}

INSTANTIATE_TEST_SUITE_P(Containers, DecryptFileTest, ::testing::ValuesIn(FileCases()),
                         [](const auto& info) { return std::string(info.param.name); });

class DecryptPathTest : public ::testing::Test {
 protected:
  void SetUp() override {
    builder_.Body(Pattern(20000, 4));
    WriteFile(input_, builder_.Build());
  }

  TempDir dir_;
  ContainerBuilder builder_;
  const fs::path input_ = dir_ / "in.qves";
};

TEST_F(DecryptPathTest, AMissingInputLeavesTheOutputAlone) {
  const fs::path output = dir_ / "out.bin";
  WriteFile(output, kPreviousOutput);
  EXPECT_EQ(Decrypt(dir_ / "missing.qves", output), QVE_Helper::InputOpenFailed);
  EXPECT_EQ(ReadFile(output), kPreviousOutput);
}

TEST_F(DecryptPathTest, AFolderIsNoInput) {
  EXPECT_EQ(Decrypt(dir_.path(), dir_ / "out.bin"), QVE_Helper::InputOpenFailed);
  EXPECT_FALSE(fs::exists(dir_ / "out.bin"));
}

#ifndef _WIN32
// A Windows file name may hold a lone surrogate.
TEST_F(DecryptPathTest, PathsThatAreNotUnicodeFailToOpen) {
  const std::wstring bad = WidePath(dir_.path()) + L"/x" + wchar_t(0xD800);
  const fs::path output = dir_ / "out.bin";
  EXPECT_EQ(QVE_Helper::Decrypt(bad, WidePath(output)), QVE_Helper::InputOpenFailed);
  EXPECT_EQ(QVE_Helper::Decrypt(WidePath(input_), bad), QVE_Helper::OutputOpenFailed);
  EXPECT_EQ(DecryptQveFile(bad.c_str(), WidePath(output).c_str()), QVE_Helper::InputOpenFailed);
}
#endif

#ifdef _WIN32
// Wide paths reach the file system as they are, whatever the code page holds.
TEST_F(DecryptPathTest, NonAsciiPathsOpenByTheirWideText) {
  const fs::path folder = dir_.path() / L"\u65e5\u672c \u0436";
  fs::create_directory(folder);
  const fs::path input = folder / L"\u00e9\u20ac.qves", output = folder / L"\u03a9.bin";
  fs::copy_file(input_, input);
  EXPECT_EQ(Decrypt(input, output), QVE_Helper::Success);
  EXPECT_EQ(ReadFile(output), Pattern(20000, 4));
}
#endif

TEST_F(DecryptPathTest, AnOutputInAMissingFolderIsNotCreated) {
  const fs::path output = dir_ / "no-such-folder" / "out.bin";
  EXPECT_EQ(Decrypt(input_, output), QVE_Helper::OutputOpenFailed);
  EXPECT_FALSE(fs::exists(output.parent_path()));
}

#ifndef _WIN32
// Windows has no device that refuses writes.
TEST_F(DecryptPathTest, ADeviceThatRefusesWritesFailsTheWrite) {
  if (!fs::exists("/dev/full")) GTEST_SKIP() << "no /dev/full on this system";
  // More plaintext than the output buffer holds, so a write reaches the
  // device while the payload is being decrypted.
  WriteFile(input_, ContainerBuilder().Body(Pattern(2 * qve::kFileBlockSize + 20000, 4)).Build());
  EXPECT_EQ(Decrypt(input_, "/dev/full"), QVE_Helper::OutputWriteFailed);
}

TEST_F(DecryptPathTest, ARefusedWriteOfTheBufferedRestFailsTheWrite) {
  if (!fs::exists("/dev/full")) GTEST_SKIP() << "no /dev/full on this system";
  // The whole plaintext is still buffered when the payload ends; handing it
  // over is where the device refuses it.
  EXPECT_EQ(Decrypt(input_, "/dev/full"), QVE_Helper::OutputWriteFailed);
}
#endif

TEST_F(DecryptPathTest, AnOutputThatIsNoRegularFileHasNoSize) {
#ifdef _WIN32
  EXPECT_EQ(Decrypt(input_, "NUL"), QVE_Helper::OutputSizeFailed);
#else
  EXPECT_EQ(Decrypt(input_, "/dev/null"), QVE_Helper::OutputSizeFailed);
#endif
}

#ifndef _WIN32
// A file-size limit in a forked child, and permission bits that Wine ignores:
// both are POSIX only.
TEST_F(DecryptPathTest, AFileSizeLimitFailsTheWriteAndKeepsWhatFitted) {
  // A small plaintext stays buffered until the payload ends; handing it over
  // meets a file-size limit that lets only its first 100 bytes reach the
  // file. The limit is set in a child process.
  ContainerBuilder small;
  small.Body(Pattern(24, 6));
  const Bytes plaintext = small.Plaintext();
  ASSERT_EQ(plaintext.size(), 300u);
  WriteFile(input_, small.Build());
  const fs::path output = dir_ / "out.bin";

  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    signal(SIGXFSZ, SIG_IGN);
    const rlimit limit{100, 100};
    if (setrlimit(RLIMIT_FSIZE, &limit) != 0) _exit(100);
    _exit(static_cast<int>(Decrypt(input_, output)));
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), QVE_Helper::OutputWriteFailed);
  EXPECT_EQ(ReadFile(output), Bytes(plaintext.begin(), plaintext.begin() + 100));
}

TEST_F(DecryptPathTest, AnOutputThatCannotBeReadBackIsNotVerified) {
  if (geteuid() == 0) GTEST_SKIP() << "needs a permission denial, which root does not get";
  const fs::path output = dir_ / "out.bin";
  WriteFile(output, kPreviousOutput);
  fs::permissions(output, fs::perms::owner_write);
  EXPECT_EQ(Decrypt(input_, output), QVE_Helper::OutputReopenFailed);
  fs::permissions(output, fs::perms::owner_read | fs::perms::owner_write);
  EXPECT_EQ(ReadFile(output), Pattern(20000, 4));
}
#endif

}  // namespace
}  // namespace qve
