// SPDX-License-Identifier: Apache-2.0
#include "platform/paths.h"

#include "platform/utf8.h"

namespace qve::platform {

static_assert(sizeof(wchar_t) == 4, "the Linux platform layer expects UTF-32 wchar_t");

namespace {

// U+DC80..U+DCFF: a byte that is not UTF-8, standing for itself.
constexpr char32_t kByteEscape = 0xDC00;

bool IsByteEscape(char32_t c) { return c >= kByteEscape + 0x80 && c <= kByteEscape + 0xFF; }

// UTF-8 to UTF-32; with `escapeBytes` a byte that starts no character stands
// for itself, else it gives nothing.
std::optional<std::wstring> Decode(std::string_view narrow, bool escapeBytes) {
  std::wstring out;
  out.reserve(narrow.size());
  while (!narrow.empty()) {
    char32_t c = 0;
    std::size_t length = DecodeUtf8(narrow, &c);
    if (length == 0) {
      if (!escapeBytes) return std::nullopt;
      c = kByteEscape + static_cast<unsigned char>(narrow[0]);
      length = 1;
    }
    out.push_back(static_cast<wchar_t>(c));
    narrow.remove_prefix(length);
  }
  return out;
}

}  // namespace

std::optional<std::string> ToNarrow(std::wstring_view wide) {
  std::string out;
  out.reserve(wide.size());
  bool escaped = false;
  for (const wchar_t wc : wide) {
    const auto c = static_cast<char32_t>(wc);
    if (IsByteEscape(c)) {
      out.push_back(static_cast<char>(c - kByteEscape));
      escaped = true;
    } else if ((c >= 0xD800 && c <= 0xDFFF) || c > 0x10FFFF) {
      return std::nullopt;
    } else {
      AppendUtf8(c, out);
    }
  }
  // Bytes that spelt a character would name the file of another text.
  if (escaped && Decode(out, true) != wide) return std::nullopt;
  return out;
}

std::optional<std::wstring> ToWide(std::string_view narrow) { return Decode(narrow, false); }

std::wstring ArgumentPath(std::string_view argument) { return *Decode(argument, true); }

std::string ShownText(std::wstring_view text) {
  std::string out;
  out.reserve(text.size());
  for (const wchar_t wc : text) {
    const auto c = static_cast<char32_t>(wc);
    if (IsByteEscape(c)) {
      out.push_back(static_cast<char>(c - kByteEscape));
    } else {
      AppendUtf8(c > 0x10FFFF ? 0xFFFD : c, out);
    }
  }
  return out;
}

std::wstring FileNameOf(std::wstring_view path) {
  const auto slash = path.find_last_of(L'/');
  return std::wstring(slash == std::wstring_view::npos ? path : path.substr(slash + 1));
}

std::wstring ReportPath(std::wstring_view path) { return std::wstring(path); }

std::filesystem::path NativePath(std::wstring_view path) { return ShownText(path); }

std::wstring FromNativePath(const std::filesystem::path& path) {
  return ArgumentPath(path.native());
}

std::optional<std::wstring> InterfacePath(std::wstring_view text) {
  if (!ToNarrow(text)) return std::nullopt;
  return std::wstring(text);
}

}  // namespace qve::platform
