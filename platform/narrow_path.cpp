// SPDX-License-Identifier: Apache-2.0
#include "platform/paths.h"

namespace qve::platform {

std::wstring NarrowablePath(std::wstring_view path) {
  if (ToNarrow(path)) return std::wstring(path);
  std::wstring out;
  for (std::size_t at = 0; at < path.size();) {
    // A UTF-16 surrogate pair is one character.
    const bool pair = sizeof(wchar_t) == 2 && at + 1 < path.size() &&
                      (path[at] & 0xFC00) == 0xD800 && (path[at + 1] & 0xFC00) == 0xDC00;
    const std::wstring_view character = path.substr(at, pair ? 2 : 1);
    out += ToNarrow(character) ? character : L"?";
    at += character.size();
  }
  return out;
}

std::optional<std::wstring> InterfacePath(std::string_view text) {
  // Where ArgumentPath stands a character in for bytes, the text does not
  // come back.
  std::wstring path = ArgumentPath(text);
  if (ShownText(path) != text) return std::nullopt;
  return path;
}

}  // namespace qve::platform
