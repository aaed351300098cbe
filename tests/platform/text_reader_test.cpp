#include "platform/text_reader.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

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
  ASSERT_EQ(::mkfifo((dir / "fifo").c_str(), 0600), 0);
  for (const auto& path : {dir / "absent.log", dir.path(), dir / "fifo"}) {
    TextLineReader reader(path.string());
    std::string_view line;
    EXPECT_FALSE(reader.isOpen()) << path;
    EXPECT_FALSE(reader.NextLine(&line)) << path;
  }
}

TEST(TextLineReader, UnreadableFileGivesNoLines) {
  if (::geteuid() == 0) GTEST_SKIP() << "running as root: permissions do not deny reading";
  TempDir dir;
  WriteFile(dir / "log", std::string("a\n"));
  std::filesystem::permissions(dir / "log", std::filesystem::perms::none);
  TextLineReader reader((dir / "log").string());
  std::string_view line;
  EXPECT_FALSE(reader.NextLine(&line));
}

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

}  // namespace
}  // namespace qve::platform
