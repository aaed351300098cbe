#include "platform/folder_walk.h"

#include <windows.h>

#include <memory>
#include <optional>
#include <vector>

namespace qve::platform {

namespace {

struct FindCloser {
  void operator()(HANDLE find) const { ::FindClose(find); }
};
using FindPtr = std::unique_ptr<void, FindCloser>;

enum class EntryKind { RegularFile, Folder, Other };

// The type as the listing reports it. A symbolic link, a junction or any
// other reparse point standing for another name is a link: neither followed
// nor selected.
EntryKind KindOf(const WIN32_FIND_DATAW& entry) {
  const DWORD attributes = entry.dwFileAttributes;
  if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) && IsReparseTagNameSurrogate(entry.dwReserved0))
    return EntryKind::Other;
  if (attributes & FILE_ATTRIBUTE_DEVICE) return EntryKind::Other;
  if (attributes & FILE_ATTRIBUTE_DIRECTORY) return EntryKind::Folder;
  return EntryKind::RegularFile;
}

// One open folder of the walk. The listing hands out its first entry with
// the handle, so that one waits in `entry` until it is taken.
struct Level {
  FindPtr find;
  WIN32_FIND_DATAW entry;
  bool entryWaiting;
  std::wstring prefix;  // the folder's path, ready for a name to follow
};

std::optional<Level> Open(std::wstring prefix) {
  // A path that ends in a separator or a drive's ':' takes the name as is.
  const wchar_t last = prefix.back();
  if (last != L'\\' && last != L'/' && last != L':') prefix.push_back(L'\\');
  Level level{nullptr, {}, true, std::move(prefix)};
  HANDLE find = ::FindFirstFileExW((level.prefix + L"*").c_str(), FindExInfoBasic, &level.entry,
                                   FindExSearchNameMatch, nullptr, FIND_FIRST_EX_LARGE_FETCH);
  if (find == INVALID_HANDLE_VALUE) return std::nullopt;
  level.find.reset(find);
  return level;
}

}  // namespace

void WalkRegularFiles(
    std::wstring_view folder,
    const std::function<void(const std::wstring& path, const std::wstring& name)>& onRegularFile) {
  // An empty text would list the current folder; it names no folder.
  if (folder.empty()) return;
  std::vector<Level> stack;
  if (auto root = Open(std::wstring(folder))) stack.push_back(std::move(*root));
  while (!stack.empty()) {
    Level& level = stack.back();
    if (!level.entryWaiting && !::FindNextFileW(level.find.get(), &level.entry)) {
      stack.pop_back();
      continue;
    }
    level.entryWaiting = false;
    const std::wstring name = level.entry.cFileName;
    if (name == L"." || name == L"..") continue;
    std::wstring path = level.prefix + name;
    switch (KindOf(level.entry)) {
      case EntryKind::RegularFile:
        onRegularFile(path, name);
        break;
      case EntryKind::Folder:
        if (auto below = Open(std::move(path))) stack.push_back(std::move(*below));
        break;
      case EntryKind::Other:
        break;
    }
  }
}

bool IsFolder(std::wstring_view path) {
  if (path.empty()) return false;
  const DWORD attributes = ::GetFileAttributesW(std::wstring(path).c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

}  // namespace qve::platform
