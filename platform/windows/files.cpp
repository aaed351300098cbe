// SPDX-License-Identifier: Apache-2.0
#include "platform/files.h"

#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <ext/stdio_filebuf.h>
#include <filesystem>
#include <string>

#include "platform/paths.h"

namespace qve::platform {

namespace {

// libstdc++ for MinGW opens a std::filesystem::path by its wide text
// (_wfopen), which its plain fstream constructors have no overload for.
std::filesystem::path FileSystemPath(std::wstring_view path) {
  return std::filesystem::path(std::wstring(path));
}

constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

// The C runtime's own opens (_wfopen, _wopen) never share deletion, so the
// file is opened here and handed to a stream buffer as a descriptor.
std::unique_ptr<std::filebuf> SharedBuffer(HANDLE handle, std::ios::openmode mode) {
  if (handle == INVALID_HANDLE_VALUE) return nullptr;
  const int flags = _O_BINARY | ((mode & std::ios::out) ? _O_WRONLY : _O_RDONLY);
  const int fd = _open_osfhandle(reinterpret_cast<intptr_t>(handle), flags);
  if (fd < 0) {
    CloseHandle(handle);
    return nullptr;
  }
  auto buffer = std::make_unique<__gnu_cxx::stdio_filebuf<char>>(fd, mode | std::ios::binary);
  if (!buffer->is_open()) _close(fd);
  return buffer;
}

}  // namespace

bool OpenForReading(FileStream& stream, std::wstring_view path) {
  const std::wstring text(path);
  return stream.Attach(SharedBuffer(
      CreateFileW(text.c_str(), GENERIC_READ, kShareAll, nullptr, OPEN_EXISTING, 0, nullptr),
      std::ios::in));
}

bool OpenForWriting(FileStream& stream, std::wstring_view path) {
  const std::wstring text(path);
  // OPEN_ALWAYS and a cut, not CREATE_ALWAYS, which refuses a hidden file
  // such as the commands' temporary output.
  const HANDLE handle =
      CreateFileW(text.c_str(), GENERIC_WRITE, kShareAll, nullptr, OPEN_ALWAYS, 0, nullptr);
  if (handle != INVALID_HANDLE_VALUE && GetFileType(handle) == FILE_TYPE_DISK &&
      !SetEndOfFile(handle)) {
    CloseHandle(handle);
    return stream.Attach(nullptr);
  }
  return stream.Attach(SharedBuffer(handle, std::ios::out));
}

std::optional<FileIdentity> IdentityOf(std::wstring_view path) {
  // A device path may name a pipe, which even this open would connect to.
  if (path.starts_with(L"\\\\.\\")) return std::nullopt;
  const std::wstring text(path);
  const HANDLE handle = CreateFileW(text.c_str(), 0, kShareAll, nullptr, OPEN_EXISTING,
                                    FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return std::nullopt;
  BY_HANDLE_FILE_INFORMATION info{};
  std::optional<FileIdentity> identity;
  if (GetFileType(handle) == FILE_TYPE_DISK && GetFileInformationByHandle(handle, &info)) {
    identity = FileIdentity{info.dwVolumeSerialNumber,
                            (std::uint64_t{info.nFileIndexHigh} << 32) | info.nFileIndexLow};
  }
  CloseHandle(handle);
  return identity;
}

std::wstring NameAsStored(std::wstring_view path) {
  const std::wstring text(path);
  const std::wstring name = FileNameOf(path);
  // A pattern would find another file.
  if (name.empty() || name.find_first_of(L"*?") != std::wstring::npos) return text;
  WIN32_FIND_DATAW data{};
  const HANDLE find = FindFirstFileW(text.c_str(), &data);
  if (find == INVALID_HANDLE_VALUE) return text;
  FindClose(find);
  return text.substr(0, text.size() - name.size()) + data.cFileName;
}

std::uint64_t FileSize(std::wstring_view path, std::error_code& error) {
  const std::uintmax_t size = std::filesystem::file_size(FileSystemPath(path), error);
  return error ? 0 : size;
}

void TruncateFile(std::wstring_view path, std::uint64_t size, std::error_code& error) {
  const std::wstring text(path);
  const HANDLE handle =
      CreateFileW(text.c_str(), GENERIC_WRITE, kShareAll, nullptr, OPEN_EXISTING, 0, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    error = {static_cast<int>(GetLastError()), std::system_category()};
    return;
  }
  FILE_END_OF_FILE_INFO end{};
  end.EndOfFile.QuadPart = static_cast<LONGLONG>(size);
  // Only a regular file has a length to cut; a device such as NUL does not.
  if (GetFileType(handle) != FILE_TYPE_DISK) {
    error = std::make_error_code(std::errc::not_supported);
  } else if (!SetFileInformationByHandle(handle, FileEndOfFileInfo, &end, sizeof end)) {
    error = {static_cast<int>(GetLastError()), std::system_category()};
  }
  CloseHandle(handle);
}

}  // namespace qve::platform
