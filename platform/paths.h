// Path text as the host platform wants it. On Linux wchar_t holds UTF-32 and
// file names are bytes, taken here as UTF-8; '/' is the only separator.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace qve::platform {

// UTF-8 for valid Unicode text; nothing for a surrogate code point or a value
// above U+10FFFF.
std::optional<std::string> ToNarrow(std::wstring_view wide);

// As ToNarrow, but throws std::invalid_argument("invalid wchar_t filename
// argument") where the text cannot be converted.
std::string NarrowPath(std::wstring_view wide);

// The inverse of ToNarrow: nothing for bytes that are not valid UTF-8.
std::optional<std::wstring> ToWide(std::string_view narrow);

// The last component of a path.
std::wstring FileNameOf(std::wstring_view path);

}  // namespace qve::platform
