// SPDX-License-Identifier: Apache-2.0
// Which files below a folder are containers to check: the name says so
// (*.qves, any case) or the first bytes do. Every file skipped, or taken
// with a doubt, is reported, so that a folder run never silently misses a
// file that could hold a container.
#include <algorithm>
#include <string>
#include <string_view>
#include <vector>

#include "QVEHelper.h"
#include "api/calls.h"
#include "platform/file_status.h"
#include "platform/files.h"
#include "platform/folder_walk.h"
#include "platform/paths.h"

namespace qve::interface {

namespace {

// What a file's first bytes say: nothing there, the magic, something else,
// or that it does not open.
enum class Start { Empty, Magic, Other, Unreadable };

Start StartOf(const std::wstring& path) {
  platform::FileStream file;
  if (!platform::OpenForReading(file, path)) return Start::Unreadable;
  char magic[4] = {};
  file.read(magic, 4);
  if (file.gcount() == 0) return file.bad() ? Start::Unreadable : Start::Empty;
  return qve_starts_container(magic, std::size_t(file.gcount())) ? Start::Magic : Start::Other;
}

bool HasContainerName(std::wstring_view name) {
  constexpr std::wstring_view kSuffix = L".qves";
  if (name.size() < kSuffix.size()) return false;
  const std::wstring_view end = name.substr(name.size() - kSuffix.size());
  return std::equal(end.begin(), end.end(), kSuffix.begin(), [](wchar_t a, wchar_t b) {
    return (a >= L'A' && a <= L'Z' ? a + 32 : a) == b;
  });
}

// The caller's callback stopped the search.
struct Stopped {};

// Tells `found` of every entry below `root`; throws Stopped when it asks to
// stop.
int Walk(const std::wstring& root, qve_found_fn found, void* context) {
  const auto tell = [&](const std::string& shown, const wchar_t* path, const char* warning) {
    if (found(shown.c_str(), path, warning, context) != 0) throw Stopped{};
  };
  std::vector<std::wstring> containers;
  platform::WalkFolder(
      root,
      [&](const std::wstring& path, const std::wstring& name) {
        const Start start = StartOf(path);
        const bool named = HasContainerName(name);
        const std::string shown = platform::ShownText(path);
        if (named && start == Start::Empty) {
          tell(shown, nullptr, "the file is empty");
        } else if (named && start == Start::Other) {
          tell(shown, nullptr, "does not start with \"QVES\"");
        } else if (!named && start == Start::Unreadable) {
          tell(shown, nullptr,
               ("skipped: " + platform::ErrorText(platform::ReadError(path))).c_str());
        }
        if (named || start == Start::Magic) containers.push_back(path);
      },
      [&](const platform::SkippedEntry& entry) {
        tell(entry.shown, nullptr, platform::SkippedText(entry).c_str());
      },
      platform::NotUtf8Names::Carry);
  std::sort(containers.begin(), containers.end());
  for (const std::wstring& path : containers)
    tell(platform::ShownText(path), path.c_str(), nullptr);
  return int(std::min<std::size_t>(containers.size(), INT32_MAX));
}

template <typename Char>
int Find(const Char* folder, qve_found_fn found, void* context) noexcept {
  if (folder == nullptr || found == nullptr)
    return Fail(QVE_ERROR_MISUSE, "a NULL folder or callback");
  return Guarded(
      [&] {
        const auto root = PathOf(folder);
        if (!root) return Fail(QVE_ERROR_INVALID_PATH, NoPath(folder));
        try {
          return Walk(*root, found, context);
        } catch (const Stopped&) {
          return Fail(QVE_ERROR_CANCELLED, "the callback stopped the search", {}, {},
                      QVE_PROBLEM_CANCELLED);
        }
      },
      QVE_ERROR_NO_MEMORY);
}

}  // namespace

}  // namespace qve::interface

extern "C" {

int qve_find_containers(const char* folder, qve_found_fn found, void* context) {
  return qve::interface::Find(folder, found, context);
}

int qve_find_containers_w(const wchar_t* folder, qve_found_fn found, void* context) {
  return qve::interface::Find(folder, found, context);
}

}  // extern "C"
