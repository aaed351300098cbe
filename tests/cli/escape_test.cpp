// SPDX-License-Identifier: Apache-2.0
// The one escaper of every command's output: each row is text from a file
// and how it shows, as text and as HTML.
#include <gtest/gtest.h>

#include <string>
#include <string_view>

#include "text/escape.h"

namespace qve {
namespace {

TEST(Escape, TextAndHtml) {
  const struct {
    std::string bytes, text, html;
    // Only so many bytes are given; the rest lie in memory right after them.
    std::size_t given = std::string::npos;
  } rows[] = {
      {"a\\xe9 path", "a\\\\xe9 path", "a[\\\\]xe9 path"},
      {"a\nb\tc\rd", "a\\nb\\tc\\rd", "a[\\n]b[\\t]c[\\r]d"},
      {std::string("nul\0 del\x7f", 9), "nul\\x00 del\\x7f", ""},
      {"\x1b[31m", "\\x1b[31m", "[\\x1b][31m"},
      {"c1 \xc2\x85 nel", "c1 \\x85 nel", ""},
      {"bad \xff\xfe bytes", "bad \\xff\\xfe bytes", "bad [\\xff\\xfe] bytes"},
      {"cut \xe2\x80", "cut \\xe2\\x80", ""},
      {"cut \xe2\x80\xa6 where the view ends", "cut \\xe2\\x80", "cut [\\xe2\\x80]", 6},
      {"overlong \xc0\xaf", "overlong \\xc0\\xaf", ""},
      {"surrogate \xed\xa0\x80", "surrogate \\xed\\xa0\\x80", ""},
      {"rtl \xe2\x80\xae x", "rtl \\u{202e} x", "rtl [\\u{202e}] x"},
      {"alm \xd8\x9c zwsp \xe2\x80\x8b bom \xef\xbb\xbf",
       "alm \\u{061c} zwsp \\u{200b} bom \\u{feff}", ""},
      {"tag \xf3\xa0\x80\x81", "tag \\u{e0001}", ""},
      {"caf\xc3\xa9 \xf0\x9f\x98\x80 \xe4\xb8\xad", "caf\xc3\xa9 \xf0\x9f\x98\x80 \xe4\xb8\xad",
       ""},
      {"<b title=\"x\">&'", "<b title=\"x\">&'", "&lt;b title=&quot;x&quot;&gt;&amp;&#39;"},
  };
  for (const auto& row : rows) {
    const std::string_view bytes = std::string_view(row.bytes).substr(0, row.given);
    EXPECT_EQ(text::Escaped(bytes), row.text) << row.text;
    if (row.html.empty()) continue;
    EXPECT_EQ(text::EscapedHtml(bytes, "[", "]"), row.html) << row.text;
  }
}

}  // namespace
}  // namespace qve
