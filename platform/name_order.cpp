// SPDX-License-Identifier: Apache-2.0
#include "platform/name_order.h"

#include <cstdint>

namespace qve::platform {

namespace {

// Walks a UTF-32 text as the UTF-16 code units it would be stored as. A value
// that is no Unicode scalar has no UTF-16 form; it stands for itself, above
// every code unit.
class Utf16Units {
 public:
  explicit Utf16Units(std::wstring_view text) : text_(text) {}

  bool done() const { return pos_ == text_.size(); }

  std::uint32_t Next() {
    const auto c = static_cast<std::uint32_t>(text_[pos_]);
    if (c < 0x10000 || c > 0x10FFFF) {
      ++pos_;
      return c;
    }
    if (!lowPending_) {
      lowPending_ = true;
      return 0xD800 + ((c - 0x10000) >> 10);
    }
    lowPending_ = false;
    ++pos_;
    return 0xDC00 + ((c - 0x10000) & 0x3FF);
  }

 private:
  std::wstring_view text_;
  std::size_t pos_ = 0;
  bool lowPending_ = false;
};

}  // namespace

bool NameLess(std::wstring_view a, std::wstring_view b) {
  Utf16Units left(a), right(b);
  while (!left.done() && !right.done()) {
    const std::uint32_t l = left.Next(), r = right.Next();
    if (l != r) return l < r;
  }
  return left.done() && !right.done();
}

}  // namespace qve::platform
