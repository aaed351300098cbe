// SPDX-License-Identifier: Apache-2.0
#include "platform/files.h"

#include <sys/stat.h>

#include <filesystem>
#include <optional>

#include "platform/paths.h"

namespace qve::platform {

namespace {

std::optional<std::filesystem::path> FileSystemPath(std::wstring_view path) {
  auto narrow = ToNarrow(path);
  if (!narrow) return std::nullopt;
  return std::filesystem::path(std::move(*narrow));
}

bool IsEmptyRegularFile(const std::filesystem::path& path) {
  std::error_code error;
  return std::filesystem::is_regular_file(path, error) &&
         std::filesystem::file_size(path, error) == 0 && !error;
}

}  // namespace

bool OpenForReading(FileStream& stream, std::wstring_view path) {
  const auto fsPath = FileSystemPath(path);
  if (!fsPath) return stream.Attach(nullptr);
  // Linux opens a folder for reading where Windows refuses; refuse it here too.
  std::error_code ignored;
  if (std::filesystem::is_directory(*fsPath, ignored)) return stream.Attach(nullptr);
  auto buffer = std::make_unique<std::filebuf>();
  buffer->open(*fsPath, std::ios::in | std::ios::binary);
  return stream.Attach(std::move(buffer));
}

bool OpenForWriting(FileStream& stream, std::wstring_view path) {
  const auto fsPath = FileSystemPath(path);
  if (!fsPath) return stream.Attach(nullptr);
  // ext4 writes back at the close, and the truncation after it waits for
  // that, any file that was truncated to zero length: about 0.4 s per GiB
  // of output. A file that is already empty (a temporary made for the
  // output, say) needs no truncation, so it is opened as it is.
  auto buffer = std::make_unique<std::filebuf>();
  if (IsEmptyRegularFile(*fsPath)) {
    buffer->open(*fsPath, std::ios::in | std::ios::out | std::ios::binary);
    if (buffer->is_open() && IsEmptyRegularFile(*fsPath)) return stream.Attach(std::move(buffer));
    buffer->close();
  }
  buffer->open(*fsPath, std::ios::out | std::ios::binary | std::ios::trunc);
  return stream.Attach(std::move(buffer));
}

std::optional<FileIdentity> IdentityOf(std::wstring_view path) {
  const auto narrow = ToNarrow(path);
  struct stat status {};
  if (!narrow || ::stat(narrow->c_str(), &status) != 0) return std::nullopt;
  return FileIdentity{static_cast<std::uint64_t>(status.st_dev),
                      static_cast<std::uint64_t>(status.st_ino)};
}

std::wstring NameAsStored(std::wstring_view path) { return std::wstring(path); }

std::uint64_t FileSize(std::wstring_view path, std::error_code& error) {
  const auto fsPath = FileSystemPath(path);
  if (!fsPath) {
    error = std::make_error_code(std::errc::invalid_argument);
    return 0;
  }
  const std::uintmax_t size = std::filesystem::file_size(*fsPath, error);
  return error ? 0 : size;
}

void TruncateFile(std::wstring_view path, std::uint64_t size, std::error_code& error) {
  const auto fsPath = FileSystemPath(path);
  if (!fsPath) {
    error = std::make_error_code(std::errc::invalid_argument);
    return;
  }
  std::filesystem::resize_file(*fsPath, size, error);
}

}  // namespace qve::platform
