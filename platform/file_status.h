// What the commands learn about a path before they touch it, and the state
// of their own standard streams. The library never uses these: its contract
// is to open what it is given.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace qve::platform {

enum class FileKind { Missing, Regular, Folder, Other };

struct FileStatus {
  FileKind kind = FileKind::Missing;
  std::string what;          // for messages: "a folder", "a character device", ...
  std::uint64_t device = 0;  // with `file`, the identity (volume serial and file ID on Windows)
  std::uint64_t file = 0;
  std::uint64_t size = 0;
  int error = 0;  // the system's error code when the status could not be read

  bool SameFileAs(const FileStatus& other) const {
    return kind != FileKind::Missing && other.kind != FileKind::Missing && device == other.device &&
           file == other.file;
  }
};

// Follows symbolic links, as opening the path would. A path that cannot be
// looked up is Missing with `error` set.
FileStatus StatusOf(std::wstring_view path);
FileStatus StatusOfStandardOutput();

// The path a symbolic link chain ends at (the path itself when it is none),
// so that replacing a file keeps the links to it.
std::wstring FinalPath(std::wstring_view path);

// The folder that holds `path` ("." for a bare name).
std::wstring FolderOf(std::wstring_view path);

// Empty when the file opens for reading, else why not ("permission denied").
std::string WhyUnreadable(std::wstring_view path);

// Why the file refuses to grow now ("no space left on device", "file too
// large"), empty when it does not: one byte is written past its end and
// taken away again. The library's failed writes pass on no cause.
std::string WhyWritesFail(std::wstring_view path);

// The system's text for an error code, in lower case.
std::string ErrorText(int error);

bool StandardErrorIsTerminal();

// Call first thing: a standard stream the command was started without gets
// a descriptor that refuses writes, so no file the command opens can become
// its standard output and a write to it fails instead of vanishing.
void GuardStandardStreams();

}  // namespace qve::platform
