// SPDX-License-Identifier: Apache-2.0
#include "platform/paths.h"

#include <algorithm>

#include "platform/utf8.h"

namespace qve::platform {

static_assert(sizeof(wchar_t) == 2, "the Windows platform layer expects UTF-16 wchar_t");

std::optional<std::string> ToNarrow(std::wstring_view wide) {
  // UTF-8 whatever the code page, so that every name a host can give has a
  // narrow form; only an unpaired surrogate has none.
  std::string out;
  out.reserve(wide.size());
  for (std::size_t i = 0; i < wide.size(); ++i) {
    char32_t c = wide[i];
    if ((c & 0xF800) == 0xD800) {
      if ((c & 0xFC00) != 0xD800 || i + 1 == wide.size() || (wide[i + 1] & 0xFC00) != 0xDC00)
        return std::nullopt;
      c = 0x10000 + ((c - 0xD800) << 10) + (wide[++i] - 0xDC00);
    }
    AppendUtf8(c, out);
  }
  return out;
}

std::optional<std::wstring> ToWide(std::string_view narrow) {
  std::wstring out;
  out.reserve(narrow.size());
  while (!narrow.empty()) {
    char32_t c = 0;
    const std::size_t length = DecodeUtf8(narrow, &c);
    if (length == 0) return std::nullopt;
    if (c >= 0x10000) {
      out.push_back(static_cast<wchar_t>(0xD800 + ((c - 0x10000) >> 10)));
      out.push_back(static_cast<wchar_t>(0xDC00 + ((c - 0x10000) & 0x3FF)));
    } else {
      out.push_back(static_cast<wchar_t>(c));
    }
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
    // The three bytes of an unpaired surrogate, as ShownText writes it.
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(argument[i]); };
    if (length == 0 && argument.size() >= 3 && byte(0) == 0xED && (byte(1) & 0xE0) == 0xA0 &&
        (byte(2) & 0xC0) == 0x80) {
      c = 0xD000 | ((byte(1) & 0x3F) << 6) | (byte(2) & 0x3F);
      length = 3;
    }
    if (length == 0) {
      c = 0xFFFD;
      length = 1;
    }
    if (c >= 0x10000) {
      out.push_back(static_cast<wchar_t>(0xD800 + ((c - 0x10000) >> 10)));
      out.push_back(static_cast<wchar_t>(0xDC00 + ((c - 0x10000) & 0x3FF)));
    } else {
      out.push_back(static_cast<wchar_t>(c));
    }
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
