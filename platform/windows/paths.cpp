// SPDX-License-Identifier: Apache-2.0
#include "platform/paths.h"

#include <algorithm>

#include "platform/utf8.h"

namespace qve::platform {

static_assert(sizeof(wchar_t) == 2, "the Windows platform layer expects UTF-16 wchar_t");

namespace {

// The length of the three bytes WTF-8 gives a lone surrogate, its value in
// `*c`; 0 when `bytes` do not start with them.
std::size_t SurrogateBytes(std::string_view bytes, char32_t* c) {
  const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(bytes[i]); };
  if (bytes.size() < 3 || byte(0) != 0xED || (byte(1) & 0xE0) != 0xA0 || (byte(2) & 0xC0) != 0x80)
    return 0;
  *c = 0xD000 | ((byte(1) & 0x3F) << 6) | (byte(2) & 0x3F);
  return 3;
}

void AppendUtf16(char32_t c, std::wstring& out) {
  if (c >= 0x10000) {
    out.push_back(static_cast<wchar_t>(0xD800 + ((c - 0x10000) >> 10)));
    out.push_back(static_cast<wchar_t>(0xDC00 + ((c - 0x10000) & 0x3FF)));
  } else {
    out.push_back(static_cast<wchar_t>(c));
  }
}

}  // namespace

std::optional<std::string> ToNarrow(std::wstring_view wide) {
  // WTF-8 whatever the code page: UTF-8, and an unpaired surrogate as the
  // three bytes it would have as a character, so that every name a host
  // can hold has a narrow form and comes back as it was.
  return ShownText(wide);
}

std::optional<std::wstring> ToWide(std::string_view narrow) {
  std::wstring out;
  out.reserve(narrow.size());
  while (!narrow.empty()) {
    char32_t c = 0;
    std::size_t length = DecodeUtf8(narrow, &c);
    if (length == 0) {
      length = SurrogateBytes(narrow, &c);
      // A pair written as two surrogates has a four-byte form, and only
      // that one comes back from ToNarrow.
      if (length == 0 ||
          ((c & 0xFC00) == 0xDC00 && !out.empty() && (out.back() & 0xFC00) == 0xD800))
        return std::nullopt;
    }
    AppendUtf16(c, out);
    narrow.remove_prefix(length);
  }
  return out;
}

std::wstring ArgumentPath(std::string_view argument) {
  std::wstring out;
  out.reserve(argument.size());
  while (!argument.empty()) {
    char32_t c = 0xFFFD;
    std::size_t length = DecodeUtf8(argument, &c);
    if (length == 0) length = SurrogateBytes(argument, &c);
    if (length == 0) {
      c = 0xFFFD;
      length = 1;
    }
    AppendUtf16(c, out);
    argument.remove_prefix(length);
  }
  return out;
}

std::string ShownText(std::wstring_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    char32_t c = text[i];
    if ((c & 0xFC00) == 0xD800 && i + 1 < text.size() && (text[i + 1] & 0xFC00) == 0xDC00)
      c = 0x10000 + ((c - 0xD800) << 10) + (text[++i] - 0xDC00);
    AppendUtf8(c, out);
  }
  return out;
}

std::wstring FileNameOf(std::wstring_view path) {
  const auto separator = path.find_last_of(L"\\/:");
  return std::wstring(separator == std::wstring_view::npos ? path : path.substr(separator + 1));
}

std::wstring ReportPath(std::wstring_view path) {
  std::wstring out(path);
  std::replace(out.begin(), out.end(), L'/', L'\\');
  return out;
}

std::optional<std::wstring> InterfacePath(std::wstring_view text) { return std::wstring(text); }

std::filesystem::path NativePath(std::wstring_view path) { return std::wstring(path); }

std::wstring FromNativePath(const std::filesystem::path& path) { return path.native(); }

}  // namespace qve::platform
