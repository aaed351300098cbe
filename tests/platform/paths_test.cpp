#include "platform/paths.h"

#include <gtest/gtest.h>

#include <cwchar>
#include <stdexcept>
#include <string>

#ifdef _WIN32
#include <windows.h>
#endif

namespace qve::platform {
namespace {

void ExpectRejected(const std::wstring& path, const char* what) {
  EXPECT_FALSE(ToNarrow(path)) << what;
  try {
    NarrowPath(path);
    ADD_FAILURE() << "no exception for " << what;
  } catch (const std::invalid_argument& e) {
    EXPECT_STREQ(e.what(), "invalid wchar_t filename argument") << what;
  }
}

TEST(Paths, AsciiIsTheSameOnBothSides) {
  for (const auto& [wide, narrow] : {std::pair<std::wstring, std::string>{L"", ""},
                                     {L"logs/system.log", "logs/system.log"},
                                     {L"back\\slash", "back\\slash"},
                                     {L"C:\\exports\\day1\\", "C:\\exports\\day1\\"}}) {
    EXPECT_EQ(ToNarrow(wide), narrow);
    EXPECT_EQ(NarrowPath(wide), narrow);
    EXPECT_EQ(ToWide(narrow), wide);
  }
}

TEST(Paths, RejectsLoneSurrogates) {
  for (const wchar_t bad : {wchar_t(0xD800), wchar_t(0xDBFF), wchar_t(0xDC00), wchar_t(0xDFFF)}) {
    ExpectRejected(std::wstring(L"a") + bad, "lone surrogate");
    ExpectRejected(std::wstring(L"a") + bad + L"b", "lone surrogate before text");
  }
  // A high surrogate followed by a second high one is no pair either.
  ExpectRejected(std::wstring{wchar_t(0xD800), wchar_t(0xD800)}, "two high surrogates");
}

TEST(Paths, FileNameIsTheLastComponent) {
  EXPECT_EQ(FileNameOf(L"C:/logs/system.log"), L"system.log");
  EXPECT_EQ(FileNameOf(L"/var/log/system.log"), L"system.log");
  EXPECT_EQ(FileNameOf(L"system.log"), L"system.log");
  EXPECT_EQ(FileNameOf(L"dir/"), L"");
  EXPECT_EQ(FileNameOf(L""), L"");
}

#if WCHAR_MAX > 0xFFFF

TEST(Paths, Utf32ConvertsToUtf8BothWays) {
  const struct {
    std::wstring wide;
    std::string narrow;
  } cases[] = {
      {L"caf\u00e9", "caf\xc3\xa9"},
      {L"\u20ac", "\xe2\x82\xac"},
      {L"\U0001F600", "\xf0\x9f\x98\x80"},
      {L"\U0010FFFF", "\xf4\x8f\xbf\xbf"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(ToNarrow(c.wide), c.narrow);
    EXPECT_EQ(ToWide(c.narrow), c.wide);
  }
}

TEST(Paths, RejectsValuesAboveUnicode) {
  ExpectRejected(std::wstring(L"a") + wchar_t(0x110000), "U+110000");
  ExpectRejected(std::wstring(1, wchar_t(0x7FFFFFFF)), "0x7FFFFFFF");
}

TEST(Paths, RejectsBytesThatAreNotUtf8) {
  for (const char* bad : {"\x80", "\xc3", "\xc0\xaf", "\xed\xa0\x80", "\xf4\x90\x80\x80", "\xff"})
    EXPECT_FALSE(ToWide(bad)) << bad;
}

TEST(Paths, OnlySlashSeparates) {
  EXPECT_EQ(FileNameOf(L"a\\b"), L"a\\b");
  EXPECT_EQ(FileNameOf(L"C:system.log"), L"C:system.log");
}

#endif

#ifdef _WIN32

TEST(Paths, BackslashSlashAndDriveColonAllSeparate) {
  const struct {
    std::wstring path;
    std::wstring name;
  } cases[] = {
      {L"C:\\logs\\system.log", L"system.log"},
      {L"C:system.log", L"system.log"},
      {L"C:", L""},
      {L"C:\\exports\\day1\\", L""},
      {L"a/b\\c", L"c"},
      {L"a\\b/c", L"c"},
      {L"\\\\server\\share\\system.log", L"system.log"},
  };
  for (const auto& c : cases) EXPECT_EQ(FileNameOf(c.path), c.name);
}

TEST(Paths, SurrogatePairsConvertWhereTheCodePageHasThem) {
  // U+1F600 is two wchar_t here; it converts only where the code page is UTF-8.
  const std::wstring pair = L"\U0001F600";
  ASSERT_EQ(pair.size(), 2u);
  if (GetACP() == CP_UTF8) {
    EXPECT_EQ(ToNarrow(pair), "\xf0\x9f\x98\x80");
  } else {
    ExpectRejected(pair, "U+1F600");
  }
}

// Wine and a Western European Windows run in code page 1252.
TEST(Paths, Windows1252ConvertsWhatItCanRepresentExactly) {
  if (GetACP() != 1252) GTEST_SKIP() << "the code page is " << GetACP() << ", not 1252";
  const struct {
    std::wstring wide;
    std::string narrow;
  } cases[] = {
      {L"caf\u00e9", "caf\xe9"},
      {L"\u20ac", "\x80"},
      {L"\u00ff", "\xff"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(ToNarrow(c.wide), c.narrow);
    EXPECT_EQ(NarrowPath(c.wide), c.narrow);
    EXPECT_EQ(ToWide(c.narrow), c.wide);
  }
  // Best fit would give stand-ins ('A', '-', 'a') that name another file.
  const struct {
    const wchar_t* wide;
    const char* what;
  } inexact[] = {{L"\u0100", "U+0100"}, {L"x\u2212y", "U+2212"}, {L"\u03b1.log", "U+03B1"}};
  for (const auto& c : inexact) ExpectRejected(c.wide, c.what);
}

#endif

}  // namespace
}  // namespace qve::platform
