// SPDX-License-Identifier: Apache-2.0
// Binary files named by wide path. On Linux the path reaches the file system
// as UTF-8; a path that cannot be converted simply fails like a missing file.
//
// Error style of platform/: nothing throws for a file that cannot be used.
// What the system refuses comes back as a std::error_code (errno values on
// Linux, Windows error codes on Windows), never as a text; here streams are
// left closed and the size and truncation report through it, and the
// commands word it with ErrorText (file_status.h).
#pragma once

#include <cstdint>
#include <fstream>
#include <iostream>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>

namespace qve::platform {

// A file open for binary reading or writing. Windows opens it so that
// others may delete or rename it meanwhile, as Linux always lets them: a
// Ctrl-C handler must be able to remove a temporary output still open here.
class FileStream : public std::iostream {
 public:
  FileStream() : std::iostream(nullptr) {}
  bool is_open() const { return buffer_ != nullptr && buffer_->is_open(); }
  void close() {
    if (buffer_ != nullptr && buffer_->close() == nullptr) setstate(std::ios::failbit);
  }

 private:
  friend bool OpenForReading(FileStream& stream, std::wstring_view path);
  friend bool OpenForWriting(FileStream& stream, std::wstring_view path);
  // Takes `buffer` when it is open; false, and a stream that fails, if not.
  bool Attach(std::unique_ptr<std::filebuf> buffer) {
    buffer_ = buffer != nullptr && buffer->is_open() ? std::move(buffer) : nullptr;
    rdbuf(buffer_.get());
    return buffer_ != nullptr;
  }

  std::unique_ptr<std::filebuf> buffer_;
};

// Opens for binary reading; false, with the stream closed, on failure.
bool OpenForReading(FileStream& stream, std::wstring_view path);

// Creates or truncates the file and opens it for binary writing.
bool OpenForWriting(FileStream& stream, std::wstring_view path);

// Which file a path names, as the system numbers it: device and inode, or
// volume serial number and file index.
struct FileIdentity {
  std::uint64_t device = 0;
  std::uint64_t file = 0;

  bool operator==(const FileIdentity&) const = default;
};

// Of the file `path` names, links followed; nothing when it names none or
// the system does not tell (a device on Windows).
std::optional<FileIdentity> IdentityOf(std::wstring_view path);

// The path with its last component as the file system stores it, so that a
// name typed in another case or short form sorts and shows as the file's
// own: on Windows the stored name (links are not followed), on Linux `path`
// itself. `path` as it is where it names nothing.
std::wstring NameAsStored(std::wstring_view path);

// Fails for anything but a regular file.
std::uint64_t FileSize(std::wstring_view path, std::error_code& error);

void TruncateFile(std::wstring_view path, std::uint64_t size, std::error_code& error);

}  // namespace qve::platform
