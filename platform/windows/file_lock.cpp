// SPDX-License-Identifier: Apache-2.0
#include "platform/file_lock.h"

#include <windows.h>

#include <optional>
#include <string>

#include "platform/paths.h"

namespace qve::platform {

namespace {

std::error_code LastError() { return {static_cast<int>(::GetLastError()), std::system_category()}; }

class WindowsFileLock final : public FileLock {
 public:
  explicit WindowsFileLock(HANDLE file) : file_(file) {}
  ~WindowsFileLock() override { ::CloseHandle(file_); }

  bool TryLock(std::error_code& error) override {
    OVERLAPPED at{};
    if (::LockFileEx(file_, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &at))
      return true;
    if (::GetLastError() != ERROR_LOCK_VIOLATION) error = LastError();
    return false;
  }

 private:
  HANDLE file_;
};

}  // namespace

std::unique_ptr<FileLock> FileLock::Open(std::wstring_view path, std::error_code& error) {
  const std::wstring name(path);
  // A reparse point (a link) is opened as itself and refused.
  HANDLE file =
      ::CreateFileW(name.c_str(), GENERIC_READ | GENERIC_WRITE,
                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_ALWAYS,
                    FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    error = LastError();
    return nullptr;
  }
  BY_HANDLE_FILE_INFORMATION info;
  if (::GetFileInformationByHandle(file, &info) &&
      (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
    ::CloseHandle(file);
    error = std::make_error_code(std::errc::too_many_symbolic_link_levels);
    return nullptr;
  }
  return std::make_unique<WindowsFileLock>(file);
}

}  // namespace qve::platform
