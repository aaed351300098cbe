// The line rules of a signed log: which line is a signature line and which
// bytes of a line count.
#pragma once

#include <string_view>

namespace qve {

inline constexpr char kSignatureMarker = 0x1F;

struct LogLine {
  bool isSignature = false;
  std::string_view text;     // the line up to its first NUL
  std::string_view payload;  // between the markers of a signature line
};

// `line` comes without its line end. A signature line is at least two bytes,
// the first and the last 0x1F; nothing is trimmed around the markers.
LogLine ClassifyLine(std::string_view line);

}  // namespace qve
