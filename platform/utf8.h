// SPDX-License-Identifier: Apache-2.0
// UTF-8 decoding, one character at a time: how file names are taken on Linux
// and how the commands tell text they may show from bytes they must not.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace qve::platform {

// The length in bytes of the character `bytes` start with, its code point in
// `*c`; 0 when they start with no valid UTF-8 character (an overlong form, a
// surrogate, a value past U+10FFFF, a cut sequence) or are empty.
std::size_t DecodeUtf8(std::string_view bytes, char32_t* c);

// Appends the UTF-8 form of `c`. A surrogate code point gets the three bytes
// it would have if it were a character (as WTF-8 writes an unpaired one),
// which no UTF-8 decoder takes: shown through the escaper, they stay visible.
void AppendUtf8(char32_t c, std::string& out);

// Where to cut `bytes` to keep at most `limit` of them without cutting a
// character in two: `limit` itself, or up to three bytes before it when a
// continuation byte stands there. `bytes` may hold only the first limit + 1.
std::size_t CutBefore(std::string_view bytes, std::size_t limit);

}  // namespace qve::platform
