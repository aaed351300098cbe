// SPDX-License-Identifier: Apache-2.0
// The text reader: lines over any buffer size, gzip content, files unreadable or growing.
#include <gtest/gtest.h>

#ifdef _WIN32
#include <windows.h>
#else
#include <sys/stat.h>
#endif

#include <algorithm>
#include <fstream>

#include "platform/file_status.h"
#include "tests/support/builders.h"
#include "tests/support/harness.h"
#include "verify/text_reader.h"

namespace qve {
namespace {

using namespace testing;
using platform::ReadFault;

// Lines joined from their pieces; a second reader from the second line reads the same on.
std::vector<std::string> ReadLines(const fs::path& path, std::size_t bufferSize,
                                   Compression compression = Compression::None) {
  TextLineReader reader(path.string(), bufferSize, compression);
  std::vector<std::string> lines(1);
  std::uint64_t second = 0;
  std::string_view piece;
  bool lineEnds = false;
  while (reader.NextPiece(&piece, &lineEnds)) {
    EXPECT_LE(piece.size(), std::max<std::size_t>(bufferSize, 2));
    EXPECT_EQ(reader.pieceHasNul(), piece.find('\0') != std::string_view::npos);
    lines.back().append(piece);
    if (lineEnds) lines.emplace_back();
    if (lineEnds && lines.size() == 2) second = reader.offset();
  }
  lines.pop_back();
  if (lines.size() > 1) {
    TextLineReader again(reader, second);
    std::vector<std::string> rest;
    std::string_view line;
    while (again.NextLine(&line)) rest.emplace_back(line);
    EXPECT_EQ(rest, std::vector(lines.begin() + 1, lines.end()));
  }
  EXPECT_EQ(reader.fault(), ReadFault::None);
  // What the content holds after a 0x1A is counted in the content.
  if (compression == Compression::Gzip) {
    TextLineReader plain((path.parent_path() / "plain").string(), bufferSize);
    while (plain.NextPiece(&piece, &lineEnds)) continue;
    const auto ends = [](const TextLineReader& r) {
      return std::tuple(r.endOfTextOffset(), r.bytesAfterEndOfText(), r.lastLineUnterminated());
    };
    EXPECT_EQ(ends(reader), ends(plain));
  }
  return lines;
}

// Tiny buffers put every line end and CR LF pair across a refill.
TEST(TextLineReader, LinesOverEveryBufferSize) {
  const std::string longLine(10000, 'x'), nul(1, '\0');
  // clang-format off
  const std::pair<std::string, std::vector<std::string>> rows[] = {
      {"", {}}, {"a\r\nb\nc\r\n", {"a", "b", "c"}}, {"a\nb", {"a", "b"}}, {"\n\r\n\n", {"", "", ""}},
      {"a\rb\n\r\n", {"a\rb", ""}}, {"a\r\r\n", {"a\r"}}, {"a\nb\r", {"a", "b\r"}},
      {"a\nb\032c\nd\n", {"a", "b"}}, {"a\n\032b\n", {"a"}}, {"a\r\x1A\n", {"a\r"}}, {"\032a\n", {}},
      {nul + "\nab" + nul + "c\r\nd\n" + nul, {nul, "ab" + nul + "c", "d", nul}},
      {"a\n" + longLine + "\r\nb", {"a", longLine, "b"}}};
  // clang-format on
  TempDir dir;
  for (const std::size_t size : {1, 2, 3, 5, 16, int(TextLineReader::kDefaultBufferSize)}) {
    for (const auto& [text, lines] : rows) {
      WriteFile(dir / "log", text);
      EXPECT_EQ(ReadLines(dir / "log", size), lines) << size << ": " << text.substr(0, 20);
      // The same text as gzip content, in one member and in two split anywhere.
      const Bytes bytes = BytesOf(text);
      WriteFile(dir / "plain", bytes);
      const std::size_t half = bytes.size() / 2;
      for (const Bytes& gzip :
           {Gzip(bytes), Concat(Gzip(Head(bytes, half)), Gzip(std::span(bytes).subspan(half)))}) {
        WriteFile(dir / "log.gz", gzip);
        EXPECT_EQ(ReadLines(dir / "log.gz", size, Compression::Gzip), lines) << size;
      }
    }
  }
}

// Gzip data that cannot be read whole: the reader says why, and so does a second one.
TEST(TextLineReader, DamagedGzipContent) {
  const Bytes text = BytesOf("first line\nsecond line\n" + std::string(3000, 'z') + "\nlast\n");
  const Bytes gzip = Gzip(text);
  const auto changed = [&](std::size_t at) {
    Bytes bytes = gzip;
    bytes.at(at) ^= 0x20;
    return bytes;
  };
  using enum ReadFault;
  // Damaged: plain text, the magic, a deflate byte, the CRC, the length, bytes after the member.
  // clang-format off
  const std::pair<Bytes, ReadFault> rows[] = {
      {text, GzipDamaged}, {changed(1), GzipDamaged}, {changed(gzip.size() / 2), GzipDamaged},
      {changed(gzip.size() - 8), GzipDamaged}, {changed(gzip.size() - 1), GzipDamaged},
      {Concat(gzip, BytesOf("tail\n")), GzipDamaged}, {Concat(gzip, Bytes(4)), GzipDamaged},
      // Cut short: empty, one byte of a next member, a second member cut.
      {{}, GzipCutShort}, {Concat(gzip, Bytes{0x1F}), GzipCutShort}, {Concat(gzip, Head(gzip, 20)), GzipCutShort}};
  // clang-format on
  TempDir dir;
  const auto read = [&](const Bytes& bytes) {
    WriteFile(dir / "log.gz", bytes);
    TextLineReader reader((dir / "log.gz").string(), 16, Compression::Gzip);
    std::string_view line;
    while (reader.NextLine(&line)) continue;
    TextLineReader again(reader, 0);
    while (again.NextLine(&line)) continue;
    EXPECT_EQ(again.fault(), reader.fault());
    return reader.fault();
  };
  for (std::size_t i = 0; i < std::size(rows); ++i)
    EXPECT_EQ(read(rows[i].first), rows[i].second) << i;
  // Cut anywhere, it ends inside the member.
  for (std::size_t cut = 0; cut < gzip.size(); ++cut)
    EXPECT_EQ(read(Head(gzip, cut)), ReadFault::GzipCutShort) << cut;
}

TEST(TextLineReader, WhatIsNoReadableFileGivesNoLinesAndAppendsAreSeen) {
  TempDir dir;
#ifdef _WIN32
  const fs::path special = "NUL";  // stands for the kinds of file that are not on a disk
#else
  const fs::path special = dir / "fifo";
  ASSERT_EQ(mkfifo(special.c_str(), 0600), 0);
  WriteFile(dir / "locked", std::string("a\n"));
  fs::permissions(dir / "locked", fs::perms::none);
  EXPECT_EQ(AsNobody(dir.path(), [&] { return int(ReadLines(dir / "locked", 64).size()); }), 0);
#endif
  for (const auto& path : {dir / "absent.log", dir.path(), special}) {
    TextLineReader reader(path.string());
    std::string_view line;
    EXPECT_FALSE(reader.isOpen()) << path;
    EXPECT_FALSE(reader.NextLine(&line)) << path;
  }
  WriteFile(dir / "log", std::string("first\n"));
  TextLineReader reader((dir / "log").string(), 4);
  std::string_view line;
  EXPECT_TRUE(reader.NextLine(&line) && line == "first");
  std::ofstream(dir / "log", std::ios::binary | std::ios::app) << "second\n";
  EXPECT_TRUE(reader.NextLine(&line) && line == "second");
  EXPECT_FALSE(reader.NextLine(&line));
}

#ifdef _WIN32
// A logger holds its file open for writing, lets others read and write, and
// rotates it by renaming while it is read.
TEST(TextLineReader, SharesTheFileWithItsWriter) {
  TempDir dir;
  const std::wstring path = (dir / "log").wstring();
  HANDLE writer = ::CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(writer, INVALID_HANDLE_VALUE);
  DWORD written = 0;
  ASSERT_TRUE(::WriteFile(writer, "a\r\nb\n", 5, &written, nullptr));
  EXPECT_EQ(ReadLines(dir / "log", 64), (std::vector<std::string>{"a", "b"}));
  ::CloseHandle(writer);
  TextLineReader reader((dir / "log").string());
  ASSERT_TRUE(reader.isOpen());
  writer = ::CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
  EXPECT_NE(writer, INVALID_HANDLE_VALUE);
  if (writer != INVALID_HANDLE_VALUE) ::CloseHandle(writer);
  std::error_code error;
  fs::rename(dir / "log", dir / "log.1", error);
  EXPECT_FALSE(error) << error.message();
  std::string_view line;
  ASSERT_TRUE(reader.NextLine(&line));
  EXPECT_EQ(line, "a");
  // A writer that shares nothing locks the log: no lines, and the commands hear why.
  writer = ::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(writer, INVALID_HANDLE_VALUE);
  EXPECT_FALSE(TextLineReader((dir / "log").string()).isOpen());
  EXPECT_EQ(platform::ReadError(path).value(), ERROR_SHARING_VIOLATION);
  ::CloseHandle(writer);
}
#endif

}  // namespace
}  // namespace qve
