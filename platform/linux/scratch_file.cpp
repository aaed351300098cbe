#include "platform/scratch_file.h"

#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <string>

#include "platform/paths.h"

namespace qve::platform {

namespace {

int OpenUnnamed(const std::string& folder) {
  const int fd = ::open(folder.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
  if (fd >= 0 || (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL)) return fd;
  // A file system without O_TMPFILE: the name lives only until the unlink.
  std::string pattern = folder + "/.qve-scratch-XXXXXX";
  const int named = ::mkostemp(pattern.data(), O_CLOEXEC);
  if (named >= 0) ::unlink(pattern.c_str());
  return named;
}

}  // namespace

ScratchFile::ScratchFile() {
  std::error_code error;
  const auto folder = std::filesystem::temp_directory_path(error);
  if (error) return;
  fd_ = OpenUnnamed(folder.string());
  if (fd_ < 0) return;
  path_ = ToWide("/proc/self/fd/" + std::to_string(fd_)).value_or(L"");
}

ScratchFile::~ScratchFile() {
  if (fd_ >= 0) ::close(fd_);
}

}  // namespace qve::platform
