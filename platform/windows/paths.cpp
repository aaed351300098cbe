#include "platform/paths.h"

#include <windows.h>

#include <algorithm>
#include <climits>

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
