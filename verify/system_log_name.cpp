// SPDX-License-Identifier: Apache-2.0
#include "verify/system_log_name.h"

#include <algorithm>

#include "platform/name_order.h"

namespace qve {

namespace {

bool SameIgnoringCase(std::wstring_view a, std::wstring_view b) {
  const auto lower = [](wchar_t c) {
    return c >= L'A' && c <= L'Z' ? wchar_t(c - L'A' + L'a') : c;
  };
  return std::equal(a.begin(), a.end(), b.begin(), b.end(),
                    [&](wchar_t x, wchar_t y) { return lower(x) == lower(y); });
}

}  // namespace

bool IsSystemLogName(std::wstring_view name) {
  using platform::SameName;
  if (SameName(name, L"system.log")) return true;
  return name.size() >= 12 && SameName(name.substr(0, 7), L"System_") &&
         SameName(name.substr(name.size() - 4), L".log");
}

std::wstring AsTheRuleSpellsIt(std::wstring_view name) {
  if (!IsSystemLogName(name)) return std::wstring(name);
  if (platform::SameName(name, L"system.log")) return L"system.log";
  return L"System_" + std::wstring(name.substr(7, name.size() - 11)) + L".log";
}

bool IsCompressedSystemLogName(std::wstring_view name) {
  return name.size() > 3 && platform::SameName(name.substr(name.size() - 3), L".gz") &&
         IsSystemLogName(name.substr(0, name.size() - 3));
}

const char* SystemLogNameButForCase(std::wstring_view name) {
  if (IsSystemLogName(name) || IsCompressedSystemLogName(name)) return nullptr;
  const bool compressed =
      name.size() >= 3 && SameIgnoringCase(name.substr(name.size() - 3), L".gz");
  if (compressed) name.remove_suffix(3);
  if (SameIgnoringCase(name, L"system.log")) return compressed ? "system.log.gz" : "system.log";
  if (name.size() >= 12 && SameIgnoringCase(name.substr(0, 7), L"System_") &&
      SameIgnoringCase(name.substr(name.size() - 4), L".log"))
    return compressed ? "System_*.log.gz" : "System_*.log";
  return nullptr;
}

}  // namespace qve
