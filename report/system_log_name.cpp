#include "report/system_log_name.h"

namespace qve {

bool IsSystemLogName(std::wstring_view name) {
  if (name == L"system.log") return true;
  return name.size() >= 12 && name.starts_with(L"System_") && name.ends_with(L".log");
}

}  // namespace qve
