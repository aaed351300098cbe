// SPDX-License-Identifier: Apache-2.0
#include "platform/name_order.h"

namespace qve::platform {

bool SameName(std::wstring_view a, std::wstring_view b) { return a == b; }

bool NamesHoldBackslash() { return true; }

}  // namespace qve::platform
