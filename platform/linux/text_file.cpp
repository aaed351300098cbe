// SPDX-License-Identifier: Apache-2.0
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "platform/text_file.h"

namespace qve::platform {

int OpenText(const std::string& path, std::error_code* error) {
  // Non-blocking only so that opening a FIFO cannot hang; anything but a
  // regular file (a folder opens on Linux) reads as a file that does not open.
  // O_NOCTTY: a terminal given as a log must not become our controlling one.
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
  if (fd < 0) {
    *error = {errno, std::generic_category()};
    return -1;
  }
  struct stat status;
  if (::fstat(fd, &status) != 0 || ::fcntl(fd, F_SETFL, 0) != 0) {
    *error = {errno, std::generic_category()};
  } else if (S_ISDIR(status.st_mode)) {
    *error = std::make_error_code(std::errc::is_a_directory);
  } else if (!S_ISREG(status.st_mode)) {
    *error = std::make_error_code(std::errc::operation_not_supported);
  } else {
    return fd;
  }
  ::close(fd);
  return -1;
}

long ReadAt(int fd, std::uint64_t offset, char* into, std::size_t size, std::error_code* error) {
  ssize_t got;
  do {
    got = ::pread(fd, into, size, static_cast<off_t>(offset));
  } while (got < 0 && errno == EINTR);
  if (got < 0) *error = {errno, std::generic_category()};
  return static_cast<long>(got);
}

void CloseText(int fd) { ::close(fd); }

bool Describe(int fd, FileIdentity* identity, std::uint64_t* size) {
  struct stat status;
  if (::fstat(fd, &status) != 0) return false;
  *identity = {static_cast<std::uint64_t>(status.st_dev),
               static_cast<std::uint64_t>(status.st_ino)};
  *size = static_cast<std::uint64_t>(status.st_size);
  return true;
}

}  // namespace qve::platform
