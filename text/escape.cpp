// SPDX-License-Identifier: Apache-2.0
#include "text/escape.h"

#include <algorithm>
#include <cstring>
#include <iterator>

#include "platform/name_order.h"
#include "platform/utf8.h"

namespace qve::text {

namespace {

constexpr char kHex[] = "0123456789abcdef";

// What HTML could read as markup, and what stands for each.
constexpr std::string_view kMarkup = "&<>\"'";
constexpr std::string_view kEntities[] = {"&amp;", "&lt;", "&gt;", "&quot;", "&#39;"};

struct Range {
  char32_t first, last;
};

// Characters that show nothing, or reorder what is around them.
constexpr Range kInvisible[] = {
    {0x00AD, 0x00AD},    // soft hyphen
    {0x034F, 0x034F},    // combining grapheme joiner
    {0x061C, 0x061C},    // Arabic letter mark
    {0x115F, 0x1160},    // Hangul fillers
    {0x17B4, 0x17B5},    // Khmer inherent vowels
    {0x180B, 0x180F},    // Mongolian selectors and vowel separator
    {0x200B, 0x200F},    // zero-width space and joiners, left-to-right and right-to-left marks
    {0x2028, 0x202E},    // line and paragraph separators, embeddings and overrides
    {0x2060, 0x206F},    // word joiner, invisible operators, isolates
    {0x3164, 0x3164},    // Hangul filler
    {0xFEFF, 0xFEFF},    // zero-width no-break space
    {0xFFA0, 0xFFA0},    // halfwidth Hangul filler
    {0xFFF0, 0xFFFB},    // interlinear annotation
    {0x1BCA0, 0x1BCA3},  // shorthand format controls
    {0x1D173, 0x1D17A},  // musical format controls
    {0xE0000, 0xE007F},  // tags, which can spell text no one sees
};

std::string Byte(unsigned value) { return {'\\', 'x', kHex[value >> 4], kHex[value & 15]}; }

// What `c` shows as; empty when it shows as it is.
std::string CodeOf(char32_t c) {
  if (c == '\n') return "\\n";
  if (c == '\t') return "\\t";
  if (c == '\r') return "\\r";
  if (c == '\\' && platform::NamesHoldBackslash()) return "\\\\";
  if (c < 0x20 || (c >= 0x7F && c <= 0x9F)) return Byte(static_cast<unsigned>(c));
  const bool invisible = std::any_of(std::begin(kInvisible), std::end(kInvisible),
                                     [c](const Range& r) { return c >= r.first && c <= r.last; });
  if (!invisible) return {};
  std::string digits;
  for (char32_t rest = c; rest != 0 || digits.size() < 4; rest >>= 4)
    digits.insert(0, 1, kHex[rest & 15]);
  return "\\u{" + digits + "}";
}

// Calls `plain` with each run that shows as it is and `code` with each code.
template <typename Plain, typename Code>
void Split(std::string_view bytes, Plain&& plain, Code&& code) {
  std::size_t run = 0;  // where the current plain run starts
  for (std::size_t i = 0; i < bytes.size();) {
    char32_t c = 0;
    const std::size_t length = platform::DecodeUtf8(bytes.substr(i), &c);
    const std::string shown = length == 0 ? Byte(static_cast<unsigned char>(bytes[i])) : CodeOf(c);
    const std::size_t next = i + std::max<std::size_t>(length, 1);
    if (!shown.empty()) {
      if (run < i) plain(bytes.substr(run, i - run));
      code(shown);
      run = next;
    }
    i = next;
  }
  if (run < bytes.size()) plain(bytes.substr(run));
}

}  // namespace

std::string Escaped(std::string_view bytes) {
  std::string out;
  out.reserve(bytes.size());
  Split(
      bytes, [&](std::string_view plain) { out.append(plain); },
      [&](const std::string& code) { out += code; });
  return out;
}

std::string EscapedHtml(std::string_view bytes, std::string_view open, std::string_view close) {
  std::string out;
  out.reserve(bytes.size());
  bool inCode = false;
  Split(
      bytes,
      [&](std::string_view plain) {
        if (inCode) out.append(close);
        inCode = false;
        for (const char c : plain) {
          const std::size_t markup = kMarkup.find(c);
          out += markup == std::string_view::npos ? std::string_view(&c, 1) : kEntities[markup];
        }
      },
      [&](const std::string& code) {
        if (!inCode) out.append(open);
        inCode = true;
        out += code;
      });
  if (inCode) out.append(close);
  return out;
}

std::string EscapedText(std::string_view bytes) {
  std::string out;
  while (!bytes.empty()) {
    char32_t c = 0;
    const std::size_t length = platform::DecodeUtf8(bytes, &c);
    if (length != 0 && c >= 0x20 && (c < 0x7F || c > 0x9F)) {
      out.append(bytes.substr(0, length));
      bytes.remove_prefix(length);
      continue;
    }
    const unsigned value = length == 0 ? static_cast<unsigned char>(bytes[0]) : unsigned(c);
    if (value == '\n') {
      out += "\\n";
    } else if (value == '\t') {
      out += "\\t";
    } else if (value == '\r') {
      out += "\\r";
    } else {
      out += Byte(value);
    }
    bytes.remove_prefix(std::max<std::size_t>(length, 1));
  }
  return out;
}

std::string Counted(std::uint64_t count, const std::string& one, const std::string& many) {
  return std::to_string(count) + " " + (count == 1 ? one : many.empty() ? one + "s" : many);
}

std::string RangeText(std::uint32_t first, std::uint32_t last, std::string_view dash) {
  if (first >= last) return std::to_string(last);
  return std::to_string(first) + std::string(dash) + std::to_string(last);
}

std::string LinesText(std::uint32_t first, std::uint32_t last, std::string_view dash) {
  return (first >= last ? "line " : "lines ") + RangeText(first, last, dash);
}

std::string Hex(std::span<const std::uint8_t> bytes) {
  std::string out;
  for (const std::uint8_t byte : bytes) out += {kHex[byte >> 4], kHex[byte & 15]};
  return out;
}

std::optional<std::vector<std::uint8_t>> FromHex(std::string_view digits) {
  if (digits.size() % 2 != 0) return std::nullopt;
  const auto value = [](char digit) {
    if (digit >= '0' && digit <= '9') return digit - '0';
    if (digit >= 'a' && digit <= 'f') return digit - 'a' + 10;
    if (digit >= 'A' && digit <= 'F') return digit - 'A' + 10;
    return -1;
  };
  std::vector<std::uint8_t> bytes;
  for (std::size_t at = 0; at < digits.size(); at += 2) {
    const int high = value(digits[at]), low = value(digits[at + 1]);
    if (high < 0 || low < 0) return std::nullopt;
    bytes.push_back(std::uint8_t(high << 4 | low));
  }
  return bytes;
}

}  // namespace qve::text
