// SPDX-License-Identifier: Apache-2.0
#include "platform/host_name.h"

#include <windows.h>

#include "platform/paths.h"

namespace qve::platform {

std::string HostName() {
  wchar_t name[MAX_COMPUTERNAME_LENGTH + 1] = {};
  DWORD size = MAX_COMPUTERNAME_LENGTH + 1;
  if (!::GetComputerNameW(name, &size)) return {};
  return ShownText(std::wstring_view(name, size));
}

}  // namespace qve::platform
