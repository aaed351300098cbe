// Inputs at the edges: a huge single line, things that are not regular files
// where files are expected, folder scans that could loop or be refused, and
// path text that is not plain ASCII or not text at all.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <iostream>
#include <stdexcept>
#include <string>
#include <vector>

#include "QVEHelper.h"
#include "decrypt/block_buffers.h"
#include "platform/paths.h"
#include "tests/support/byte_writer.h"
#include "tests/support/container_builder.h"
#include "tests/support/log_builder.h"
#include "tests/support/temp_dir.h"
#include "verify/file_verifier.h"

namespace qve {
namespace {

namespace fs = std::filesystem;
using testing::BytesOf;
using testing::ContainerBuilder;
using testing::LogBuilder;
using testing::LogChain;
using testing::Pattern;
using testing::ReadFile;
using testing::TempDir;
using testing::WriteFile;

using testing::WidePath;

QVE_Helper::DecryptResult Decrypt(const fs::path& input, const fs::path& output) {
  return QVE_Helper::Decrypt(WidePath(input), WidePath(output));
}

std::vector<FileCheckResult> Verify(std::vector<std::wstring> paths) {
  FileVerifier verifier;
  VerifyFiles(verifier, paths);
  return verifier.results;
}

// A report over a folder: the file names it reports and its result.
std::pair<std::uint32_t, std::vector<std::wstring>> ScanFolder(const std::wstring& folder) {
  auto* report = QVE_Helper::IVerificationReport::Create();
  report->AddFileInFolder(folder);
  const std::uint32_t result = report->Verify(true);
  std::vector<std::wstring> names;
  for (std::uint32_t i = 0; i < report->GetFileReportCount(); ++i)
    names.push_back(report->GetFileReport(i).name);
  QVE_Helper::IVerificationReport::Delete(report);
  return {result, names};
}

// One 100 MB line with no line end, verified in a child process whose peak
// memory is read back: the reader holds that line and the verifier one copy
// of it, so the peak is a small multiple of the line and not of anything
// else. Nothing about time is asserted.
TEST(HostileInputTest, HundredMegabyteLineCostsMemoryOfThatLineOnly) {
  constexpr std::size_t kLine = 100u << 20;
  TempDir dir;
  const fs::path path = dir / "system.log";
  {
    std::FILE* file = std::fopen(path.c_str(), "wb");
    ASSERT_NE(file, nullptr);
    const std::string chunk(1 << 20, 'x');
    for (std::size_t i = 0; i < kLine / chunk.size(); ++i)
      std::fwrite(chunk.data(), 1, chunk.size(), file);
    std::fclose(file);
  }
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    const auto results = Verify({WidePath(path)});
    const bool right = results.size() == 1 && results[0].blockCount == 1 &&
                       results[0].blocks.size() == 1 &&
                       results[0].blocks[0].verdict == BlockUnsigned;
    ::_exit(right ? 0 : 1);
  }
  int status = 0;
  struct rusage usage {};
  ASSERT_EQ(::wait4(child, &status, 0, &usage), child);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0) << "the line was not read as one unsigned tail";
  const std::size_t peak = static_cast<std::size_t>(usage.ru_maxrss) * 1024;
  std::cout << "peak memory verifying a 100 MB line: " << (peak >> 20) << " MB\n";
  RecordProperty("peak_mb", static_cast<int>(peak >> 20));
  // The read buffer doubles up to 128 MB and the pending line is one 100 MB
  // copy; a sanitizer's quarantine may keep the smaller buffers too.
  // ThreadSanitizer's shadow memory multiplies every byte, so there only the
  // verdict is checked.
#if !defined(__SANITIZE_THREAD__)
  EXPECT_LT(peak, 6 * kLine);
#endif
}

TEST(HostileInputTest, FolderGivenAsContainerDoesNotOpen) {
  TempDir dir;
  fs::create_directory(dir / "folder.qves");
  WriteFile(dir / "out.bin", BytesOf("left alone"));
  EXPECT_EQ(Decrypt(dir / "folder.qves", dir / "out.bin"), QVE_Helper::InputOpenFailed);
  EXPECT_EQ(ReadFile(dir / "out.bin"), BytesOf("left alone"));
}

TEST(HostileInputTest, FolderGivenAsOutputDoesNotOpen) {
  TempDir dir;
  WriteFile(dir / "in.qves", ContainerBuilder().Body(BytesOf("data")).Build());
  fs::create_directory(dir / "out");
  EXPECT_EQ(Decrypt(dir / "in.qves", dir / "out"), QVE_Helper::OutputOpenFailed);
  EXPECT_TRUE(fs::is_directory(dir / "out"));
}

// A FIFO takes the whole plaintext, seal included, but has no size to cut
// the seal from. The read end is opened first: a writer opening a FIFO with
// no reader waits for one, as any writer does.
TEST(HostileInputTest, FifoGivenAsOutputGetsThePlaintextButNoSizeToCut) {
  TempDir dir;
  const Bytes body = BytesOf("through a pipe\n");
  const ContainerBuilder container = ContainerBuilder().Body(body);
  WriteFile(dir / "in.qves", container.Build());
  const fs::path fifo = dir / "pipe";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  const int reader = ::open(fifo.c_str(), O_RDONLY | O_NONBLOCK);
  ASSERT_GE(reader, 0);
  EXPECT_EQ(Decrypt(dir / "in.qves", fifo), QVE_Helper::OutputSizeFailed);
  Bytes received(container.Plaintext().size() + 1);
  const ssize_t got = ::read(reader, received.data(), received.size());
  ::close(reader);
  ASSERT_GE(got, 0);
  received.resize(static_cast<std::size_t>(got));
  EXPECT_EQ(received, container.Plaintext());
}

TEST(HostileInputTest, DevicesGivenAsOutput) {
  TempDir dir;
  WriteFile(dir / "in.qves", ContainerBuilder().Body(Pattern(10000)).Build());
  // Takes everything, but is no regular file to measure.
  EXPECT_EQ(Decrypt(dir / "in.qves", "/dev/null"), QVE_Helper::OutputSizeFailed);
  if (fs::exists("/dev/full")) {
    // Refuses every byte: while decrypting once the output buffer spills,
    // else when the buffered rest is handed over at the end.
    EXPECT_EQ(Decrypt(dir / "in.qves", "/dev/full"), QVE_Helper::OutputWriteFailed);
    WriteFile(dir / "big.qves",
              ContainerBuilder().Body(Pattern(2 * qve::kFileBlockSize + 10000)).Build());
    EXPECT_EQ(Decrypt(dir / "big.qves", "/dev/full"), QVE_Helper::OutputWriteFailed);
  }
}

TEST(HostileInputTest, DevicesAndFoldersGivenAsLogsReadAsUnopenedFiles) {
  TempDir dir;
  fs::create_directory(dir / "system.log");
  ASSERT_EQ(::mkfifo((dir / "System_1.log").c_str(), 0600), 0);
  const auto results = Verify(
      {WidePath(dir / "system.log"), WidePath(dir / "System_1.log"), L"/dev/zero", L"/dev/null"});
  ASSERT_EQ(results.size(), 4u);
  for (const auto& result : results) {
    EXPECT_EQ(result.blockCount, 0u);
    EXPECT_TRUE(result.blocks.empty());
  }
}

TEST(HostileInputTest, FolderScanOverSymlinkLoopsEnds) {
  TempDir dir;
  fs::create_directories(dir / "logs");
  LogChain chain;
  LogBuilder(chain).DataLines(2).Sign().WriteTo(dir / "logs" / "system.log");
  fs::create_directory_symlink(dir / "logs", dir / "logs" / "loop");
  fs::create_directory_symlink("..", dir / "logs" / "up");
  fs::create_symlink("System_9.log", dir / "logs" / "System_9.log");  // points at itself
  const auto [result, names] = ScanFolder(WidePath(dir / "logs"));
  EXPECT_EQ(result, QVE_Helper::ReportOk);
  EXPECT_EQ(names, std::vector<std::wstring>{L"system.log"});
}

TEST(HostileInputTest, FolderScanSkipsAFolderItCannotRead) {
  if (::geteuid() == 0) GTEST_SKIP() << "running as root: every folder can be read";
  TempDir dir;
  fs::create_directories(dir / "logs" / "locked");
  LogChain chain;
  LogBuilder(chain).DataLines(2).Sign().WriteTo(dir / "logs" / "system.log");
  LogBuilder(chain).Data("hidden").Sign().WriteTo(dir / "logs" / "locked" / "System_1.log");
  fs::permissions(dir / "logs" / "locked", fs::perms::none);
  const auto [result, names] = ScanFolder(WidePath(dir / "logs"));
  fs::permissions(dir / "logs" / "locked", fs::perms::owner_all);
  EXPECT_EQ(result, QVE_Helper::ReportOk);
  EXPECT_EQ(names, std::vector<std::wstring>{L"system.log"});
}

TEST(HostileInputTest, NonAsciiPathsWork) {
  TempDir dir;
  const fs::path folder =
      dir / "Journaux d\xc3\xa9j\xc3\xa0 \xe6\x97\xa5\xe5\xbf\x97 \xf0\x9f\x94\x92";
  fs::create_directories(folder);
  LogChain chain;
  LogBuilder(chain).DataLines(3).Sign().WriteTo(folder / "system.log");
  const auto [result, names] = ScanFolder(WidePath(folder));
  EXPECT_EQ(result, QVE_Helper::ReportOk);
  EXPECT_EQ(names, std::vector<std::wstring>{L"system.log"});

  const Bytes body = BytesOf("caf\xc3\xa9\n");
  WriteFile(folder / "\xc3\xa9t\xc3\xa9.qves", ContainerBuilder().Body(body).Build());
  EXPECT_EQ(Decrypt(folder / "\xc3\xa9t\xc3\xa9.qves", folder / "\xe2\x82\xac.out"),
            QVE_Helper::Success);
  EXPECT_EQ(ReadFile(folder / "\xe2\x82\xac.out"), body);
}

// A lone surrogate has no narrow form: decryption fails to open, verification
// stops with the documented exception.
TEST(HostileInputTest, PathTextWithNoNarrowForm) {
  TempDir dir;
  WriteFile(dir / "in.qves", ContainerBuilder().Build());
  const std::wstring bad = WidePath(dir.path()) + L"/bad\xD800name";
  EXPECT_EQ(QVE_Helper::Decrypt(bad, WidePath(dir / "out.bin")), QVE_Helper::InputOpenFailed);
  EXPECT_EQ(QVE_Helper::Decrypt(WidePath(dir / "in.qves"), bad), QVE_Helper::OutputOpenFailed);
  EXPECT_THROW(Verify({bad}), std::invalid_argument);
}

// A file whose name is not UTF-8 has no wide form; the scan passes over it
// and still reports the files around it.
TEST(HostileInputTest, FolderScanPassesOverNamesThatAreNotText) {
  TempDir dir;
  fs::create_directories(dir / "logs");
  LogChain chain;
  LogBuilder(chain).DataLines(2).Sign().WriteTo(dir / "logs" / "system.log");
  WriteFile(dir / "logs" / "System_\xff\xfe.log", std::string("not named in text\n"));
  fs::create_directory(dir / "logs" / "sub\xc0\xaf");
  WriteFile(dir / "logs" / "sub\xc0\xaf" / "system.log", std::string("below a bad name\n"));
  const auto [result, names] = ScanFolder(WidePath(dir / "logs"));
  EXPECT_EQ(result, QVE_Helper::ReportOk);
  EXPECT_EQ(names, std::vector<std::wstring>{L"system.log"});
}

}  // namespace
}  // namespace qve
