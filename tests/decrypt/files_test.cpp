#include "platform/files.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "platform/paths.h"
#include "tests/support/byte_writer.h"
#include "tests/support/temp_dir.h"

namespace qve::platform {
namespace {

namespace fs = std::filesystem;
using testing::BytesOf;
using testing::ReadFile;
using testing::TempDir;
using testing::WriteFile;

using testing::WidePath;

const std::wstring kNotUnicode = std::wstring(L"/tmp/qve-") + wchar_t(0xDC00);

// The UTF-8 file name is Linux's; Windows opens by the wide name itself.
#ifndef _WIN32
TEST(Files, OpensByWidePathAsUtf8) {
  TempDir dir;
  const fs::path path = dir / "caf\xc3\xa9.bin";
  std::ofstream out;
  ASSERT_TRUE(OpenForWriting(out, WidePath(dir.path()) + L"/caf\u00e9.bin"));
  out << "abc";
  out.close();
  EXPECT_EQ(ReadFile(path), BytesOf("abc"));

  std::ifstream in;
  ASSERT_TRUE(OpenForReading(in, WidePath(path)));
  EXPECT_EQ(in.get(), 'a');
}
#endif

TEST(Files, WritingTruncatesAnExistingFile) {
  TempDir dir;
  WriteFile(dir / "f", std::string("long old content"));
  std::ofstream out;
  ASSERT_TRUE(OpenForWriting(out, WidePath(dir / "f")));
  out.close();
  EXPECT_TRUE(ReadFile(dir / "f").empty());
}

// POSIX permission bits; Windows reports its own attributes for them.
#ifndef _WIN32
TEST(Files, WritingIntoAnEmptyFileKeepsItsPermissions) {
  TempDir dir;
  WriteFile(dir / "f", std::string());
  fs::permissions(dir / "f", fs::perms::owner_read | fs::perms::owner_write);
  std::ofstream out;
  ASSERT_TRUE(OpenForWriting(out, WidePath(dir / "f")));
  out << "new";
  out.close();
  EXPECT_EQ(ReadFile(dir / "f"), BytesOf("new"));
  EXPECT_EQ(fs::status(dir / "f").permissions(), fs::perms::owner_read | fs::perms::owner_write);
}
#endif

TEST(Files, OpeningFailsQuietly) {
  TempDir dir;
  std::ifstream in;
  std::ofstream out;
  EXPECT_FALSE(OpenForReading(in, WidePath(dir / "missing")));
  EXPECT_FALSE(OpenForReading(in, WidePath(dir.path())));
  EXPECT_FALSE(OpenForReading(in, kNotUnicode));
  EXPECT_FALSE(OpenForWriting(out, WidePath(dir / "missing" / "f")));
  EXPECT_FALSE(OpenForWriting(out, WidePath(dir.path())));
  EXPECT_FALSE(OpenForWriting(out, kNotUnicode));
  EXPECT_FALSE(in.is_open());
  EXPECT_FALSE(out.is_open());
}

TEST(Files, ReopeningAStreamReadsTheNewFileFromItsStart) {
  TempDir dir;
  WriteFile(dir / "a", std::string("first"));
  WriteFile(dir / "b", std::string("second"));
  std::ifstream in;
  ASSERT_TRUE(OpenForReading(in, WidePath(dir / "a")));
  std::string all((std::istreambuf_iterator<char>(in)), {});
  in.close();
  ASSERT_TRUE(OpenForReading(in, WidePath(dir / "b")));
  EXPECT_TRUE(in.good());
  EXPECT_EQ(std::string((std::istreambuf_iterator<char>(in)), {}), "second");
}

TEST(Files, SizeAndTruncationReportFailureByErrorCode) {
  TempDir dir;
  WriteFile(dir / "f", std::string(5000, 'x'));
  std::error_code error;
  EXPECT_EQ(FileSize(WidePath(dir / "f"), error), 5000u);
  EXPECT_FALSE(error);
  TruncateFile(WidePath(dir / "f"), 1234, error);
  EXPECT_FALSE(error);
  EXPECT_EQ(ReadFile(dir / "f"), Bytes(1234, 'x'));

  const struct {
    const char* name;
    std::wstring path;
  } noSize[] = {{"missing", WidePath(dir / "missing")},
                {"folder", WidePath(dir.path())},
#ifdef _WIN32
                {"device", L"NUL"},
#else
                {"device", L"/dev/null"},
#endif
                {"not Unicode", kNotUnicode}};
  for (const auto& c : noSize) {
    std::error_code sizeError;
    FileSize(c.path, sizeError);
    EXPECT_TRUE(sizeError) << c.name;
  }
  std::error_code truncateError;
  TruncateFile(WidePath(dir / "missing"), 0, truncateError);
  EXPECT_TRUE(truncateError);
  EXPECT_FALSE(fs::exists(dir / "missing"));
  std::error_code convertError;
  TruncateFile(kNotUnicode, 0, convertError);
  EXPECT_TRUE(convertError);
}

}  // namespace
}  // namespace qve::platform
