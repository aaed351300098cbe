#include "verify/log_line.h"

#include <gtest/gtest.h>

#include <string>

namespace qve {
namespace {

TEST(ClassifyLine, TellsSignatureLinesFromDataLines) {
  using std::string_literals::operator""s;
  const struct {
    const char* name;
    std::string line;
    bool isSignature;
    std::string text;
    std::string payload;
  } cases[] = {
      {"empty line", "", false, "", ""},
      {"plain text", "hello", false, "hello", ""},
      {"lone 0x1F", "\x1F", false, "\x1F", ""},
      {"two markers, empty payload", "\x1F\x1F", true, "\x1F\x1F", ""},
      {"payload between markers",
       "\x1F"
       "QVYC\x1F",
       true,
       "\x1F"
       "QVYC\x1F",
       "QVYC"},
      {"three markers", "\x1F\x1F\x1F", true, "\x1F\x1F\x1F", "\x1F"},
      {"marker only at the start",
       "\x1F"
       "abc",
       false,
       "\x1F"
       "abc",
       ""},
      {"marker only at the end", "abc\x1F", false, "abc\x1F", ""},
      {"space before the first marker",
       " \x1F"
       "abc\x1F",
       false,
       " \x1F"
       "abc\x1F",
       ""},
      {"space after the last marker",
       "\x1F"
       "abc\x1F ",
       false,
       "\x1F"
       "abc\x1F ",
       ""},
      {"CR after the last marker",
       "\x1F"
       "abc\x1F\r",
       false,
       "\x1F"
       "abc\x1F\r",
       ""},
      {"CR inside the payload",
       "\x1F"
       "a\rb\x1F",
       true,
       "\x1F"
       "a\rb\x1F",
       "a\rb"},
      {"text stops at NUL", "ab\0cd"s, false, "ab", ""},
      {"NUL as third byte", "ab\0"s, false, "ab", ""},
      {"NUL first", "\0\x1F\x1F"s, false, "", ""},
      {"NUL hides the closing marker",
       "\x1F"
       "ab\0\x1F"s,
       false,
       "\x1F"
       "ab",
       ""},
      {"NUL after the closing marker",
       "\x1F"
       "ab\x1F\0junk"s,
       true,
       "\x1F"
       "ab\x1F",
       "ab"},
      {"NUL leaves a lone marker", "\x1F\0\x1F"s, false, "\x1F", ""},
  };
  for (const auto& c : cases) {
    const LogLine line = ClassifyLine(c.line);
    EXPECT_EQ(line.isSignature, c.isSignature) << c.name;
    EXPECT_EQ(line.text, c.text) << c.name;
    EXPECT_EQ(line.payload, c.payload) << c.name;
  }
}

}  // namespace
}  // namespace qve
