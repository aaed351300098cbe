#include "platform/folder_scan.h"

#include <dirent.h>
#include <sys/stat.h>

#include <cerrno>
#include <utility>
#include <vector>

#include "platform/file_status.h"
#include "platform/paths.h"

namespace qve::platform {

namespace {

struct Entry {
  std::string name;
  unsigned char type;
};

bool ReadWhole(const std::string& folder, std::vector<Entry>& entries, int& error) {
  DIR* dir = ::opendir(folder.c_str());
  if (dir == nullptr) {
    error = errno;
    return false;
  }
  errno = 0;
  while (const dirent* entry = ::readdir(dir)) {
    const std::string_view name = entry->d_name;
    if (name != "." && name != "..") entries.push_back({std::string(name), entry->d_type});
  }
  error = errno;
  ::closedir(dir);
  return error == 0;
}

}  // namespace

void ScanFolder(
    std::wstring_view folder,
    const std::function<void(const std::wstring& path, const std::wstring& name)>& onRegularFile,
    const std::function<void(const std::string& shown, const std::wstring& name, Skipped why,
                             const std::string& reason)>& onSkipped) {
  const auto root = ToNarrow(folder);
  if (!root) return;
  std::vector<std::pair<std::string, std::wstring>> pending{{*root, std::wstring(folder)}};
  while (!pending.empty()) {
    auto [narrow, wide] = std::move(pending.back());
    pending.pop_back();
    std::vector<Entry> entries;
    int error = 0;
    if (!ReadWhole(narrow, entries, error)) {
      onSkipped(narrow, FileNameOf(wide), Skipped::FolderUnreadable, ErrorText(error));
      if (entries.empty()) continue;
    }
    if (narrow.back() != '/') {
      narrow.push_back('/');
      wide.push_back(L'/');
    }
    std::vector<std::pair<std::string, std::wstring>> below;
    for (const Entry& entry : entries) {
      std::string path = narrow + entry.name;
      const auto name = ToWide(entry.name);
      if (!name) {
        onSkipped(path, L"", Skipped::NotUtf8, "the name is not valid UTF-8");
        continue;
      }
      unsigned char type = entry.type;
      struct stat status {};
      if (type == DT_UNKNOWN && ::lstat(path.c_str(), &status) == 0) {
        type = S_ISREG(status.st_mode)   ? DT_REG
               : S_ISDIR(status.st_mode) ? DT_DIR
               : S_ISLNK(status.st_mode) ? DT_LNK
                                         : DT_UNKNOWN;
      }
      if (type == DT_REG) {
        onRegularFile(wide + *name, *name);
      } else if (type == DT_DIR) {
        below.emplace_back(std::move(path), wide + *name);
      } else if (type == DT_LNK) {
        onSkipped(path, *name, Skipped::Link, "symbolic links are not followed");
      } else {
        // A FIFO, device or socket, or an entry gone since the listing.
        const FileStatus other = StatusOf(wide + *name);
        onSkipped(path, *name, Skipped::NotRegular,
                  other.kind == FileKind::Missing ? ErrorText(other.error)
                                                  : other.what + ", not a regular file");
      }
    }
    // Reversed, so the first folder listed is the next one read.
    pending.insert(pending.end(), std::make_move_iterator(below.rbegin()),
                   std::make_move_iterator(below.rend()));
  }
}

}  // namespace qve::platform
