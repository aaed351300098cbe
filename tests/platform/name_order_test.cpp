#include "platform/name_order.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

namespace qve::platform {
namespace {

TEST(NameLess, ComparesUtf16CodeUnits) {
  const struct {
    const char* why;
    std::wstring before;
    std::wstring after;
  } cases[] = {
      {"upper case before lower case", L"System_1.log", L"system.log"},
      {"no case folding", L"Z", L"a"},
      {"prefix first", L"System_1", L"System_1.log"},
      {"empty name first", L"", L"a"},
      {"digits by code unit, not number", L"System_10.log", L"System_2.log"},
      {"unsigned units", L"\u007F", L"\u00E9"},
      {"BMP below the surrogates first", L"\uD7FF", L"\U00010000"},
      {"surrogate pair before U+E000", L"\U00010000", L"\uE000"},
      {"surrogate pair before U+FFFF", L"\U0010FFFF", L"\uFFFF"},
      {"pairs by their units", L"\U00010000", L"\U0001F600"},
      {"low surrogate decides", L"\U0001F600", L"\U0001F601"},
      {"after a common pair", L"\U0001F600a", L"\U0001F600b"},
  };
  for (const auto& c : cases) {
    EXPECT_TRUE(NameLess(c.before, c.after)) << c.why;
    EXPECT_FALSE(NameLess(c.after, c.before)) << c.why;
    EXPECT_FALSE(NameLess(c.before, c.before)) << c.why;
  }
}

TEST(NameLess, SortsTheNamesOfAFolderScan) {
  std::vector<std::wstring> names = {L"system.log",    L"System_b.log", L"System_\uE000.log",
                                     L"System_10.log", L"System_a.log", L"System_\U0001F600.log",
                                     L"System_1.log"};
  std::sort(names.begin(), names.end(), NameLess);
  EXPECT_EQ(names, (std::vector<std::wstring>{L"System_1.log", L"System_10.log", L"System_a.log",
                                              L"System_b.log", L"System_\U0001F600.log",
                                              L"System_\uE000.log", L"system.log"}));
}

}  // namespace
}  // namespace qve::platform
