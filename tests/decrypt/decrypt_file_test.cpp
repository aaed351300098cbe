// SPDX-License-Identifier: Apache-2.0
// The exported entry points on real files: the result of every path and what
// the output file holds afterwards.
#include <gtest/gtest.h>

#ifndef _WIN32
#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#include <algorithm>
#include <fstream>
#include <utility>

#include "decrypt/block_buffers.h"
#include "tests/support/builders.h"
#include "tests/support/harness.h"
#include "tools/writer/container_writer.h"

namespace qve {
namespace {

using namespace testing;
using QVE_Helper::DecryptResult;
constexpr auto kBad = QVE_Helper::BadSignature, kOk = QVE_Helper::Success;

const Bytes kPreviousOutput = BytesOf("an earlier output");

// What the output file holds afterwards.
enum class Left { Nothing, Body, WholePlaintext };

TEST(Decrypt, ContainerTable) {
  const Bytes body = Pattern(30000, 1);
  const Bytes block = KeyBlock(Container{}.sessionKey);
  Bytes flipped = body;
  flipped[15000] ^= 1;
  const Bytes signedWithTrailer = Concat(body, Seal{.signature = Pattern(256, 3)}.Build());
  const Bytes good = Seal{}.Build(body);  // the signature over `body`
  const Bytes goodSignature(good.begin() + 10, good.end() - 6);
  const auto sealed = [&](Seal seal) { return Container{.body = body, .seal = seal}; };
  const struct {
    const char* name;
    Container container;
    DecryptResult expected;
    Left left;
  } rows[] = {
      {"success", sealed({}), kOk, Left::Body},
      {"other records first",
       {.records = {{WrappedFor(kKeyId11, block), WrappedFor(kKeyId10, block)}}, .body = body},
       kOk,
       Left::Body},
      {"empty body", {}, kOk, Left::Body},
      {"body of 4096", {.body = Pattern(4096)}, kOk, Left::Body},
      {"body of 4097", {.body = Pattern(4097)}, kOk, Left::Body},
      {"body of 8192", {.body = Pattern(8192)}, kOk, Left::Body},
      {"header invalid", {.magic = "QVEZ", .body = body}, QVE_Helper::HeaderInvalid, Left::Nothing},
      {"no key",
       {.records = {{WrappedFor(kKeyId11, block)}}, .body = body},
       QVE_Helper::SessionKeyUnavailable,
       Left::Nothing},
      {"no seal", {.body = body, .seal = std::nullopt}, QVE_Helper::NoSeal, Left::WholePlaintext},
      {"trailer longer than the window", sealed({.gap = Pattern(8000)}), QVE_Helper::NoSeal,
       Left::WholePlaintext},
      {"one byte changed", sealed({.signedData = flipped}), kBad, Left::Body},
      {"key id of the decryption key", sealed({.keyId = kKeyId10}), kBad, Left::Body},
      {"key id with a fifth byte", sealed({.keyId = Concat(kKeyId11, Bytes{0})}), kBad, Left::Body},
      {"key id of three bytes", sealed({.keyId = Head(kKeyId11, 3)}), kBad, Left::Body},
      {"empty key id", sealed({.keyId = {}}), kBad, Left::Body},
      {"signed over the trailer too", sealed({.signedData = signedWithTrailer}), kBad, Left::Body},
      {"signed by another key", sealed({.key = DevDecryptionPrivateKey()}), kBad, Left::Body},
      {"empty signature", sealed({.signature = Bytes{}}), kBad, Left::Body},
      {"signature one byte short", sealed({.signature = Head(goodSignature, 255)}), kBad,
       Left::Body},
  };
  TempDir dir;
  const fs::path input = dir / "in.qves", output = dir / "out.bin";
  const std::wstring in = WidePath(input), out = WidePath(output);
  for (const auto& row : rows) {
    // Built once, so body and plaintext match the container byte for byte.
    const Bytes plaintext = row.container.Plaintext();
    WriteFile(input, row.container.Build());
    const Bytes left = row.left == Left::Nothing ? Bytes{}
                       : row.left == Left::Body  ? row.container.body
                                                 : plaintext;
    WriteFile(output, kPreviousOutput);
    EXPECT_EQ(Decrypt(input, output), row.expected) << row.name;
    EXPECT_EQ(ReadFile(output), left) << row.name;
    WriteFile(output, kPreviousOutput);
    EXPECT_EQ(DecryptQveFile(in.c_str(), out.c_str()), row.expected) << row.name;
    EXPECT_EQ(ReadFile(output), left) << row.name;
  }
}

// The writer side must make what the library reads.
TEST(Decrypt, WriterRoundTrips) {
  TempDir dir;
  for (const std::size_t size : {0u, 1u, 4095u, 65536u, 200001u}) {
    const Bytes plaintext = Pattern(size, 5);
    {
      std::ofstream container(dir / "in.qves", std::ios::binary);
      writer::ContainerWriter writer(
          container, {{kKeyId11, DevVerificationPublicKey()}, {kKeyId10, DevDecryptionPublicKey()}},
          DevVerificationPrivateKey(), kKeyId11);
      for (std::size_t at = 0; at < size; at += 1000)
        writer.Write(std::span(plaintext).subspan(at, std::min<std::size_t>(1000, size - at)));
      writer.Finish();
    }
    EXPECT_EQ(Decrypt(dir / "in.qves", dir / "out.bin"), QVE_Helper::Success) << size;
    EXPECT_EQ(ReadFile(dir / "out.bin"), plaintext) << size;
  }
  std::ostringstream sink;
  const std::vector<writer::Recipient> many(33, {kKeyId10, DevDecryptionPublicKey()});
  EXPECT_THROW(writer::ContainerWriter(sink, many, DevVerificationPrivateKey(), kKeyId11),
               std::runtime_error);
}

#ifdef _WIN32
const fs::path kNullDevice = "NUL";
#else
const fs::path kNullDevice = "/dev/null";
#endif

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
      {"output in a missing folder", WidePath(in), WidePath(dir / "none" / "out.bin"),
       QVE_Helper::OutputOpenFailed},
      {"input not Unicode", notUnicode, WidePath(out), QVE_Helper::InputOpenFailed},
#ifndef _WIN32
      // On Windows the name is made: every text names a file there.
      {"output not Unicode", WidePath(in), notUnicode, QVE_Helper::OutputOpenFailed},
#endif
      {"output with no size", WidePath(in), WidePath(kNullDevice), QVE_Helper::OutputSizeFailed},
#ifndef _WIN32
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
  EXPECT_TRUE(fs::is_directory(dir / "folder"));
  EXPECT_FALSE(fs::exists(dir / "none"));
#ifndef _WIN32
  // An empty output keeps its mode: a caller may have made it private.
  WriteFile(out, Bytes{});
  fs::permissions(out, fs::perms::owner_read | fs::perms::owner_write);
  EXPECT_EQ(Decrypt(in, out), QVE_Helper::Success);
  EXPECT_EQ(fs::status(out).permissions(), fs::perms::owner_read | fs::perms::owner_write);
#endif
  // Wide names reach the file system as they are, whatever the code page.
  const fs::path folder = dir.path() / fs::path(u8"\u65e5\u672c \u0436");
  fs::create_directory(folder);
  fs::copy_file(in, folder / fs::path(u8"\u00e9\u20ac.qves"));
  EXPECT_EQ(Decrypt(folder / fs::path(u8"\u00e9\u20ac.qves"), folder / fs::path(u8"\u03a9")),
            QVE_Helper::Success);
  EXPECT_EQ(ReadFile(folder / fs::path(u8"\u03a9")), body);
}

// The output of a call that names its container twice would be the
// container, destroyed when the output is created: the call refuses. Each
// row names in.qves another way.
TEST(Decrypt, AContainerNamedTwiceIsLeftAlone) {
  TempDir dir;
  const Bytes container = Container{.body = Pattern(20000, 5)}.Build();
  const fs::path in = dir / "in.qves";
  WriteFile(in, container);
  const std::wstring input = WidePath(in), folder = WidePath(dir.path());
  fs::create_directory(dir / "sub");
#ifdef _WIN32
  std::wstring slashes = input;
  std::replace(slashes.begin(), slashes.end(), L'\\', L'/');
  const std::pair<const char*, std::wstring> rows[] = {
      {"as given", input},
      {"another case", folder + L"\\IN.Qves"},
      {".\\", folder + L"\\.\\in.qves"},
      {"..\\", folder + L"\\sub\\..\\in.qves"},
      {"/ for \\", slashes},
      {"a trailing dot", input + L"."},
  };
#else
  fs::create_hard_link(in, dir / "hard");
  fs::create_symlink("in.qves", dir / "soft");
  const std::pair<const char*, std::wstring> rows[] = {
      {"as given", input},
      {"./", folder + L"/./in.qves"},
      {"../", folder + L"/sub/../in.qves"},
      {"a hard link", WidePath(dir / "hard")},
      {"a symbolic link", WidePath(dir / "soft")},
  };
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
// A FIFO takes the whole plaintext, seal included, but has no size to cut
// the seal from. The read end is opened first, as a writer waits for one.
TEST(Decrypt, FifoAsOutputGetsThePlaintextButNoSizeToCut) {
  TempDir dir;
  const Container c{.body = BytesOf("through a pipe\n")};
  WriteFile(dir / "in.qves", c.Build());
  ASSERT_EQ(mkfifo((dir / "pipe").c_str(), 0600), 0);
  const int reader = open((dir / "pipe").c_str(), O_RDONLY | O_NONBLOCK);
  ASSERT_GE(reader, 0);
  EXPECT_EQ(Decrypt(dir / "in.qves", dir / "pipe"), QVE_Helper::OutputSizeFailed);
  Bytes received(c.Plaintext().size() + 1);
  const ssize_t got = read(reader, received.data(), received.size());
  close(reader);
  received.resize(std::size_t(std::max<ssize_t>(got, 0)));
  EXPECT_EQ(received, c.Plaintext());
}

// A small plaintext stays buffered until the payload ends; handing it over
// meets a file-size limit, set in a child, that lets 100 bytes through.
TEST(Decrypt, AFileSizeLimitFailsTheWriteAndKeepsWhatFitted) {
  TempDir dir;
  const Container small{.body = Pattern(24, 6)};
  ASSERT_EQ(small.Plaintext().size(), 300u);
  WriteFile(dir / "in.qves", small.Build());
  const int status = AsNobody(dir.path(), [&] {
    signal(SIGXFSZ, SIG_IGN);
    const rlimit limit{100, 100};
    if (setrlimit(RLIMIT_FSIZE, &limit) != 0) return 100;
    return int(Decrypt(dir / "in.qves", dir / "out.bin"));
  });
  EXPECT_EQ(status, QVE_Helper::OutputWriteFailed);
  EXPECT_EQ(ReadFile(dir / "out.bin"), Head(small.Plaintext(), 100));
}

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
