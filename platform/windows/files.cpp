#include "platform/files.h"

#include <filesystem>

namespace qve::platform {

namespace {

// libstdc++ for MinGW opens a std::filesystem::path by its wide text
// (_wfopen), which its plain fstream constructors have no overload for.
std::filesystem::path FileSystemPath(std::wstring_view path) {
  return std::filesystem::path(std::wstring(path));
}

}  // namespace

bool OpenForReading(std::ifstream& stream, std::wstring_view path) {
  stream.open(FileSystemPath(path), std::ios::in | std::ios::binary);
  return stream.is_open();
}

bool OpenForWriting(std::ofstream& stream, std::wstring_view path) {
  stream.open(FileSystemPath(path), std::ios::out | std::ios::binary | std::ios::trunc);
  return stream.is_open();
}

std::uint64_t FileSize(std::wstring_view path, std::error_code& error) {
  const std::uintmax_t size = std::filesystem::file_size(FileSystemPath(path), error);
  return error ? 0 : size;
}

void TruncateFile(std::wstring_view path, std::uint64_t size, std::error_code& error) {
  const std::filesystem::path fsPath = FileSystemPath(path);
  // Only a regular file has a length to cut; a device such as NUL does not.
  if (!std::filesystem::is_regular_file(fsPath, error)) {
    if (!error) error = std::make_error_code(std::errc::not_supported);
    return;
  }
  std::filesystem::resize_file(fsPath, size, error);
}

}  // namespace qve::platform
