#include "platform/paths.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>

namespace qve::platform {
namespace {

TEST(Paths, ConvertsValidTextBothWays) {
  const struct {
    std::wstring wide;
    std::string narrow;
  } cases[] = {
      {L"", ""},
      {L"logs/system.log", "logs/system.log"},
      {L"caf\u00e9", "caf\xc3\xa9"},
      {L"\u20ac", "\xe2\x82\xac"},
      {L"\U0001F600", "\xf0\x9f\x98\x80"},
      {L"\U0010FFFF", "\xf4\x8f\xbf\xbf"},
      {L"back\\slash", "back\\slash"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(ToNarrow(c.wide), c.narrow);
    EXPECT_EQ(ToWide(c.narrow), c.wide);
  }
}

TEST(Paths, RejectsTextThatIsNotUnicode) {
  for (const wchar_t bad : {wchar_t(0xD800), wchar_t(0xDFFF), wchar_t(0x110000)}) {
    const std::wstring path = std::wstring(L"a") + bad;
    EXPECT_FALSE(ToNarrow(path));
    try {
      NarrowPath(path);
      FAIL() << "no exception for " << static_cast<unsigned>(bad);
    } catch (const std::invalid_argument& e) {
      EXPECT_STREQ(e.what(), "invalid wchar_t filename argument");
    }
  }
  for (const char* bad : {"\x80", "\xc3", "\xc0\xaf", "\xed\xa0\x80", "\xf4\x90\x80\x80", "\xff"})
    EXPECT_FALSE(ToWide(bad)) << bad;
}

TEST(Paths, FileNameIsTheLastComponent) {
  EXPECT_EQ(FileNameOf(L"C:/logs/system.log"), L"system.log");
  EXPECT_EQ(FileNameOf(L"system.log"), L"system.log");
  EXPECT_EQ(FileNameOf(L"a\\b"), L"a\\b");
  EXPECT_EQ(FileNameOf(L"dir/"), L"");
  EXPECT_EQ(FileNameOf(L""), L"");
}

}  // namespace
}  // namespace qve::platform
