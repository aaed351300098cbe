#include "platform/folder_walk.h"

#include <dirent.h>
#include <sys/stat.h>

#include <memory>
#include <optional>
#include <vector>

#include "platform/paths.h"

namespace qve::platform {

namespace {

struct DirCloser {
  void operator()(DIR* dir) const { ::closedir(dir); }
};
using DirPtr = std::unique_ptr<DIR, DirCloser>;

enum class EntryKind { RegularFile, Folder, Other };

EntryKind KindOf(const dirent& entry, const std::string& path) {
  switch (entry.d_type) {
    case DT_REG:
      return EntryKind::RegularFile;
    case DT_DIR:
      return EntryKind::Folder;
    case DT_UNKNOWN:
      break;
    default:
      return EntryKind::Other;
  }
  struct stat status;
  if (::lstat(path.c_str(), &status) != 0) return EntryKind::Other;
  if (S_ISREG(status.st_mode)) return EntryKind::RegularFile;
  if (S_ISDIR(status.st_mode)) return EntryKind::Folder;
  return EntryKind::Other;
}

// One open folder of the walk, with its path in both forms.
struct Level {
  DirPtr dir;
  std::string narrow;
  std::wstring wide;
};

std::optional<Level> Open(std::string narrow, std::wstring wide) {
  DirPtr dir(::opendir(narrow.c_str()));
  if (!dir) return std::nullopt;
  if (!narrow.empty() && narrow.back() != '/') {
    narrow.push_back('/');
    wide.push_back(L'/');
  }
  return Level{std::move(dir), std::move(narrow), std::move(wide)};
}

}  // namespace

void WalkRegularFiles(
    std::wstring_view folder,
    const std::function<void(const std::wstring& path, const std::wstring& name)>& onRegularFile) {
  // Text with no UTF-8 form names no folder here.
  std::optional<std::string> narrowFolder = ToNarrow(folder);
  if (!narrowFolder) return;
  std::vector<Level> stack;
  if (auto root = Open(std::move(*narrowFolder), std::wstring(folder))) {
    stack.push_back(std::move(*root));
  }
  while (!stack.empty()) {
    const dirent* entry = ::readdir(stack.back().dir.get());
    if (entry == nullptr) {
      stack.pop_back();
      continue;
    }
    const std::string_view name = entry->d_name;
    if (name == "." || name == "..") continue;
    std::optional<std::wstring> wideName = ToWide(name);
    if (!wideName) continue;
    const Level& level = stack.back();
    std::string narrowPath = level.narrow + std::string(name);
    std::wstring widePath = level.wide + *wideName;
    switch (KindOf(*entry, narrowPath)) {
      case EntryKind::RegularFile:
        onRegularFile(widePath, *wideName);
        break;
      case EntryKind::Folder:
        if (auto below = Open(std::move(narrowPath), std::move(widePath))) {
          stack.push_back(std::move(*below));
        }
        break;
      case EntryKind::Other:
        break;
    }
  }
}

bool IsFolder(std::wstring_view path) {
  std::optional<std::string> narrow = ToNarrow(path);
  struct stat status;
  return narrow && ::stat(narrow->c_str(), &status) == 0 && S_ISDIR(status.st_mode);
}

}  // namespace qve::platform
