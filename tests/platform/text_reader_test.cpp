#include "platform/text_reader.h"

#include <gtest/gtest.h>

#ifdef _WIN32
#include <windows.h>
#else
#include <sys/stat.h>
#include <unistd.h>
#endif

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "tests/support/temp_dir.h"

namespace qve::platform {
namespace {

using testing::TempDir;
using testing::WriteFile;

std::vector<std::string> ReadLines(const std::filesystem::path& path, std::size_t bufferSize) {
  TextLineReader reader(path.string(), bufferSize);
  std::vector<std::string> lines;
  std::string_view line;
  while (reader.NextLine(&line)) lines.emplace_back(line);
  return lines;
}

struct LineCase {
  const char* name;
  std::string bytes;
  std::vector<std::string> lines;
};

const LineCase kLineCases[] = {
    {"empty file", "", {}},
    {"LF ends a line", "a\nb\n", {"a", "b"}},
    {"CR LF ends a line like LF", "a\r\nb\r\n", {"a", "b"}},
    {"mixed line ends", "a\r\nb\nc\r\n", {"a", "b", "c"}},
    {"last line needs no LF", "a\nb", {"a", "b"}},
    {"nothing after the last LF", "a\n", {"a"}},
    {"empty lines count", "\n\r\n\n", {"", "", ""}},
    {"lone CR stays", "a\rb\n\r\n", {"a\rb", ""}},
    {"CR CR LF keeps one CR", "a\r\r\n", {"a\r"}},
    {"CR at the end of the file stays", "a\nb\r", {"a", "b\r"}},
    {"0x1A ends the input",
     "a\nb\x1A"
     "c\nd\n",
     {"a", "b"}},
    {"0x1A at a line start",
     "a\n\x1A"
     "b\n",
     {"a"}},
    {"0x1A right after CR", "a\r\x1A\n", {"a\r"}},
    {"0x1A first",
     "\x1A"
     "a\n",
     {}},
    {"NUL is kept for the line rules", std::string("a\0b\r\n", 5), {std::string("a\0b", 3)}},
    {"other control bytes stay", "\x1F\x1F\n\x7F\xFF\n", {"\x1F\x1F", "\x7F\xFF"}},
};

class TextLineReaderTest : public ::testing::TestWithParam<std::size_t> {
 protected:
  TempDir dir;
};

// Tiny buffers put every line end and CR LF pair across a refill.
TEST_P(TextLineReaderTest, SplitsLinesInTextMode) {
  for (const LineCase& c : kLineCases) {
    WriteFile(dir / "log", c.bytes);
    EXPECT_EQ(ReadLines(dir / "log", GetParam()), c.lines) << c.name;
  }
}

TEST_P(TextLineReaderTest, LinesLongerThanTheBuffer) {
  const std::string longLine(10000, 'x');
  WriteFile(dir / "log", "a\n" + longLine + "\r\nb");
  EXPECT_EQ(ReadLines(dir / "log", GetParam()), (std::vector<std::string>{"a", longLine, "b"}));
}

INSTANTIATE_TEST_SUITE_P(BufferSizes, TextLineReaderTest,
                         ::testing::Values(1, 2, 3, 5, 16, TextLineReader::kDefaultBufferSize));

TEST(TextLineReader, MissingFileFolderAndFifoGiveNoLines) {
  TempDir dir;
#ifdef _WIN32
  // The null device stands for the kinds of file that are not on a disk.
  const std::filesystem::path special = "NUL";
#else
  const std::filesystem::path special = dir / "fifo";
  ASSERT_EQ(::mkfifo(special.c_str(), 0600), 0);
#endif
  for (const auto& path : {dir / "absent.log", dir.path(), special}) {
    TextLineReader reader(path.string());
    std::string_view line;
    EXPECT_FALSE(reader.isOpen()) << path;
    EXPECT_FALSE(reader.NextLine(&line)) << path;
  }
}

#ifndef _WIN32
// POSIX permission bits; Wine grants every access.
TEST(TextLineReader, UnreadableFileGivesNoLines) {
  if (::geteuid() == 0) GTEST_SKIP() << "running as root: permissions do not deny reading";
  TempDir dir;
  WriteFile(dir / "log", std::string("a\n"));
  std::filesystem::permissions(dir / "log", std::filesystem::perms::none);
  TextLineReader reader((dir / "log").string());
  std::string_view line;
  EXPECT_FALSE(reader.NextLine(&line));
}
#endif

TEST(TextLineReader, SeesWhatAWriterAppendsWhileItIsOpen) {
  TempDir dir;
  WriteFile(dir / "log", std::string("first\n"));
  TextLineReader reader((dir / "log").string(), 4);
  std::string_view line;
  ASSERT_TRUE(reader.NextLine(&line));
  EXPECT_EQ(line, "first");
  {
    std::ofstream writer(dir / "log", std::ios::binary | std::ios::app);
    writer << "second\n";
  }
  ASSERT_TRUE(reader.NextLine(&line));
  EXPECT_EQ(line, "second");
  EXPECT_FALSE(reader.NextLine(&line));
}

#ifdef _WIN32

// A logger holds its file open for writing and lets others read and write.
TEST(TextLineReader, ReadsAFileAWriterHoldsOpen) {
  TempDir dir;
  const std::wstring path = (dir / "log").wstring();
  HANDLE writer = ::CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(writer, INVALID_HANDLE_VALUE);
  DWORD written = 0;
  ASSERT_TRUE(::WriteFile(writer, "a\r\nb\n", 5, &written, nullptr));
  EXPECT_EQ(ReadLines(dir / "log", 64), (std::vector<std::string>{"a", "b"}));
  ::CloseHandle(writer);
}

TEST(TextLineReader, LocksNoWriterOut) {
  TempDir dir;
  WriteFile(dir / "log", std::string("a\n"));
  TextLineReader reader((dir / "log").string());
  ASSERT_TRUE(reader.isOpen());
  // A writer that shares only reading needs the reader to share writing too.
  HANDLE writer = ::CreateFileW((dir / "log").wstring().c_str(), GENERIC_WRITE, FILE_SHARE_READ,
                                nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  EXPECT_NE(writer, INVALID_HANDLE_VALUE);
  if (writer != INVALID_HANDLE_VALUE) ::CloseHandle(writer);
  // Rotating the log renames it while it is read.
  std::error_code error;
  std::filesystem::rename(dir / "log", dir / "log.1", error);
  EXPECT_FALSE(error) << error.message();
  std::string_view line;
  ASSERT_TRUE(reader.NextLine(&line));
  EXPECT_EQ(line, "a");
}

#endif

}  // namespace
}  // namespace qve::platform
