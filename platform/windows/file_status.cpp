// SPDX-License-Identifier: Apache-2.0
#include "platform/file_status.h"

#include <io.h>
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "platform/paths.h"

namespace qve::platform {

namespace {

struct HandleCloser {
  HANDLE handle;
  ~HandleCloser() {
    if (handle != INVALID_HANDLE_VALUE) CloseHandle(handle);
  }
};

std::error_code LastError() { return {static_cast<int>(GetLastError()), std::system_category()}; }

FileStatus FromHandle(HANDLE handle) {
  FileStatus out;
  const DWORD type = GetFileType(handle);
  BY_HANDLE_FILE_INFORMATION info{};
  if (type != FILE_TYPE_DISK) {
    out.kind = FileKind::Other;
    out.what = type == FILE_TYPE_PIPE ? "a pipe" : "a device";
    // Pipes and devices have no file ID; the handle value tells them apart.
    out.device = ~0ull;
    out.file = reinterpret_cast<std::uintptr_t>(handle);
    return out;
  }
  if (!GetFileInformationByHandle(handle, &info)) {
    out.error = LastError();
    return out;
  }
  const bool folder = (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
  out.kind = folder ? FileKind::Folder : FileKind::Regular;
  out.what = folder ? "a folder" : "a regular file";
  out.device = info.dwVolumeSerialNumber;
  out.file = (std::uint64_t(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
  out.size = (std::uint64_t(info.nFileSizeHigh) << 32) | info.nFileSizeLow;
  return out;
}

// What a write to a pipe whose reader has gone fails with: Windows says
// ERROR_NO_DATA, Wine ERROR_PIPE_NOT_CONNECTED.
bool IsClosedPipe(unsigned long error) {
  return error == ERROR_NO_DATA || error == ERROR_BROKEN_PIPE || error == ERROR_PIPE_NOT_CONNECTED;
}

}  // namespace

FileStatus StatusOf(std::wstring_view path) {
  const std::wstring text(path);
  HandleCloser file{CreateFileW(text.c_str(), 0,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr)};
  if (file.handle == INVALID_HANDLE_VALUE) {
    FileStatus out;
    out.error = LastError();
    return out;
  }
  return FromHandle(file.handle);
}

FileStatus StatusOfStandardOutput() {
  const HANDLE handle = GetStdHandle(STD_OUTPUT_HANDLE);
  if (handle == nullptr || handle == INVALID_HANDLE_VALUE) {
    FileStatus out;
    out.error = {ERROR_INVALID_HANDLE, std::system_category()};
    return out;
  }
  return FromHandle(handle);
}

std::wstring FinalPath(std::wstring_view path) { return std::wstring(path); }

std::wstring FolderOf(std::wstring_view path) {
  const auto end = path.find_last_of(L"\\/:");
  if (end == std::wstring_view::npos) return L".";
  if (path[end] == L':') return std::wstring(path.substr(0, end + 1)) + L".";
  return std::wstring(path.substr(0, end == 0 ? 1 : end));
}

std::error_code ReadError(std::wstring_view path) {
  const std::wstring text(path);
  HandleCloser file{CreateFileW(text.c_str(), GENERIC_READ,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr)};
  if (file.handle == INVALID_HANDLE_VALUE) return LastError();
  if (FromHandle(file.handle).kind == FileKind::Folder)
    return std::make_error_code(std::errc::is_a_directory);
  return {};
}

std::error_code WriteError(std::wstring_view path) {
  const std::wstring text(path);
  HandleCloser file{CreateFileW(text.c_str(), GENERIC_WRITE,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                OPEN_EXISTING, 0, nullptr)};
  if (file.handle == INVALID_HANDLE_VALUE) return LastError();
  LARGE_INTEGER size{};
  if (GetFileType(file.handle) != FILE_TYPE_DISK || !GetFileSizeEx(file.handle, &size)) return {};
  // In a cluster of its own, which a full disk refuses even where the last
  // cluster has room.
  LARGE_INTEGER at{};
  at.QuadPart = (size.QuadPart + 65535) / 65536 * 65536;
  const char byte = 0;
  DWORD put = 0;
  std::error_code why;
  if (!SetFilePointerEx(file.handle, at, nullptr, FILE_BEGIN) ||
      !WriteFile(file.handle, &byte, 1, &put, nullptr))
    why = LastError();
  if (SetFilePointerEx(file.handle, size, nullptr, FILE_BEGIN)) SetEndOfFile(file.handle);
  return why;
}

std::error_code ReplaceError(std::wstring_view path) {
  const std::wstring text(path);
  const DWORD attributes = GetFileAttributesW(text.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return LastError();
  // MoveFileEx would drop the attribute with the file; the user set it to keep it.
  if (attributes & FILE_ATTRIBUTE_READONLY) return {ERROR_ACCESS_DENIED, std::system_category()};
  HandleCloser file{CreateFileW(text.c_str(), GENERIC_WRITE | DELETE,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                OPEN_EXISTING, 0, nullptr)};
  return file.handle == INVALID_HANDLE_VALUE ? LastError() : std::error_code();
}

std::error_code LinkRefusal(std::wstring_view, std::wstring*) { return {}; }

const char* RefusedOutputPlaces() {
  return "is not a regular file, its folder is missing or it cannot be replaced";
}

bool IsNotFound(const std::error_code& error) {
  return error.category() == std::system_category() &&
         (error.value() == ERROR_FILE_NOT_FOUND || error.value() == ERROR_PATH_NOT_FOUND);
}

std::string ErrorText(const std::error_code& error) {
  std::string out;
  // The generic category's texts are the C library's; the system's come
  // from the system, with a full stop and a line end. A closed pipe is what
  // a Linux user would call it, not "the pipe is being closed".
  if (error.category() != std::system_category()) {
    out = error.message();
  } else if (IsClosedPipe(static_cast<unsigned long>(error.value()))) {
    out = "the pipe was closed";
  } else {
    wchar_t* text = nullptr;
    const DWORD length = FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, static_cast<DWORD>(error.value()), 0, reinterpret_cast<wchar_t*>(&text), 0,
        nullptr);
    out = length > 0 ? ShownText(std::wstring_view(text, length))
                     : "error " + std::to_string(error.value());
    LocalFree(text);
  }
  while (!out.empty() && (out.back() == '\n' || out.back() == '\r' || out.back() == '.'))
    out.pop_back();
  if (!out.empty() && out[0] >= 'A' && out[0] <= 'Z')
    out[0] = static_cast<char>(out[0] - 'A' + 'a');
  return out;
}

std::error_code StreamWriteError(int errnoValue) {
  // The runtime turns a closed pipe's error into EINVAL.
  const unsigned long system = _doserrno;
  if (IsClosedPipe(system)) return {static_cast<int>(system), std::system_category()};
  return {errnoValue, std::generic_category()};
}

bool StandardErrorIsTerminal() { return _isatty(_fileno(stderr)) != 0; }
bool StandardInputIsTerminal() { return _isatty(_fileno(stdin)) != 0; }

std::optional<std::wstring> StandardInputPath() { return std::nullopt; }

std::wstring ExecutablePath() {
  std::wstring path(MAX_PATH, L'\0');
  for (;;) {
    const DWORD length = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
    if (length == 0) return {};
    if (length < path.size()) {
      path.resize(length);
      return path;
    }
    path.resize(path.size() * 2);
  }
}

std::wstring ScratchFolder(std::error_code& error) {
  std::wstring folder(MAX_PATH + 1, L'\0');
  const DWORD length = GetTempPathW(static_cast<DWORD>(folder.size()), folder.data());
  if (length == 0 || length > folder.size()) {
    error = LastError();
    return {};
  }
  folder.resize(length);
  // As the folder is named elsewhere: no separator at its end, but a drive's root keeps it.
  if (folder.size() > 3 && folder.back() == L'\\') folder.pop_back();
  const DWORD attributes = GetFileAttributesW(folder.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    error = LastError();
  } else if (!(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
    error = {ERROR_DIRECTORY, std::system_category()};
  }
  return folder;
}

void GuardStandardStreams() {}

}  // namespace qve::platform
