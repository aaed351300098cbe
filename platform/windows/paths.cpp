// SPDX-License-Identifier: Apache-2.0
#include "platform/paths.h"

#include <windows.h>

#include <algorithm>
#include <climits>

#include "platform/utf8.h"

namespace qve::platform {

static_assert(sizeof(wchar_t) == 2, "the Windows platform layer expects UTF-16 wchar_t");

namespace {

// Where the ANSI code page is UTF-8 (a manifest or a system setting can make
// it so), best fit and the default-character report do not exist; invalid
// UTF-16 is refused there instead.
struct CodePage {
  UINT id;
  DWORD toNarrowFlags;
  bool reportsDefaultChar;
};

CodePage CurrentCodePage() {
  if (GetACP() == CP_UTF8) return {CP_UTF8, WC_ERR_INVALID_CHARS, false};
  return {CP_ACP, WC_NO_BEST_FIT_CHARS, true};
}

}  // namespace

std::optional<std::string> ToNarrow(std::wstring_view wide) {
  if (wide.empty()) return std::string();
  if (wide.size() > INT_MAX) return std::nullopt;
  const CodePage page = CurrentCodePage();
  const int length = static_cast<int>(wide.size());
  BOOL usedDefault = FALSE;
  BOOL* const usedDefaultOut = page.reportsDefaultChar ? &usedDefault : nullptr;
  const int size = WideCharToMultiByte(page.id, page.toNarrowFlags, wide.data(), length, nullptr, 0,
                                       nullptr, usedDefaultOut);
  if (size <= 0 || usedDefault) return std::nullopt;
  std::string out(static_cast<std::size_t>(size), '\0');
  if (WideCharToMultiByte(page.id, page.toNarrowFlags, wide.data(), length, out.data(), size,
                          nullptr, usedDefaultOut) != size ||
      usedDefault)
    return std::nullopt;
  return out;
}

std::optional<std::wstring> ToWide(std::string_view narrow) {
  if (narrow.empty()) return std::wstring();
  if (narrow.size() > INT_MAX) return std::nullopt;
  const UINT page = CurrentCodePage().id;
  const int length = static_cast<int>(narrow.size());
  const int size =
      MultiByteToWideChar(page, MB_ERR_INVALID_CHARS, narrow.data(), length, nullptr, 0);
  if (size <= 0) return std::nullopt;
  std::wstring out(static_cast<std::size_t>(size), L'\0');
  if (MultiByteToWideChar(page, MB_ERR_INVALID_CHARS, narrow.data(), length, out.data(), size) !=
      size)
    return std::nullopt;
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

}  // namespace qve::platform
