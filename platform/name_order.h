// SPDX-License-Identifier: Apache-2.0
// File names compare as the log writer's platform stores them: UTF-16 code
// units, unsigned, no case folding. wchar_t holds UTF-32 here, so a character
// above U+FFFF compares as its surrogate pair (below U+E000..U+FFFF).
#pragma once

#include <string_view>

namespace qve::platform {

// True when `a` sorts before `b`; a name that is a prefix of another comes first.
bool NameLess(std::wstring_view a, std::wstring_view b);

// Whether the file system takes the two names for one: on Windows ignoring
// case as the system folds it, on Linux only when they are equal.
bool SameName(std::wstring_view a, std::wstring_view b);

// Whether a file name can hold a backslash (Linux), which shown text then
// escapes.
bool NamesHoldBackslash();

}  // namespace qve::platform
