// SPDX-License-Identifier: Apache-2.0
#include "platform/file_status.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "platform/paths.h"

namespace qve::platform {

namespace {

const char* KindText(mode_t mode) {
  if (S_ISDIR(mode)) return "a folder";
  if (S_ISCHR(mode)) return "a character device";
  if (S_ISBLK(mode)) return "a block device";
  if (S_ISFIFO(mode)) return "a FIFO";
  if (S_ISSOCK(mode)) return "a socket";
  return "a regular file";
}

std::error_code Errno() { return {errno, std::generic_category()}; }

FileStatus FromStat(int result, const struct stat& status) {
  FileStatus out;
  if (result != 0) {
    out.error = Errno();
    return out;
  }
  out.kind = S_ISREG(status.st_mode)   ? FileKind::Regular
             : S_ISDIR(status.st_mode) ? FileKind::Folder
                                       : FileKind::Other;
  out.what = KindText(status.st_mode);
  out.device = status.st_dev;
  out.file = status.st_ino;
  out.size = static_cast<std::uint64_t>(status.st_size);
  return out;
}

}  // namespace

FileStatus StatusOf(std::wstring_view path) {
  const auto narrow = ToNarrow(path);
  struct stat status {};
  if (!narrow) {
    errno = EILSEQ;
    return FromStat(-1, status);
  }
  return FromStat(::stat(narrow->c_str(), &status), status);
}

FileStatus StatusOfStandardOutput() {
  struct stat status {};
  return FromStat(::fstat(STDOUT_FILENO, &status), status);
}

std::wstring FinalPath(std::wstring_view path) {
  const auto narrow = ToNarrow(path);
  if (!narrow) return std::wstring(path);
  std::filesystem::path current(*narrow);
  std::error_code error;
  // A chain of links may also end at a name that does not exist yet.
  for (int hops = 0; hops < 40 && std::filesystem::is_symlink(current, error); ++hops) {
    const auto target = std::filesystem::read_symlink(current, error);
    if (error) break;
    current = target.is_absolute() ? target : current.parent_path() / target;
  }
  return ToWide(current.string()).value_or(std::wstring(path));
}

std::wstring FolderOf(std::wstring_view path) {
  const auto slash = path.find_last_of(L'/');
  if (slash == std::wstring_view::npos) return L".";
  if (slash == 0) return L"/";
  return std::wstring(path.substr(0, slash));
}

std::error_code ReadError(std::wstring_view path) {
  const auto narrow = ToNarrow(path);
  if (!narrow) return std::make_error_code(std::errc::invalid_argument);
  const int fd = ::open(narrow->c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
  if (fd < 0) return Errno();
  struct stat status {};
  const bool folder = ::fstat(fd, &status) == 0 && S_ISDIR(status.st_mode);
  ::close(fd);
  return folder ? std::make_error_code(std::errc::is_a_directory) : std::error_code();
}

std::error_code WriteError(std::wstring_view path) {
  const auto narrow = ToNarrow(path);
  if (!narrow) return {};
  const int fd = ::open(narrow->c_str(), O_WRONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
  if (fd < 0) return Errno();
  struct stat status {};
  std::error_code why;
  if (::fstat(fd, &status) == 0 && S_ISREG(status.st_mode)) {
    // In a block of its own, which a full disk refuses even where the last
    // block has room; past the file-size limit, EFBIG rather than SIGXFSZ.
    const off_t block = 1 << 16;
    struct sigaction ignore {
    }, previous{};
    ignore.sa_handler = SIG_IGN;
    ::sigaction(SIGXFSZ, &ignore, &previous);
    const char byte = 0;
    if (::pwrite(fd, &byte, 1, (status.st_size + block - 1) / block * block) != 1) why = Errno();
    const int restored = ::ftruncate(fd, status.st_size);
    static_cast<void>(restored);
    ::sigaction(SIGXFSZ, &previous, nullptr);
  }
  ::close(fd);
  return why;
}

std::error_code ReplaceError(std::wstring_view path) {
  const auto narrow = ToNarrow(path);
  if (!narrow) return std::make_error_code(std::errc::invalid_argument);
  // As the effective user: what a set-user-ID run may do is what counts.
  if (::faccessat(AT_FDCWD, narrow->c_str(), W_OK, AT_EACCESS) != 0) return Errno();
  struct stat file {
  }, folder{};
  const std::string folderName = ToNarrow(FolderOf(path)).value_or(".");
  if (::stat(narrow->c_str(), &file) != 0 || ::stat(folderName.c_str(), &folder) != 0)
    return Errno();
  const uid_t user = ::geteuid();
  if ((folder.st_mode & S_ISVTX) && user != 0 && user != file.st_uid && user != folder.st_uid)
    return std::make_error_code(std::errc::operation_not_permitted);
  return {};
}

namespace {

std::string Joined(const std::string& folder, const std::string& name) {
  if (folder.empty()) return name;
  return folder == "/" ? "/" + name : folder + "/" + name;
}

// The folder above `folder`, which holds no link: by its text, but past
// the working folder's start by "..".
std::string Above(const std::string& folder) {
  if (folder.empty()) return "..";
  if (folder == "/") return folder;
  const auto slash = folder.rfind('/');
  const std::string last = slash == std::string::npos ? folder : folder.substr(slash + 1);
  if (last == "..") return folder + "/..";
  if (slash == std::string::npos) return "";
  return slash == 0 ? "/" : folder.substr(0, slash);
}

// Pushes the components of `path` so that the first is taken first.
void PushComponents(const std::string& path, std::vector<std::string>& rest) {
  std::vector<std::string> components;
  for (std::size_t from = 0; from <= path.size();) {
    const auto slash = std::min(path.find('/', from), path.size());
    if (slash > from) components.push_back(path.substr(from, slash - from));
    from = slash + 1;
  }
  rest.insert(rest.end(), components.rbegin(), components.rend());
}

}  // namespace

std::error_code LinkRefusal(std::wstring_view path, std::wstring* link) {
  const auto narrow = ToNarrow(path);
  if (!narrow || narrow->empty()) return {};
  // The path is walked as the system resolves it, every link it meets
  // replaced by its target, so that `reached` names a folder without links.
  std::vector<std::string> rest;
  PushComponents(*narrow, rest);
  std::string reached = narrow->front() == '/' ? "/" : "";
  const uid_t user = ::geteuid();
  for (int links = 0; !rest.empty();) {
    const std::string name = std::move(rest.back());
    rest.pop_back();
    if (name == ".") continue;
    if (name == "..") {
      reached = Above(reached);
      continue;
    }
    const std::string next = Joined(reached, name);
    struct stat entry {
    }, folder{};
    // What does not exist leads nowhere; opening it will say why.
    if (::lstat(next.c_str(), &entry) != 0) return {};
    if (!S_ISLNK(entry.st_mode)) {
      reached = next;
      continue;
    }
    if (::stat(reached.empty() ? "." : reached.c_str(), &folder) != 0) return {};
    if ((folder.st_mode & S_ISVTX) && (folder.st_mode & S_IWOTH) && entry.st_uid != user &&
        entry.st_uid != folder.st_uid) {
      if (link != nullptr) *link = ArgumentPath(next);
      return std::make_error_code(std::errc::permission_denied);
    }
    std::string target(std::size_t(entry.st_size > 0 ? entry.st_size : 4095) + 1, '\0');
    const ssize_t length = ::readlink(next.c_str(), target.data(), target.size());
    // Past the system's limit of links, opening fails with ELOOP.
    if (length <= 0 || std::size_t(length) >= target.size() || ++links > 40) return {};
    target.resize(std::size_t(length));
    // From the root; assigned by character, which g++ 12 -O3 otherwise
    // takes for an overlapping copy (-Wrestrict).
    if (target.front() == '/') reached.assign(1, '/');
    PushComponents(target, rest);
  }
  return {};
}

bool IsNotFound(const std::error_code& error) {
  return error == std::errc::no_such_file_or_directory;
}

std::string ErrorText(const std::error_code& error) {
  std::string text = error.message();
  if (!text.empty()) text[0] = static_cast<char>(std::tolower(static_cast<unsigned char>(text[0])));
  return text;
}

std::error_code StreamWriteError(int errnoValue) { return {errnoValue, std::generic_category()}; }

bool StandardErrorIsTerminal() { return ::isatty(STDERR_FILENO) == 1; }
bool StandardInputIsTerminal() { return ::isatty(STDIN_FILENO) == 1; }

std::optional<std::wstring> StandardInputPath() {
  struct stat status {
  }, again{};
  constexpr const char* kPath = "/proc/self/fd/0";
  if (::fstat(STDIN_FILENO, &status) != 0 ||
      !(S_ISFIFO(status.st_mode) || S_ISREG(status.st_mode)) || ::stat(kPath, &again) != 0 ||
      again.st_ino != status.st_ino)
    return std::nullopt;
  // A named FIFO opens again only while a writer holds it, and its writer
  // may have written all and gone; an anonymous pipe ("pipe:[N]") opens as
  // it stands.
  char target[6] = {};
  if (S_ISFIFO(status.st_mode) && (::readlink(kPath, target, sizeof target) != sizeof target ||
                                   std::string_view(target, sizeof target) != "pipe:["))
    return std::nullopt;
  return ToWide(kPath);
}

std::wstring ExecutablePath() {
  std::error_code error;
  const auto path = std::filesystem::read_symlink("/proc/self/exe", error);
  return error ? std::wstring() : ToWide(path.string()).value_or(std::wstring());
}

std::wstring ScratchFolder(std::error_code& error) {
  std::string folder = "/tmp";
  for (const char* variable : {"TMPDIR", "TMP", "TEMP", "TEMPDIR"}) {
    const char* value = std::getenv(variable);
    if (value != nullptr && *value != '\0') {
      folder = value;
      break;
    }
  }
  struct stat status {};
  if (::stat(folder.c_str(), &status) != 0) {
    error = Errno();
  } else if (!S_ISDIR(status.st_mode)) {
    error = std::make_error_code(std::errc::not_a_directory);
  }
  return ArgumentPath(folder);
}

void GuardStandardStreams() {
  ::signal(SIGPIPE, SIG_IGN);
  // A write past the file-size limit then fails (and is told) instead of
  // ending the process with a named temporary file left behind.
  ::signal(SIGXFSZ, SIG_IGN);
  for (int fd = 0; fd <= 2; ++fd) {
    if (::fcntl(fd, F_GETFD) >= 0 || errno != EBADF) continue;
    // Read-only, so a write to it fails with EBADF as on a closed stream.
    const int null = ::open("/dev/null", O_RDONLY);
    if (null >= 0 && null != fd) {
      ::dup2(null, fd);
      ::close(null);
    }
  }
}

const char* RefusedOutputPlaces() {
  return "is not a regular file, its folder is missing, it cannot be replaced, or it leads "
         "through another user's link in a sticky folder";
}

}  // namespace qve::platform
