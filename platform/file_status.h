// SPDX-License-Identifier: Apache-2.0
// What the commands and the extension interface's safe output learn about a
// path before they touch it, and the state of the commands' own standard
// streams. The seed's functions never use these: their contract is to open
// what they are given.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>

#include "platform/files.h"  // NameAsStored, which the commands use too

namespace qve::platform {

enum class FileKind { Missing, Regular, Folder, Other };

struct FileStatus {
  FileKind kind = FileKind::Missing;
  std::string what;          // for messages: "a folder", "a character device", ...
  std::uint64_t device = 0;  // with `file`, the identity (volume serial and file ID on Windows)
  std::uint64_t file = 0;
  std::uint64_t size = 0;
  std::error_code error;  // why the status could not be read

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

// Nothing when the file opens for reading, else why not; a folder gives
// std::errc::is_a_directory.
std::error_code ReadError(std::wstring_view path);

// Why the file refuses to grow now ("no space left on device", "file too
// large"), nothing when it does not: one byte is written past its end and
// taken away again. The library's failed writes pass on no cause.
std::error_code WriteError(std::wstring_view path);

// Why this user may not replace the existing file `path` with another,
// nothing when it may: the file is not writable to it (read-only on
// Windows), or a sticky folder keeps it for its owner.
std::error_code ReplaceError(std::wstring_view path);

// Why writing through `path` must not follow a symbolic link on its way,
// nothing when it may: a link in a sticky world-writable folder (/tmp)
// whose owner is neither this user nor the folder's, which another user
// may have planted to point at a file of ours. The rule of Linux's
// fs.protected_symlinks, applied whether or not the system applies it, to
// every link the path leads through; `link`, when given, gets the first
// such link. Nothing on Windows, where no such folder exists.
std::error_code LinkRefusal(std::wstring_view path, std::wstring* link = nullptr);

// The places an output is refused in, as help text says them: the links of
// LinkRefusal where there are any.
const char* RefusedOutputPlaces();

// True for the error of a name that does not exist (in a folder that does).
bool IsNotFound(const std::error_code& error);

// The system's text for an error, in lower case: "no space left on device".
// UTF-8 whatever the code page.
std::string ErrorText(const std::error_code& error);

// Why a write to a C stream failed, from the errno it left: on Windows the
// system's own error where the runtime's errno loses it (a closed pipe is
// EINVAL there).
std::error_code StreamWriteError(int errnoValue);

bool StandardErrorIsTerminal();
bool StandardInputIsTerminal();

// A path that opens the command's standard input again, for a reader that
// takes a path: a pipe is then read on from where it stands, a file from
// its start. Nothing where the system gives no such path (anything but a
// pipe or a file; a named FIFO, whose opening would wait for a writer that
// may be gone; on Windows, where a pipe has no name, always).
std::optional<std::wstring> StandardInputPath();

// The program's own file, to find what is installed beside it.
std::wstring ExecutablePath();

// The folder for scratch files: on Linux $TMPDIR (or TMP, TEMP, TEMPDIR, as
// the C++ library reads them), else /tmp; on Windows the user's temporary
// folder. Given even when it is no folder, for messages, with `error` set.
std::wstring ScratchFolder(std::error_code& error);

// Call first thing: a standard stream the command was started without gets
// a descriptor that refuses writes, so no file the command opens can become
// its standard output and a write to it fails instead of vanishing; and a
// pipe whose reader has gone makes a write fail (EPIPE) rather than end the
// process (SIGPIPE), so the command can say so and exit with its status; so
// does a write past the file-size limit (EFBIG rather than SIGXFSZ).
void GuardStandardStreams();

}  // namespace qve::platform
