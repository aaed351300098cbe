#include "verify/log_line.h"

namespace qve {

LogLine ClassifyLine(std::string_view line) {
  LogLine result;
  result.text = line.substr(0, line.find('\0'));
  const std::string_view text = result.text;
  result.isSignature =
      text.size() >= 2 && text.front() == kSignatureMarker && text.back() == kSignatureMarker;
  if (result.isSignature) result.payload = text.substr(1, text.size() - 2);
  return result;
}

}  // namespace qve
