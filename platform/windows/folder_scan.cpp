#include "platform/folder_scan.h"

#include <windows.h>

#include <utility>
#include <vector>

#include "platform/file_status.h"
#include "platform/paths.h"

namespace qve::platform {

void ScanFolder(
    std::wstring_view folder,
    const std::function<void(const std::wstring& path, const std::wstring& name)>& onRegularFile,
    const std::function<void(const std::string& shown, const std::wstring& name, Skipped why,
                             const std::string& reason)>& onSkipped) {
  if (folder.empty()) return;
  std::vector<std::wstring> pending{std::wstring(folder)};
  while (!pending.empty()) {
    std::wstring prefix = std::move(pending.back());
    pending.pop_back();
    const wchar_t last = prefix.back();
    if (last != L'\\' && last != L'/' && last != L':') prefix.push_back(L'\\');
    std::vector<WIN32_FIND_DATAW> entries(1);
    const HANDLE find =
        ::FindFirstFileExW((prefix + L"*").c_str(), FindExInfoBasic, &entries.back(),
                           FindExSearchNameMatch, nullptr, FIND_FIRST_EX_LARGE_FETCH);
    if (find == INVALID_HANDLE_VALUE) {
      const std::wstring shown = prefix.substr(0, prefix.size() - 1);
      onSkipped(ToNarrow(shown).value_or("?"), FileNameOf(shown), Skipped::FolderUnreadable,
                ErrorText(static_cast<int>(GetLastError())));
      continue;
    }
    entries.emplace_back();
    while (::FindNextFileW(find, &entries.back())) entries.emplace_back();
    entries.pop_back();
    ::FindClose(find);
    std::vector<std::wstring> below;
    for (const WIN32_FIND_DATAW& entry : entries) {
      const std::wstring name = entry.cFileName;
      if (name == L"." || name == L"..") continue;
      std::wstring path = prefix + name;
      const DWORD attributes = entry.dwFileAttributes;
      if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) &&
          IsReparseTagNameSurrogate(entry.dwReserved0)) {
        onSkipped(ToNarrow(path).value_or("?"), name, Skipped::Link, "links are not followed");
      } else if (attributes & FILE_ATTRIBUTE_DIRECTORY) {
        below.push_back(std::move(path));
      } else if (!(attributes & FILE_ATTRIBUTE_DEVICE)) {
        onRegularFile(path, name);
      }
    }
    pending.insert(pending.end(), std::make_move_iterator(below.rbegin()),
                   std::make_move_iterator(below.rend()));
  }
}

}  // namespace qve::platform
