// SPDX-License-Identifier: Apache-2.0
// The names a folder scan picks: "system.log" and "System_<something>.log".
#pragma once

#include <string>
#include <string_view>

namespace qve {

// Compared as the file system compares names: exact and case-sensitive on
// Linux; on Windows, where the file system ignores case, ignoring it
// (SYSTEM.LOG is system.log there). At least one character stands between
// "System_" and ".log".
bool IsSystemLogName(std::wstring_view name);

// The name as the rule spells it, for ordering: on Windows "SYSTEM.LOG" is
// "system.log" and "SYSTEM_2.LOG" "System_2.log", what stands between the
// prefix and the suffix kept as stored; any other name stays as it is.
std::wstring AsTheRuleSpellsIt(std::wstring_view name);

// For a name that the rule takes only when case is ignored, the form it
// misses ("system.log" or "System_*.log"); nothing for any other name, and
// on Windows, where the rule ignores case, nothing at all. The scan never
// uses it: it is for saying what the exact rule passed over.
const char* SystemLogNameButForCase(std::wstring_view name);

}  // namespace qve
