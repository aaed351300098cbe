// SPDX-License-Identifier: Apache-2.0
#include "report/system_log_name.h"

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

const char* SystemLogNameButForCase(std::wstring_view name) {
  if (IsSystemLogName(name)) return nullptr;
  if (SameIgnoringCase(name, L"system.log")) return "system.log";
  if (name.size() >= 12 && SameIgnoringCase(name.substr(0, 7), L"System_") &&
      SameIgnoringCase(name.substr(name.size() - 4), L".log"))
    return "System_*.log";
  return nullptr;
}

}  // namespace qve
