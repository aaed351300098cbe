// SPDX-License-Identifier: Apache-2.0
// The decoder stops at the first byte it does not decode, whatever the text:
// what it yields never outgrows the text, and appending to the text never
// changes the bytes already decoded.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "format/base64.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  const qve::Bytes all = qve::DecodeBase64(text);
  if (all.size() > (size + 3) / 4 * 3) std::abort();
  const qve::Bytes half = qve::DecodeBase64(text.substr(0, size / 2));
  if (half.size() > all.size() || !std::equal(half.begin(), half.end(), all.begin())) std::abort();
  return 0;
}
