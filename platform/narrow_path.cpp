#include "platform/paths.h"

#include <stdexcept>

namespace qve::platform {

std::string NarrowPath(std::wstring_view wide) {
  auto narrow = ToNarrow(wide);
  if (!narrow) throw std::invalid_argument("invalid wchar_t filename argument");
  return std::move(*narrow);
}

}  // namespace qve::platform
