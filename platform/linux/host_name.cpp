// SPDX-License-Identifier: Apache-2.0
#include "platform/host_name.h"

#include <unistd.h>

namespace qve::platform {

std::string HostName() {
  char name[256] = {};
  if (::gethostname(name, sizeof name - 1) != 0) return {};
  return name;
}

}  // namespace qve::platform
