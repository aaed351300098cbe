#include "platform/paths.h"

#include "platform/utf8.h"

namespace qve::platform {

static_assert(sizeof(wchar_t) == 4, "the Linux platform layer expects UTF-32 wchar_t");

std::optional<std::string> ToNarrow(std::wstring_view wide) {
  std::string out;
  out.reserve(wide.size());
  for (const wchar_t wc : wide) {
    const auto c = static_cast<char32_t>(wc);
    if ((c >= 0xD800 && c <= 0xDFFF) || c > 0x10FFFF) return std::nullopt;
    if (c < 0x80) {
      out.push_back(static_cast<char>(c));
    } else if (c < 0x800) {
      out.push_back(static_cast<char>(0xC0 | (c >> 6)));
      out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else if (c < 0x10000) {
      out.push_back(static_cast<char>(0xE0 | (c >> 12)));
      out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else {
      out.push_back(static_cast<char>(0xF0 | (c >> 18)));
      out.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    }
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
    out.push_back(static_cast<wchar_t>(c));
    narrow.remove_prefix(length);
  }
  return out;
}

std::wstring FileNameOf(std::wstring_view path) {
  const auto slash = path.find_last_of(L'/');
  return std::wstring(slash == std::wstring_view::npos ? path : path.substr(slash + 1));
}

std::wstring ReportPath(std::wstring_view path) { return std::wstring(path); }

}  // namespace qve::platform
