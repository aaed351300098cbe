// SPDX-License-Identifier: Apache-2.0
// The time now, as records and pages write it.
#pragma once

#include <string>

namespace qve::platform {

// Now, in UTC, as `format` for strftime.
std::string UtcNow(const char* format);

}  // namespace qve::platform
