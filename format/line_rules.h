// SPDX-License-Identifier: Apache-2.0
// The line rules of a signed log: which line is a signature line and which
// bytes of a line count. Lines may come in pieces; the rules then hold for the
// whole line.
#pragma once

#include <cstdint>
#include <string_view>

#include "format/signed_log_format.h"

namespace qve {

// One line's rules, fed the line piece by piece.
class LineText {
 public:
  // The bytes of the next piece that count: none from the line's first NUL on.
  // A piece known to hold no NUL (`mayHoldNul` false) is not searched.
  std::string_view Counted(std::string_view piece, bool mayHoldNul = true);
  // A signature line is at least two bytes, the first and the last 0x1F;
  // nothing is trimmed around the markers. Final once the last piece is in.
  bool isSignature() const {
    return length_ >= 2 && first_ == kSignatureMarker && last_ == kSignatureMarker;
  }
  bool startsWithMarker() const { return length_ > 0 && first_ == kSignatureMarker; }
  std::uint64_t length() const { return length_; }
  // Whether a piece of the line with any byte in it came before.
  bool begun() const { return raw_ > 0; }
  // Whether a NUL ends the counted bytes, and how many bytes follow it,
  // which no signature covers.
  bool cut() const { return cut_; }
  std::uint64_t bytesAfterNul() const { return cut_ ? raw_ - length_ - 1 : 0; }

 private:
  std::uint64_t raw_ = 0;
  std::uint64_t length_ = 0;
  char first_ = 0;
  char last_ = 0;
  bool cut_ = false;
};

struct LogLine {
  bool isSignature = false;
  std::string_view text;     // the line up to its first NUL
  std::string_view payload;  // between the markers of a signature line
};

// `line` comes whole, without its line end.
LogLine ClassifyLine(std::string_view line);

}  // namespace qve
