// SPDX-License-Identifier: Apache-2.0
#include "platform/folder_walk.h"

#include <windows.h>

#include <vector>

#include "platform/paths.h"

namespace qve::platform {

namespace {

struct Entry {
  std::wstring name;
  DWORD attributes;
  DWORD reparseTag;
};

// One folder of the walk: its listing, read whole, and how far it is handled.
struct Level {
  std::wstring prefix;  // the folder's path, ready for a name to follow
  std::vector<Entry> entries;
  std::size_t next = 0;
};

std::error_code LastError() { return {static_cast<int>(::GetLastError()), std::system_category()}; }

// A listing cut short by an error still gives what it read before.
std::error_code List(const std::wstring& prefix, std::vector<Entry>& entries) {
  WIN32_FIND_DATAW data{};
  const HANDLE find = ::FindFirstFileExW((prefix + L"*").c_str(), FindExInfoBasic, &data,
                                         FindExSearchNameMatch, nullptr, FIND_FIRST_EX_LARGE_FETCH);
  if (find == INVALID_HANDLE_VALUE) return LastError();
  std::error_code error;
  do {
    const std::wstring_view name = data.cFileName;
    if (name != L"." && name != L"..")
      entries.push_back({std::wstring(name), data.dwFileAttributes, data.dwReserved0});
  } while (::FindNextFileW(find, &data));
  if (::GetLastError() != ERROR_NO_MORE_FILES) error = LastError();
  ::FindClose(find);
  return error;
}

}  // namespace

void WalkFolder(std::wstring_view folder, const OnRegularFile& onRegularFile,
                const OnSkipped& onSkipped, NotUtf8Names) {
  // Every Windows name has a narrow form (WTF-8), so none is passed over for that.
  const auto skip = [&](SkipReason reason, const std::wstring& path, std::wstring name,
                        std::error_code error = {}, const char* kind = "") {
    if (onSkipped) onSkipped({reason, ShownText(path), std::move(name), error, kind});
  };
  // An empty text would list the current folder; it names no folder.
  if (folder.empty()) return;
  std::vector<Level> stack;
  const auto enter = [&](std::wstring path) {
    // A path that ends in a separator or a drive's ':' takes the name as is.
    const wchar_t last = path.back();
    std::wstring prefix = path;
    if (last != L'\\' && last != L'/' && last != L':') prefix.push_back(L'\\');
    Level level{std::move(prefix), {}, 0};
    if (const std::error_code error = List(level.prefix, level.entries)) {
      const bool gone = !stack.empty() && (error.value() == ERROR_FILE_NOT_FOUND ||
                                           error.value() == ERROR_PATH_NOT_FOUND);
      skip(gone ? SkipReason::Gone : SkipReason::FolderUnreadable, path, FileNameOf(path), error);
    }
    if (!level.entries.empty()) stack.push_back(std::move(level));
  };
  enter(std::wstring(folder));
  while (!stack.empty()) {
    Level& level = stack.back();
    if (level.next == level.entries.size()) {
      stack.pop_back();
      continue;
    }
    const Entry entry = std::move(level.entries[level.next++]);
    std::wstring path = level.prefix + entry.name;
    // A symbolic link, a junction or any other reparse point standing for
    // another name is a link: neither followed nor selected.
    if ((entry.attributes & FILE_ATTRIBUTE_REPARSE_POINT) &&
        IsReparseTagNameSurrogate(entry.reparseTag)) {
      skip(SkipReason::Link, path, entry.name);
    } else if (entry.attributes & FILE_ATTRIBUTE_DEVICE) {
      skip(SkipReason::NotRegular, path, entry.name, {}, "a device");
    } else if (entry.attributes & FILE_ATTRIBUTE_DIRECTORY) {
      enter(std::move(path));  // `level` may move
    } else {
      onRegularFile(path, entry.name);
    }
  }
}

}  // namespace qve::platform
