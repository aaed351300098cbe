// SPDX-License-Identifier: Apache-2.0
#include "platform/temp_output.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <mutex>
#include <random>
#include <string>
#include <vector>

#include "platform/file_status.h"
#include "platform/paths.h"

namespace qve::platform {

namespace {

std::error_code LastError() { return {errno, std::generic_category()}; }

// Named files to remove when a signal ends the process, however many are
// live at once. The handler reads only what is published through `used` and
// `next`, so it needs no lock; blocks are never freed, as it may be reading
// one.
constexpr std::size_t kNameRoom = 4096;  // PATH_MAX: a longer path does not open

struct NamedSlot {
  std::array<char, kNameRoom> name{};
  std::atomic<bool> used{false};
};
struct SlotBlock {
  std::array<NamedSlot, 16> slots;
  std::atomic<SlotBlock*> next{nullptr};
};
SlotBlock gNamed;

constexpr int kRemovingSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGPIPE};
// What each signal did before, indexed as kRemovingSignals; written once,
// before the handler is installed.
struct sigaction gPrevious[std::size(kRemovingSignals)];

extern "C" void RemoveNamedAndDie(int signal) {
  for (SlotBlock* block = &gNamed; block != nullptr; block = block->next.load()) {
    for (auto& slot : block->slots) {
      if (slot.used.load()) ::unlink(slot.name.data());
    }
  }
  for (std::size_t i = 0; i < std::size(kRemovingSignals); ++i) {
    const auto handler = gPrevious[i].sa_handler;
    if (kRemovingSignals[i] != signal || handler == SIG_DFL || handler == SIG_IGN) continue;
    handler(signal);  // another copy of this code, or the program's own
    return;
  }
  ::signal(signal, SIG_DFL);
  ::raise(signal);
}

class NamedGuard {
 public:
  explicit NamedGuard(const std::string& name) {
    if (name.size() >= kNameRoom) return;
    static std::mutex claim;
    const std::lock_guard<std::mutex> lock(claim);
    for (SlotBlock* block = &gNamed;; block = block->next.load()) {
      for (auto& slot : block->slots) {
        if (slot.used.load()) continue;
        std::memcpy(slot.name.data(), name.c_str(), name.size() + 1);
        slot.used.store(true);
        slot_ = &slot;
        return;
      }
      if (block->next.load() == nullptr) block->next.store(new SlotBlock);
    }
  }
  ~NamedGuard() {
    if (slot_ != nullptr) slot_->used.store(false);
  }
  NamedGuard(const NamedGuard&) = delete;
  NamedGuard& operator=(const NamedGuard&) = delete;

 private:
  NamedSlot* slot_ = nullptr;
};

// A hidden name of fixed length, so that it fits wherever the folder does.
std::string RandomName(const std::string& folder) {
  static thread_local std::mt19937_64 random{std::random_device{}()};
  static constexpr char kDigits[] = "0123456789abcdefghijklmnopqrstuvwxyz";
  std::string name = folder + "/.qve-";
  for (int i = 0; i < 10; ++i) name += kDigits[random() % 36];
  return name;
}

// Read, not set and set back: the mask is the process's, and a file another
// thread of the host created meanwhile would get none.
mode_t UsualMode() {
  std::ifstream status("/proc/self/status");
  for (std::string line; std::getline(status, line);) {
    if (line.rfind("Umask:", 0) == 0)
      return 0666 & ~static_cast<mode_t>(std::strtoul(line.c_str() + 6, nullptr, 8));
  }
  // A kernel before 4.7 does not show it.
  const mode_t mask = ::umask(0);
  ::umask(mask);
  return 0666 & ~mask;
}

// Copies `from` to its end into `to`; from offset `at`, or from where `from`
// stands when `at` is -1.
void Copy(int from, off_t at, int to, std::error_code& error) {
  std::vector<char> buffer(1 << 18);
  for (;;) {
    const ssize_t got = at < 0 ? ::read(from, buffer.data(), buffer.size())
                               : ::pread(from, buffer.data(), buffer.size(), at);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) {
      error = LastError();
      return;
    }
    if (got == 0) return;
    if (at >= 0) at += got;
    for (ssize_t done = 0; done < got;) {
      const ssize_t put = ::write(to, buffer.data() + done, std::size_t(got - done));
      if (put < 0 && errno == EINTR) continue;
      if (put < 0) {
        error = LastError();
        return;
      }
      done += put;
    }
  }
}

class LinuxTempOutput final : public TempOutput {
 public:
  LinuxTempOutput(int fd, std::string folder, std::string name, std::string claimed)
      : fd_(fd), folder_(std::move(folder)), name_(std::move(name)), claimed_(std::move(claimed)) {
    if (!name_.empty()) guard_ = std::make_unique<NamedGuard>(name_);
    path_ = *ToWide(name_.empty() ? "/proc/self/fd/" + std::to_string(fd_) : name_);
  }
  ~LinuxTempOutput() override {
    if (!name_.empty()) ::unlink(name_.c_str());
    ::close(fd_);
  }

  const std::wstring& path() const override { return path_; }

  std::uint64_t Size() const override {
    struct stat status {};
    return ::fstat(fd_, &status) == 0 ? static_cast<std::uint64_t>(status.st_size) : 0;
  }

  void Write(std::span<const std::uint8_t> bytes, std::error_code& error) override {
    for (std::size_t done = 0; done < bytes.size();) {
      const ssize_t put = ::write(fd_, bytes.data() + done, bytes.size() - done);
      if (put < 0 && errno == EINTR) continue;
      if (put < 0) {
        error = LastError();
        return;
      }
      done += std::size_t(put);
    }
  }

  void Truncate(std::uint64_t size, std::error_code& error) override {
    if (::ftruncate(fd_, static_cast<off_t>(size)) != 0) error = LastError();
  }

  void Publish(std::wstring_view target, std::error_code& error, Durability durability) override {
    const auto narrow = ToNarrow(target);
    if (!narrow) {
      error = std::make_error_code(std::errc::invalid_argument);
      return;
    }
    if (!Prepare(*narrow, durability, error)) return;
    if (::rename(name_.c_str(), narrow->c_str()) != 0) {
      error = LastError();
      return;
    }
    Published(durability, error);
  }

  bool PublishIfUnchanged(std::wstring_view target, const std::optional<std::string>& expected,
                          std::error_code& error, Durability durability) override {
    const auto narrow = ToNarrow(target);
    if (!narrow) {
      error = std::make_error_code(std::errc::invalid_argument);
      return false;
    }
    if (!Prepare(*narrow, durability, error)) return false;
    const unsigned how = expected ? RENAME_EXCHANGE : RENAME_NOREPLACE;
    if (::renameat2(AT_FDCWD, name_.c_str(), AT_FDCWD, narrow->c_str(), how) != 0) {
      if (errno == EEXIST || errno == ENOENT) return false;  // there, or gone
      if (errno != EINVAL && errno != ENOSYS) {
        error = LastError();
        return false;
      }
      // A file system that cannot swap names: the target is read just before.
      if (ContentOf(*narrow) != expected) return false;
      if (::rename(name_.c_str(), narrow->c_str()) != 0) {
        error = LastError();
        return false;
      }
    } else if (expected) {
      // Our name now holds what the target held.
      if (ContentOf(name_) != expected) {
        if (::renameat2(AT_FDCWD, name_.c_str(), AT_FDCWD, narrow->c_str(), RENAME_EXCHANGE) != 0)
          error = LastError();
        return false;
      }
      ::unlink(name_.c_str());
    }
    Published(durability, error);
    return true;
  }

 private:
  // The whole content of the file at `path`, nothing when it cannot be read.
  static std::optional<std::string> ContentOf(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
    if (fd < 0) return std::nullopt;
    std::string content;
    char buffer[1 << 12];
    ssize_t got;
    while ((got = ::read(fd, buffer, sizeof buffer)) > 0) content.append(buffer, std::size_t(got));
    ::close(fd);
    if (got < 0) return std::nullopt;
    return content;
  }

  // Gives the file the target's mode and owner, a name beside it, and with
  // Synced its bytes on the disk.
  bool Prepare(const std::string& narrow, Durability durability, std::error_code& error) {
    struct stat existing {};
    if (::stat(narrow.c_str(), &existing) == 0) {
      // Owner and group first: a chown clears the set-ID bits.
      if (::fchown(fd_, existing.st_uid, existing.st_gid) != 0 && errno != EPERM) {
        error = LastError();
        return false;
      }
      ::fchmod(fd_, existing.st_mode & 07777);
    } else {
      ::fchmod(fd_, UsualMode());
    }
    if (name_.empty()) {
      // A name of our own first, then rename: linkat never replaces.
      std::string linked;
      for (int attempt = 0;; ++attempt) {
        linked = claimed_.empty() ? RandomName(folder_) : claimed_;
        const std::string self = "/proc/self/fd/" + std::to_string(fd_);
        if (::linkat(AT_FDCWD, self.c_str(), AT_FDCWD, linked.c_str(), AT_SYMLINK_FOLLOW) == 0)
          break;
        const int failed = errno;
        if (failed == EEXIST && !claimed_.empty()) ::unlink(linked.c_str());
        if (failed != EEXIST || attempt == 100) {
          error = {failed, std::generic_category()};
          return false;
        }
      }
      name_ = linked;
      guard_ = std::make_unique<NamedGuard>(name_);
    }
    if (durability == Durability::Synced && ::fsync(fd_) != 0) {
      error = LastError();
      return false;
    }
    return true;
  }

  // The file has the target's name now, and no name of its own.
  void Published(Durability durability, std::error_code& error) {
    name_.clear();
    guard_.reset();
    if (durability == Durability::Synced) {
      const int folder = ::open(folder_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
      if (folder < 0 || ::fsync(folder) != 0) error = LastError();
      if (folder >= 0) ::close(folder);
    }
  }

 public:
  void CopyToStandardOutput(std::error_code& error) override { Copy(fd_, 0, STDOUT_FILENO, error); }

  void CopyFromStandardInput(std::error_code& error) override {
    Copy(STDIN_FILENO, -1, fd_, error);
  }

 private:
  int fd_;
  std::string folder_;
  std::string name_;  // empty while the file has no name
  std::string claimed_;
  std::wstring path_;
  std::unique_ptr<NamedGuard> guard_;
};

bool ProcSeesFile(int fd) {
  struct stat status {};
  return ::stat(("/proc/self/fd/" + std::to_string(fd)).c_str(), &status) == 0;
}

}  // namespace

void TempOutput::RemoveOnSignals() {
  static std::once_flag installed;
  std::call_once(installed, [] {
    struct sigaction action {};
    action.sa_handler = RemoveNamedAndDie;
    sigemptyset(&action.sa_mask);
    for (const int signal : kRemovingSignals) sigaddset(&action.sa_mask, signal);
    // A signal the process ignores does not end it, so it stays ignored:
    // SIGPIPE in the commands, SIGHUP under nohup.
    for (std::size_t i = 0; i < std::size(kRemovingSignals); ++i) {
      if (::sigaction(kRemovingSignals[i], nullptr, &gPrevious[i]) != 0 ||
          gPrevious[i].sa_handler == SIG_IGN || (gPrevious[i].sa_flags & SA_SIGINFO) != 0)
        continue;
      ::sigaction(kRemovingSignals[i], &action, nullptr);
    }
  });
}

// Both accesses are the same here: an unnamed file opens only through
// /proc/self/fd (this process and its debuggers); a named one, where the
// file system has no unnamed files, by its owner too.
std::unique_ptr<TempOutput> TempOutput::Create(std::wstring_view folder, std::error_code& error,
                                               TempNaming naming, TempAccess,
                                               std::wstring_view claimed) {
  const auto narrow = ToNarrow(folder);
  const auto claimedName = ToNarrow(claimed);
  if (!narrow || !claimedName) {
    error = std::make_error_code(std::errc::invalid_argument);
    return nullptr;
  }
  // Not into a folder that another user's link leads to.
  if ((error = LinkRefusal(folder))) return nullptr;
  // Owner-only while it holds what nobody has vouched for yet.
  if (naming == TempNaming::Unnamed) {
    const int fd = ::open(narrow->c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
    if (fd >= 0 && ProcSeesFile(fd))
      return std::make_unique<LinuxTempOutput>(fd, *narrow, "", *claimedName);
    if (fd >= 0) {
      ::close(fd);
    } else if (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL) {
      error = LastError();
      return nullptr;
    }
  }
  for (int attempt = 0; attempt < 100; ++attempt) {
    std::string name = claimedName->empty() ? RandomName(*narrow) : *claimedName;
    const int fd = ::open(name.c_str(), O_CREAT | O_EXCL | O_RDWR | O_CLOEXEC, 0600);
    if (fd >= 0) return std::make_unique<LinuxTempOutput>(fd, *narrow, name, *claimedName);
    if (errno != EEXIST) break;
    if (!claimedName->empty()) ::unlink(name.c_str());
  }
  error = LastError();
  return nullptr;
}

}  // namespace qve::platform
