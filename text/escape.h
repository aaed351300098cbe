// SPDX-License-Identifier: Apache-2.0
// The words of messages, shared by the library and the commands, and how
// text from files and file names is shown in them: as it
// is, but for what could pass for something else. One list of such
// characters serves every output, so the text, inspect and the page agree.
//   \n \t \r   a line feed, tab or carriage return
//   \xhh       a byte that is not UTF-8, or a C0 or C1 control (DEL too)
//   \u{hhhh}   an invisible or bidirectional formatting character
//   \\         a backslash, where a name can hold one (Linux): else a name
//              "a\xe9" would show as the name of byte E9 does. On Windows
//              it separates the parts of a path, and stays.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace qve::text {

// The text form.
std::string Escaped(std::string_view bytes);

// The HTML form: markup characters become entities and every run of codes
// stands between `open` and `close`, the markup that shows a code.
std::string EscapedHtml(std::string_view bytes, std::string_view open, std::string_view close);

// Text as the library's messages show it, always UTF-8: a byte that is not
// UTF-8 and a control character as \xhh (\n, \t and \r by name), the rest
// as it is.
std::string EscapedText(std::string_view bytes);

// Words for counts and line ranges, the same in every output: "1 block",
// "2 blocks" (`many` is `one` with an s unless given); "5" or "5-6"; "line
// 5" or "lines 5-6" (the page's dash is an en dash).
std::string Counted(std::uint64_t count, const std::string& one, const std::string& many = "");
std::string RangeText(std::uint32_t first, std::uint32_t last, std::string_view dash = "-");
std::string LinesText(std::uint32_t first, std::uint32_t last, std::string_view dash = "-");

// Bytes as lower-case hex digits, two a byte.
std::string Hex(std::span<const std::uint8_t> bytes);

// The bytes of hex digits of either case, two a byte; nothing for any other
// text.
std::optional<std::vector<std::uint8_t>> FromHex(std::string_view digits);

}  // namespace qve::text
