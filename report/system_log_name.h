// SPDX-License-Identifier: Apache-2.0
// The names a folder scan picks: "system.log" and "System_<something>.log".
#pragma once

#include <string_view>

namespace qve {

// Exact and case-sensitive; at least one character stands between "System_"
// and ".log".
bool IsSystemLogName(std::wstring_view name);

// For a name that the rule takes only when case is ignored, the form it
// misses ("system.log" or "System_*.log"); nothing for any other name. The
// scan never uses it: it is for saying what the exact rule passed over.
const char* SystemLogNameButForCase(std::wstring_view name);

}  // namespace qve
