// SPDX-License-Identifier: Apache-2.0
// The name of this machine, for reports that say where they were made.
#pragma once

#include <string>

namespace qve::platform {

// UTF-8; empty when the platform gives none.
std::string HostName();

}  // namespace qve::platform
