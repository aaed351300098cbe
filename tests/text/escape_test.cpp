// SPDX-License-Identifier: Apache-2.0
// The one escaper of every command's output: text from a file as it shows.
#include "text/escape.h"

#include <gtest/gtest.h>

#include <string>
#include <string_view>

#include "tests/support/command_rows.h"

namespace qve {
namespace {

struct Row {
  const char* name;
  std::string bytes, text, html = {};     // html: only where given
  std::size_t given = std::string::npos;  // bytes given; the rest lie in memory right after them
};

class Escape : public ::testing::TestWithParam<Row> {};

TEST_P(Escape, TextAndHtml) {
  const Row& row = GetParam();
  const std::string_view bytes = std::string_view(row.bytes).substr(0, row.given);
  EXPECT_EQ(text::Escaped(bytes), row.text);
  if (!row.html.empty()) {
    EXPECT_EQ(text::EscapedHtml(bytes, "[", "]"), row.html);
  }
}

// clang-format off
const Row kRows[] = {
    {.name = "Backslash", .bytes = "a\\xe9 path", .text = "a\\\\xe9 path", .html = "a[\\\\]xe9 path"},
    {.name = "Controls", .bytes = "a\nb\tc\rd", .text = "a\\nb\\tc\\rd", .html = "a[\\n]b[\\t]c[\\r]d"},
    {.name = "NulAndDel", .bytes = std::string("nul\0 del\x7f", 9), .text = "nul\\x00 del\\x7f"},
    {.name = "Escape", .bytes = "\x1b[31m", .text = "\\x1b[31m", .html = "[\\x1b][31m"},
    {.name = "C1", .bytes = "c1 \xc2\x85 nel", .text = "c1 \\x85 nel"},
    {.name = "Invalid", .bytes = "bad \xff\xfe bytes", .text = "bad \\xff\\xfe bytes", .html = "bad [\\xff\\xfe] bytes"},
    {.name = "Cut", .bytes = "cut \xe2\x80", .text = "cut \\xe2\\x80"},
    {.name = "CutWhereTheViewEnds", .bytes = "cut \xe2\x80\xa6 where the view ends", .text = "cut \\xe2\\x80",
        .html = "cut [\\xe2\\x80]", .given = 6},
    {.name = "Overlong", .bytes = "overlong \xc0\xaf", .text = "overlong \\xc0\\xaf"},
    {.name = "Surrogate", .bytes = "surrogate \xed\xa0\x80", .text = "surrogate \\xed\\xa0\\x80"},
    {.name = "RightToLeft", .bytes = "rtl \xe2\x80\xae x", .text = "rtl \\u{202e} x", .html = "rtl [\\u{202e}] x"},
    {.name = "Invisible", .bytes = "alm \xd8\x9c zwsp \xe2\x80\x8b bom \xef\xbb\xbf",
        .text = "alm \\u{061c} zwsp \\u{200b} bom \\u{feff}"},
    {.name = "Tag", .bytes = "tag \xf3\xa0\x80\x81", .text = "tag \\u{e0001}"},
    {.name = "Printable", .bytes = "caf\xc3\xa9 \xf0\x9f\x98\x80 \xe4\xb8\xad",
        .text = "caf\xc3\xa9 \xf0\x9f\x98\x80 \xe4\xb8\xad"},
    {.name = "Markup", .bytes = "<b title=\"x\">&'", .text = "<b title=\"x\">&'",
        .html = "&lt;b title=&quot;x&quot;&gt;&amp;&#39;"}};
// clang-format on

QVE_ROWS(Escape, kRows);

}  // namespace
}  // namespace qve
