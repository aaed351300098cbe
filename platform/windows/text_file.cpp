// SPDX-License-Identifier: Apache-2.0
#include "platform/text_file.h"

#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <climits>
#include <cstdint>
#include <optional>

#include "platform/paths.h"

namespace qve::platform {

namespace {

std::error_code LastError() { return {static_cast<int>(::GetLastError()), std::system_category()}; }

}  // namespace

int OpenText(const std::string& path, std::error_code* error) {
  // The narrow text is UTF-8, as ToNarrow made it; the file opens by its
  // wide name whatever the code page.
  const std::optional<std::wstring> wide = ToWide(path);
  if (!wide || wide->empty()) {
    *error = std::make_error_code(std::errc::no_such_file_or_directory);
    return -1;
  }
  // Every sharing flag, so that a log its writer holds open can be read and
  // the writer is never locked out while it is.
  HANDLE file = ::CreateFileW(
      wide->c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
      OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    // A folder does not open for reading like a file: say what it is.
    const DWORD attributes = ::GetFileAttributesW(wide->c_str());
    *error = attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY)
                 ? std::make_error_code(std::errc::is_a_directory)
                 : LastError();
    return -1;
  }
  // A device, a pipe or a console reads as a file that does not open.
  if (::GetFileType(file) != FILE_TYPE_DISK) {
    ::CloseHandle(file);
    *error = std::make_error_code(std::errc::operation_not_supported);
    return -1;
  }
  // Line ends and 0x1A are handled above this layer, so the bytes come raw.
  const int fd = ::_open_osfhandle(reinterpret_cast<std::intptr_t>(file), _O_RDONLY | _O_BINARY);
  if (fd < 0) {
    *error = std::make_error_code(std::errc::too_many_files_open);
    ::CloseHandle(file);
  }
  return fd;
}

long ReadAt(int fd, std::uint64_t offset, char* into, std::size_t size, std::error_code* error) {
  // A read at an offset, so that two readers can share one open file.
  OVERLAPPED at{};
  at.Offset = static_cast<DWORD>(offset);
  at.OffsetHigh = static_cast<DWORD>(offset >> 32);
  const DWORD chunk = size > INT_MAX ? INT_MAX : static_cast<DWORD>(size);
  DWORD got = 0;
  if (!::ReadFile(reinterpret_cast<HANDLE>(::_get_osfhandle(fd)), into, chunk, &got, &at)) {
    if (::GetLastError() == ERROR_HANDLE_EOF) return 0;
    *error = LastError();
    return -1;
  }
  return static_cast<long>(got);
}

void CloseText(int fd) { ::_close(fd); }

bool Describe(int fd, FileIdentity* identity, std::uint64_t* size) {
  BY_HANDLE_FILE_INFORMATION info;
  if (!::GetFileInformationByHandle(reinterpret_cast<HANDLE>(::_get_osfhandle(fd)), &info))
    return false;
  *identity = {info.dwVolumeSerialNumber,
               (std::uint64_t{info.nFileIndexHigh} << 32) | info.nFileIndexLow};
  *size = (std::uint64_t{info.nFileSizeHigh} << 32) | info.nFileSizeLow;
  return true;
}

}  // namespace qve::platform
