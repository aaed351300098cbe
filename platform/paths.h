// Path text as the host platform wants it; the rest of the code does not know
// which platform that is.
//   Linux: wchar_t holds UTF-32; file names are bytes, taken here as UTF-8;
//          '/' is the only separator.
//   Windows: wchar_t holds UTF-16; narrow text is in the current code page;
//          '\', '/' and the drive's ':' all end a path component.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace qve::platform {

// The narrow form of the text; nothing where a character has none (on Linux a
// surrogate code point or a value above U+10FFFF, on Windows anything the
// code page cannot represent exactly).
std::optional<std::string> ToNarrow(std::wstring_view wide);

// As ToNarrow, but throws std::invalid_argument("invalid wchar_t filename
// argument") where the text cannot be converted.
std::string NarrowPath(std::wstring_view wide);

// The inverse of ToNarrow: nothing for bytes that are not valid narrow text.
std::optional<std::wstring> ToWide(std::string_view narrow);

// The last component of a path.
std::wstring FileNameOf(std::wstring_view path);

// A path as a report keeps it: on Windows every '/' becomes '\', on Linux the
// text stays as given ('/' is the only separator there).
std::wstring ReportPath(std::wstring_view path);

}  // namespace qve::platform
