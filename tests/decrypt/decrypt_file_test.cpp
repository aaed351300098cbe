// SPDX-License-Identifier: Apache-2.0
// The contract's entry points on real files: the result and what the output holds.
#include <gtest/gtest.h>

#include <utility>

#include "decrypt/block_buffers.h"
#include "tests/support/builders.h"
#include "tests/support/harness.h"

namespace qve {
namespace {

using namespace testing;
using QVE_Helper::DecryptResult;
constexpr auto kBad = QVE_Helper::BadSignature, kOk = QVE_Helper::Success;

const Bytes kPreviousOutput = BytesOf("an earlier output");

// What the output file holds afterwards.
enum class Left { Nothing, Body, WholePlaintext };

const Bytes kBody = Pattern(30000, 1);

struct ContainerRow {
  const char* name;
  Container container;
  DecryptResult result = kOk;
  Left left = Left::Body;
};
class DecryptContainer : public ::testing::TestWithParam<ContainerRow> {};

// Both entry points on each row; the output held an earlier file before.
TEST_P(DecryptContainer, ResultAndOutput) {
  const ContainerRow& row = GetParam();
  TempDir dir;
  const fs::path input = dir / "in.qves", output = dir / "out.bin";
  WriteFile(input, row.container.Build());
  const Bytes left = row.left == Left::Nothing ? Bytes{}
                     : row.left == Left::Body  ? row.container.body
                                               : row.container.Plaintext();
  WriteFile(output, kPreviousOutput);
  EXPECT_EQ(Decrypt(input, output), row.result);
  EXPECT_EQ(ReadFile(output), left);
  WriteFile(output, kPreviousOutput);
  EXPECT_EQ(DecryptQveFile(WidePath(input).c_str(), WidePath(output).c_str()), row.result);
  EXPECT_EQ(ReadFile(output), left);
}

// clang-format off
const ContainerRow kContainerRows[] = {
    {.name = "Success", .container = {.body = kBody}},
    {.name = "EmptyBody", .container = {}},
    // The plaintext read back ends with a whole chunk: the last read gives nothing.
    {.name = "BodyOf4096", .container = {.body = Pattern(4096)}},
    {.name = "NoKey", .container = {.records = {{WrappedFor(kKeyId11, KeyBlock(Container{}.sessionKey))}}, .body = kBody},
     .result = QVE_Helper::SessionKeyUnavailable, .left = Left::Nothing},
    {.name = "NoSeal", .container = {.body = kBody, .seal = std::nullopt}, .result = QVE_Helper::NoSeal, .left = Left::WholePlaintext},
    {.name = "OneByteChanged", .container = {.body = kBody, .seal = Seal{.signedData = Concat(Head(kBody, 29999), {{std::uint8_t(kBody.back() ^ 1)}})}}, .result = kBad},
    {.name = "KeyIdOfTheDecryptionKey", .container = {.body = kBody, .seal = Seal{.keyId = kKeyId10}}, .result = kBad},
};
// clang-format on
QVE_ROWS(DecryptContainer, kContainerRows);

// Inputs and outputs that are not the regular files they should be.
TEST(Decrypt, PathTable) {
  TempDir dir;
  const Bytes body = Pattern(20000, 4);
  WriteFile(dir / "in.qves", Container{.body = body}.Build());
  WriteFile(dir / "big.qves", Container{.body = Pattern(2 * kFileBlockSize + 20000)}.Build());
  fs::create_directory(dir / "folder");
  const fs::path in = dir / "in.qves", out = dir / "out.bin";
  const std::wstring notUnicode = WidePath(dir.path()) + L"/x" + wchar_t(0xD800);
  const struct {
    const char* name;
    std::wstring input, output;
    DecryptResult expected;
  } rows[] = {
      {"missing input", WidePath(dir / "missing.qves"), WidePath(out), QVE_Helper::InputOpenFailed},
      {"folder as input", WidePath(dir / "folder"), WidePath(out), QVE_Helper::InputOpenFailed},
      {"folder as output", WidePath(in), WidePath(dir / "folder"), QVE_Helper::OutputOpenFailed},
      {"input not Unicode", notUnicode, WidePath(out), QVE_Helper::InputOpenFailed},
#ifdef _WIN32
      {"output with no size", WidePath(in), L"NUL", QVE_Helper::OutputSizeFailed},
#else
      // On Windows the name is made: every text names a file there.
      {"output not Unicode", WidePath(in), notUnicode, QVE_Helper::OutputOpenFailed},
      {"output with no size", WidePath(in), L"/dev/null", QVE_Helper::OutputSizeFailed},
      // Refused while decrypting once the buffer spills, else at the end.
      {"device that refuses writes", WidePath(in), L"/dev/full", QVE_Helper::OutputWriteFailed},
      {"device that refuses writes, big", WidePath(dir / "big.qves"), L"/dev/full",
       QVE_Helper::OutputWriteFailed},
#endif
  };
  for (const auto& row : rows) {
    WriteFile(out, kPreviousOutput);
    EXPECT_EQ(QVE_Helper::Decrypt(row.input, row.output), row.expected) << row.name;
    EXPECT_EQ(DecryptQveFile(row.input.c_str(), row.output.c_str()), row.expected) << row.name;
    EXPECT_EQ(ReadFile(out), kPreviousOutput) << row.name;
  }
#ifndef _WIN32
  // An empty output keeps its mode: a caller may have made it private.
  WriteFile(out, Bytes{});
  fs::permissions(out, fs::perms::owner_read | fs::perms::owner_write);
  EXPECT_EQ(Decrypt(in, out), QVE_Helper::Success);
  EXPECT_EQ(fs::status(out).permissions(), fs::perms::owner_read | fs::perms::owner_write);
#endif
}

// An output that is the container itself would destroy it: refused.
TEST(Decrypt, AContainerNamedTwiceIsLeftAlone) {
  TempDir dir;
  const Bytes container = Container{.body = Pattern(20000, 5)}.Build();
  const fs::path in = dir / "in.qves";
  WriteFile(in, container);
  const std::wstring input = WidePath(in), folder = WidePath(dir.path());
#ifdef _WIN32
  fs::create_directory(dir / "sub");
  const std::pair<const char*, std::wstring> rows[] = {{"another case", folder + L"\\IN.Qves"},
                                                       {"..\\", folder + L"\\sub\\..\\in.qves"},
                                                       {"a trailing dot", input + L"."}};
#else
  fs::create_hard_link(in, dir / "hard");
  fs::create_symlink("in.qves", dir / "soft");
  const std::pair<const char*, std::wstring> rows[] = {{"a hard link", WidePath(dir / "hard")},
                                                       {"a symbolic link", WidePath(dir / "soft")}};
#endif
  for (const auto& [name, output] : rows) {
    EXPECT_EQ(QVE_Helper::Decrypt(input, output), QVE_Helper::OutputOpenFailed) << name;
    EXPECT_EQ(DecryptQveFile(output.c_str(), input.c_str()), QVE_Helper::OutputOpenFailed) << name;
    EXPECT_EQ(ReadFile(in), container) << name;
  }
  // A missing output is another file.
  EXPECT_EQ(Decrypt(in, dir / "IN.QVES.out"), QVE_Helper::Success);
}

#ifndef _WIN32
// Write-only permission lets the output be written but not read back.
TEST(Decrypt, AnOutputThatCannotBeReadBackIsNotVerified) {
  TempDir dir;
  const Bytes body = Pattern(20000, 4);
  WriteFile(dir / "in.qves", Container{.body = body}.Build());
  WriteFile(dir / "out.bin", kPreviousOutput);
  fs::permissions(dir / "out.bin", fs::perms::owner_write);
  const int status =
      AsNobody(dir.path(), [&] { return int(Decrypt(dir / "in.qves", dir / "out.bin")); });
  EXPECT_EQ(status, QVE_Helper::OutputReopenFailed);
  fs::permissions(dir / "out.bin", fs::perms::owner_read | fs::perms::owner_write);
  EXPECT_EQ(ReadFile(dir / "out.bin"), body);
}
#endif

}  // namespace
}  // namespace qve
