// SPDX-License-Identifier: Apache-2.0
#include "platform/folder_walk.h"

#include <dirent.h>
#include <sys/stat.h>

#include <cerrno>
#include <optional>
#include <vector>

#include "platform/paths.h"

namespace qve::platform {

namespace {

struct Entry {
  std::string name;
  unsigned char type;
};

// One folder of the walk: its listing, read whole, and how far it is handled.
struct Level {
  std::string narrow;  // ready for a name to follow
  std::wstring wide;
  std::vector<Entry> entries;
  std::size_t next = 0;
};

std::error_code Errno() { return {errno, std::generic_category()}; }

// A listing cut short by an error still gives what it read before.
std::error_code List(const std::string& folder, std::vector<Entry>& entries) {
  DIR* dir = ::opendir(folder.c_str());
  if (dir == nullptr) return Errno();
  errno = 0;
  while (const dirent* entry = ::readdir(dir)) {
    const std::string_view name = entry->d_name;
    if (name != "." && name != "..") entries.push_back({std::string(name), entry->d_type});
  }
  const std::error_code error = Errno();
  ::closedir(dir);
  return error;
}

const char* KindText(unsigned char type) {
  switch (type) {
    case DT_FIFO:
      return "a FIFO";
    case DT_CHR:
      return "a character device";
    case DT_BLK:
      return "a block device";
    case DT_SOCK:
      return "a socket";
    default:
      return "an entry of unknown type";
  }
}

unsigned char TypeOf(mode_t mode) {
  return S_ISREG(mode)    ? DT_REG
         : S_ISDIR(mode)  ? DT_DIR
         : S_ISLNK(mode)  ? DT_LNK
         : S_ISFIFO(mode) ? DT_FIFO
         : S_ISCHR(mode)  ? DT_CHR
         : S_ISBLK(mode)  ? DT_BLK
         : S_ISSOCK(mode) ? DT_SOCK
                          : DT_UNKNOWN;
}

}  // namespace

void WalkFolder(std::wstring_view folder, const OnRegularFile& onRegularFile,
                const OnSkipped& onSkipped, NotUtf8Names notUtf8) {
  const auto skip = [&](SkipReason reason, std::string shown, std::wstring name,
                        std::error_code error = {}, const char* kind = "") {
    if (onSkipped) onSkipped({reason, std::move(shown), std::move(name), error, kind});
  };
  // Text with no UTF-8 form names no folder here.
  const std::optional<std::string> root = ToNarrow(folder);
  if (!root) return;
  std::vector<Level> stack;
  // Lists the folder and makes it the one being handled; false when it
  // gives nothing.
  const auto enter = [&](std::string narrow, std::wstring wide) {
    Level level{std::move(narrow), std::move(wide), {}, 0};
    if (const std::error_code error = List(level.narrow, level.entries)) {
      skip(error == std::errc::no_such_file_or_directory && !stack.empty()
               ? SkipReason::Gone
               : SkipReason::FolderUnreadable,
           level.narrow, FileNameOf(level.wide), error);
    }
    if (level.entries.empty()) return;
    if (!level.narrow.empty() && level.narrow.back() != '/') {
      level.narrow.push_back('/');
      level.wide.push_back(L'/');
    }
    stack.push_back(std::move(level));
  };
  enter(*root, std::wstring(folder));
  while (!stack.empty()) {
    Level& level = stack.back();
    if (level.next == level.entries.size()) {
      stack.pop_back();
      continue;
    }
    const Entry& entry = level.entries[level.next++];
    std::string narrowPath = level.narrow + entry.name;
    const std::optional<std::wstring> name =
        notUtf8 == NotUtf8Names::Carry ? ArgumentPath(entry.name) : ToWide(entry.name);
    if (!name) {
      skip(SkipReason::NameNotUtf8, std::move(narrowPath), L"");
      continue;
    }
    unsigned char type = entry.type;
    if (type == DT_UNKNOWN) {
      struct stat status {};
      if (::lstat(narrowPath.c_str(), &status) != 0) {
        skip(SkipReason::Gone, std::move(narrowPath), *name, Errno());
        continue;
      }
      type = TypeOf(status.st_mode);
    }
    std::wstring widePath = level.wide + *name;
    if (type == DT_REG) {
      onRegularFile(widePath, *name);
    } else if (type == DT_DIR) {
      enter(std::move(narrowPath), std::move(widePath));  // `level` may move
    } else if (type == DT_LNK) {
      skip(SkipReason::Link, std::move(narrowPath), *name);
    } else {
      skip(SkipReason::NotRegular, std::move(narrowPath), *name, {}, KindText(type));
    }
  }
}

}  // namespace qve::platform
