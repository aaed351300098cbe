// SPDX-License-Identifier: Apache-2.0
// The names a folder scan picks: "system.log" and "System_<something>.log";
// and their compressed forms, which only the command takes.
#pragma once

#include <string>
#include <string_view>

namespace qve {

// Compared as the file system compares names: exact and case-sensitive on
// Linux; on Windows, where the file system ignores case, ignoring it
// (SYSTEM.LOG is system.log there). At least one character stands between
// "System_" and ".log".
bool IsSystemLogName(std::wstring_view name);

// A log's name with ".gz" after it: a rotation compressed by gzip. The
// scan never takes it; the command reads such a file as its content.
bool IsCompressedSystemLogName(std::wstring_view name);

// The name as the rule spells it, for ordering: on Windows "SYSTEM.LOG" is
// "system.log" and "SYSTEM_2.LOG" "System_2.log", what stands between the
// prefix and the suffix kept as stored; any other name stays as it is.
std::wstring AsTheRuleSpellsIt(std::wstring_view name);

// For a name that the rules take only when case is ignored, the form it
// misses ("system.log", "System_*.log" or either with ".gz"); nothing for
// any other name, and on Windows, where the rules ignore case, nothing at
// all. The scan never uses it: it is for saying what the exact rules passed
// over.
const char* SystemLogNameButForCase(std::wstring_view name);

}  // namespace qve
