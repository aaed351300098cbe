// SPDX-License-Identifier: Apache-2.0
// Path text as the host platform wants it; the rest of the code does not know
// which platform that is.
//   Linux: wchar_t holds UTF-32; file names are bytes, taken here as UTF-8,
//          where U+DC80..U+DCFF stand for the bytes 0x80..0xFF that are not
//          (as Python names such files); '/' is the only separator.
//   Windows: wchar_t holds UTF-16; narrow text is WTF-8 (UTF-8, with an
//          unpaired surrogate as the three bytes it would have as a
//          character) whatever the code page, and files are opened by their
//          wide names, so a host without a UTF-8 manifest reaches every name;
//          '\', '/' and the drive's ':' all end a path component.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace qve::platform {

// The narrow form of the text; nothing where a character has none (on Linux
// a surrogate code point that stands for no byte, a value above U+10FFFF, or
// bytes that stand for themselves but would spell a character together; on
// Windows every text has one).
std::optional<std::string> ToNarrow(std::wstring_view wide);

// The inverse of ToNarrow: nothing for bytes that are not valid narrow text.
std::optional<std::wstring> ToWide(std::string_view narrow);

// A path given as wide text across the extension interface; nothing where
// it names no file here (on Linux a character with no narrow form; on
// Windows files are opened by their wide names, so every text names one).
std::optional<std::wstring> InterfacePath(std::wstring_view text);

// The path a command-line argument names, whatever its bytes, so that every
// name the system holds can be given: on Linux bytes that are not UTF-8 stand
// for themselves (and ToNarrow gives them back); on Windows the argument is
// the UTF-8 that CommandArguments made of the UTF-16 one, and an unpaired
// surrogate comes back as it was.
std::wstring ArgumentPath(std::string_view argument);

// A path given as UTF-8 across the extension interface: on Linux a name's
// bytes, whatever they are (as ArgumentPath takes them), on Windows UTF-8
// and the three bytes WTF-8 gives an unpaired surrogate (as ShownText
// writes it). Nothing for bytes that name no path here.
std::optional<std::wstring> InterfacePath(std::string_view text);

// Text as the commands write it: UTF-8 whatever the code page. On Linux the
// bytes of a name that are not UTF-8 come back as they were, and on Windows
// an unpaired surrogate as the three bytes WTF-8 gives it, for the escaper
// to show.
std::string ShownText(std::wstring_view text);

// `path` where it has a narrow form; else the same text with '?' for each
// character that has none. The library's log reader refuses a path without a
// narrow form, and no Windows file name holds a '?', so the stand-in reads as
// a file that does not open. Every path the commands make on Linux has one.
std::wstring NarrowablePath(std::wstring_view path);

// A path as std::filesystem takes it, every name as the system holds it (on
// Linux its bytes, on Windows its UTF-16), so that no name fails to
// convert; and back.
std::filesystem::path NativePath(std::wstring_view path);
std::wstring FromNativePath(const std::filesystem::path& path);

// The last component of a path.
std::wstring FileNameOf(std::wstring_view path);

// A path as a report keeps it: on Windows every '/' becomes '\', on Linux the
// text stays as given ('/' is the only separator there).
std::wstring ReportPath(std::wstring_view path);

}  // namespace qve::platform
