// SPDX-License-Identifier: Apache-2.0
#include "platform/file_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>

#include "platform/paths.h"

namespace qve::platform {

namespace {

class LinuxFileLock final : public FileLock {
 public:
  explicit LinuxFileLock(int fd) : fd_(fd) {}
  ~LinuxFileLock() override { ::close(fd_); }

  bool TryLock(std::error_code& error) override {
    int result;
    do {
      result = ::flock(fd_, LOCK_EX | LOCK_NB);
    } while (result != 0 && errno == EINTR);
    if (result == 0) return true;
    if (errno != EWOULDBLOCK) error = {errno, std::generic_category()};
    return false;
  }

 private:
  int fd_;
};

}  // namespace

std::unique_ptr<FileLock> FileLock::Open(std::wstring_view path, std::error_code& error) {
  const auto narrow = ToNarrow(path);
  if (!narrow) {
    error = std::make_error_code(std::errc::illegal_byte_sequence);
    return nullptr;
  }
  // A lock needs no write access, so one that another user made still locks.
  constexpr int kFlags = O_CREAT | O_CLOEXEC | O_NOFOLLOW | O_NOCTTY | O_NONBLOCK;
  int fd = ::open(narrow->c_str(), O_RDWR | kFlags, 0644);
  if (fd < 0 && errno == EACCES) fd = ::open(narrow->c_str(), O_RDONLY | kFlags, 0644);
  if (fd < 0) {
    error = errno == ELOOP ? std::make_error_code(std::errc::too_many_symbolic_link_levels)
                           : std::error_code(errno, std::generic_category());
    return nullptr;
  }
  return std::make_unique<LinuxFileLock>(fd);
}

}  // namespace qve::platform
