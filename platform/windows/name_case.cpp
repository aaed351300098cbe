// SPDX-License-Identifier: Apache-2.0
#include <windows.h>

#include <climits>

#include "platform/name_order.h"

namespace qve::platform {

// The system's own case folding, as its file systems compare names.
bool SameName(std::wstring_view a, std::wstring_view b) {
  if (a.size() != b.size()) return false;
  if (a.empty()) return true;
  if (a.size() > INT_MAX) return a == b;
  return CompareStringOrdinal(a.data(), static_cast<int>(a.size()), b.data(),
                              static_cast<int>(b.size()), TRUE) == CSTR_EQUAL;
}

// It separates the parts of a path, and no name holds one.
bool NamesHoldBackslash() { return false; }

}  // namespace qve::platform
