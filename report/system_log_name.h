// The names a folder scan picks: "system.log" and "System_<something>.log".
#pragma once

#include <string_view>

namespace qve {

// Exact and case-sensitive; at least one character stands between "System_"
// and ".log".
bool IsSystemLogName(std::wstring_view name);

}  // namespace qve
