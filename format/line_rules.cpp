// SPDX-License-Identifier: Apache-2.0
#include "format/line_rules.h"

namespace qve {

std::string_view LineText::Counted(std::string_view piece, bool mayHoldNul) {
  raw_ += piece.size();
  if (cut_) return {};
  if (const std::size_t nul = mayHoldNul ? piece.find(kNul) : std::string_view::npos;
      nul != std::string_view::npos) {
    piece = piece.substr(0, nul);
    cut_ = true;
  }
  if (piece.empty()) return piece;
  if (length_ == 0) first_ = piece.front();
  last_ = piece.back();
  length_ += piece.size();
  return piece;
}

LogLine ClassifyLine(std::string_view line) {
  LineText rules;
  LogLine result;
  result.text = rules.Counted(line);
  result.isSignature = rules.isSignature();
  if (result.isSignature) result.payload = result.text.substr(1, result.text.size() - 2);
  return result;
}

}  // namespace qve
