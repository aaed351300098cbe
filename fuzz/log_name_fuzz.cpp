// SPDX-License-Identifier: Apache-2.0
// The names a folder may hold, as the scan and the run's order read them:
// two names from the input, each as UTF-8 where it decodes and byte by byte
// where it does not. Every name is a log's by one rule at most, the rule's
// spelling of a name is a log's exactly when the name is, and names order
// as a strict weak order.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "platform/name_order.h"
#include "platform/utf8.h"
#include "verify/system_log_name.h"
#include "verify/verify_files.h"

namespace {

std::wstring NameOf(std::string_view bytes) {
  std::wstring name;
  while (!bytes.empty()) {
    char32_t c = 0;
    std::size_t length = qve::platform::DecodeUtf8(bytes, &c);
    if (length == 0) {
      c = static_cast<unsigned char>(bytes.front());
      length = 1;
    }
    name.push_back(static_cast<wchar_t>(c));
    bytes.remove_prefix(length);
  }
  return name;
}

void CheckName(const std::wstring& name) {
  const bool log = qve::IsSystemLogName(name);
  const bool compressed = qve::IsCompressedSystemLogName(name);
  const char* butForCase = qve::SystemLogNameButForCase(name);
  if (log && compressed) std::abort();
  if (butForCase != nullptr && (log || compressed)) std::abort();
  const std::wstring spelled = qve::AsTheRuleSpellsIt(name);
  if (qve::IsSystemLogName(spelled) != log || !qve::platform::SameName(spelled, name)) std::abort();
  if (qve::platform::NameLess(name, name)) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  const std::size_t cut = input.find('/');
  const std::wstring a = NameOf(input.substr(0, cut));
  const std::wstring b = cut == std::string_view::npos ? L"" : NameOf(input.substr(cut + 1));
  CheckName(a);
  CheckName(b);
  using qve::platform::NameLess;
  if (NameLess(a, b) && NameLess(b, a)) std::abort();
  if (!NameLess(a, b) && !NameLess(b, a) && a != b) std::abort();
  // The run's order: by the rule's spelling of each path's last component.
  std::vector<std::wstring> paths = {L"/logs/" + b, L"logs/" + a, L"/logs/" + a};
  qve::SortByFileName(paths);
  if (qve::FileNameLess(paths[1], paths[0]) || qve::FileNameLess(paths[2], paths[1])) std::abort();
  return 0;
}
