// The name of this machine, for reports that say where they were made.
#pragma once

#include <string>

namespace qve::platform {

// Narrow text as the platform gives it; empty when it gives none.
std::string HostName();

}  // namespace qve::platform
