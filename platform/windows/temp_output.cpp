// SPDX-License-Identifier: Apache-2.0
#include "platform/temp_output.h"

#include <windows.h>

#include <algorithm>
#include <list>
#include <mutex>
#include <optional>
#include <random>
#include <string>
#include <vector>

namespace qve::platform {

namespace {

std::error_code LastError() { return {static_cast<int>(GetLastError()), std::system_category()}; }

// Named files to remove when Ctrl-C, Ctrl-Break or closing the console ends
// the process, however many are live at once. The handler runs on a thread
// of its own, so it may wait for the lock.
std::mutex gNamesLock;
std::list<std::wstring> gNames;

BOOL WINAPI RemoveNamed(DWORD) {
  const std::lock_guard<std::mutex> lock(gNamesLock);
  for (const std::wstring& name : gNames) DeleteFileW(name.c_str());
  return FALSE;  // the default handler still ends the process
}

std::list<std::wstring>::iterator Claim(const std::wstring& name) {
  const std::lock_guard<std::mutex> lock(gNamesLock);
  return gNames.insert(gNames.end(), name);
}

void Release(std::list<std::wstring>::iterator slot) {
  const std::lock_guard<std::mutex> lock(gNamesLock);
  gNames.erase(slot);
}

std::wstring RandomName(const std::wstring& folder) {
  static thread_local std::mt19937_64 random{std::random_device{}()};
  static constexpr wchar_t kDigits[] = L"0123456789abcdefghijklmnopqrstuvwxyz";
  std::wstring name = folder;
  if (!name.empty() && name.back() != L'\\' && name.back() != L'/') name += L'\\';
  name += L".qve-";
  for (int i = 0; i < 10; ++i) name += kDigits[random() % 36];
  return name;
}

// Copies what `from` holds from where it stands into `to`. A pipe whose
// writer has closed it ends as a file does.
void Copy(HANDLE from, HANDLE to, std::error_code& error) {
  std::vector<char> buffer(1 << 18);
  for (;;) {
    DWORD got = 0;
    if (!ReadFile(from, buffer.data(), static_cast<DWORD>(buffer.size()), &got, nullptr)) {
      if (GetLastError() != ERROR_BROKEN_PIPE && GetLastError() != ERROR_HANDLE_EOF)
        error = LastError();
      return;
    }
    if (got == 0) return;
    for (DWORD done = 0; done < got;) {
      DWORD put = 0;
      if (!WriteFile(to, buffer.data() + done, got - done, &put, nullptr)) {
        error = LastError();
        return;
      }
      done += put;
    }
  }
}

class WindowsTempOutput final : public TempOutput {
 public:
  // `held`: the handle the file was made with, kept, or INVALID_HANDLE_VALUE.
  WindowsTempOutput(std::wstring name, HANDLE held)
      : name_(std::move(name)), slot_(Claim(name_)), held_(held) {}
  ~WindowsTempOutput() override {
    Let();
    if (!published_) DeleteFileW(name_.c_str());
    Release(slot_);
  }

  const std::wstring& path() const override { return name_; }

  void Write(std::span<const std::uint8_t> bytes, std::error_code& error) override {
    for (std::size_t done = 0; done < bytes.size();) {
      const DWORD part = static_cast<DWORD>(std::min<std::size_t>(bytes.size() - done, 1u << 30));
      DWORD put = 0;
      if (held_ == INVALID_HANDLE_VALUE ||
          !WriteFile(held_, bytes.data() + done, part, &put, nullptr)) {
        error = held_ == INVALID_HANDLE_VALUE ? std::make_error_code(std::errc::bad_file_descriptor)
                                              : LastError();
        return;
      }
      done += put;
    }
  }

  void Truncate(std::uint64_t size, std::error_code& error) override {
    LARGE_INTEGER at{};
    at.QuadPart = static_cast<LONGLONG>(size);
    if (held_ == INVALID_HANDLE_VALUE || !SetFilePointerEx(held_, at, nullptr, FILE_BEGIN) ||
        !SetEndOfFile(held_))
      error = held_ == INVALID_HANDLE_VALUE ? std::make_error_code(std::errc::bad_file_descriptor)
                                            : LastError();
  }

  std::uint64_t Size() const override {
    if (LARGE_INTEGER size{}; held_ != INVALID_HANDLE_VALUE && GetFileSizeEx(held_, &size))
      return static_cast<std::uint64_t>(size.QuadPart);
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (!GetFileAttributesExW(name_.c_str(), GetFileExInfoStandard, &data)) return 0;
    return (std::uint64_t(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
  }

  void Publish(std::wstring_view target, std::error_code& error, Durability durability) override {
    const std::wstring text(target);
    Let();
    SetFileAttributesW(name_.c_str(), FILE_ATTRIBUTE_NORMAL);
    DWORD flags = MOVEFILE_REPLACE_EXISTING;
    if (durability == Durability::Synced) {
      const HANDLE file = CreateFileW(name_.c_str(), GENERIC_WRITE,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                      nullptr, OPEN_EXISTING, 0, nullptr);
      const bool flushed = file != INVALID_HANDLE_VALUE && FlushFileBuffers(file);
      if (!flushed) error = LastError();
      if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
      if (!flushed) return;
      flags |= MOVEFILE_WRITE_THROUGH;
    }
    if (!MoveFileExW(name_.c_str(), text.c_str(), flags)) {
      error = LastError();
      return;
    }
    published_ = true;
  }

  bool PublishIfUnchanged(std::wstring_view target, const std::optional<std::string>& expected,
                          std::error_code& error, Durability durability) override {
    // No swap of two names in one step here: the target is read right before.
    if (ContentOf(std::wstring(target)) != expected) return false;
    Publish(target, error, durability);
    return !error;
  }

  void CopyToStandardOutput(std::error_code& error) override {
    CopyWithStream(GENERIC_READ, GetStdHandle(STD_OUTPUT_HANDLE), false, error);
  }

  void CopyFromStandardInput(std::error_code& error) override {
    CopyWithStream(FILE_APPEND_DATA, GetStdHandle(STD_INPUT_HANDLE), true, error);
  }

 private:
  // Copies between the file, opened anew with `access`, and a standard
  // stream: into the file when `intoFile`, else out of it.
  void CopyWithStream(DWORD access, HANDLE stream, bool intoFile, std::error_code& error) {
    const HANDLE file =
        CreateFileW(name_.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                    nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
      error = LastError();
      return;
    }
    if (intoFile)
      Copy(stream, file, error);
    else
      Copy(file, stream, error);
    CloseHandle(file);
  }

  static std::optional<std::string> ContentOf(const std::wstring& path) {
    const HANDLE file = CreateFileW(path.c_str(), GENERIC_READ,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                    OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return std::nullopt;
    std::string content;
    char buffer[1 << 12];
    DWORD got = 0;
    bool ok;
    while ((ok = ReadFile(file, buffer, sizeof buffer, &got, nullptr)) && got > 0)
      content.append(buffer, got);
    CloseHandle(file);
    if (!ok) return std::nullopt;
    return content;
  }

  // Closes the held handle: the file can be named, moved and removed again.
  void Let() {
    if (held_ != INVALID_HANDLE_VALUE) CloseHandle(held_);
    held_ = INVALID_HANDLE_VALUE;
  }

  std::wstring name_;
  std::list<std::wstring>::iterator slot_;
  HANDLE held_;
  bool published_ = false;
};

}  // namespace

// The handlers before it are still called: it returns FALSE.
void TempOutput::RemoveOnSignals() {
  static std::once_flag installed;
  std::call_once(installed, [] { SetConsoleCtrlHandler(RemoveNamed, TRUE); });
}

// Always named: Windows has no file without a name.
// HandleOnly keeps the handle it was made with, which shares only its
// deletion (so that a Ctrl-C still removes it): nobody else reads or writes
// it until Publish lets it go.
std::unique_ptr<TempOutput> TempOutput::Create(std::wstring_view folder, std::error_code& error,
                                               TempNaming, TempAccess access,
                                               std::wstring_view claimed) {
  const std::wstring base(folder);
  const bool hold = access == TempAccess::HandleOnly;
  for (int attempt = 0; attempt < 100; ++attempt) {
    std::wstring name = claimed.empty() ? RandomName(base) : std::wstring(claimed);
    const HANDLE file = CreateFileW(
        name.c_str(), hold ? GENERIC_READ | GENERIC_WRITE : GENERIC_WRITE,
        hold ? FILE_SHARE_DELETE : 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_HIDDEN, nullptr);
    if (file != INVALID_HANDLE_VALUE) {
      if (!hold) CloseHandle(file);
      return std::make_unique<WindowsTempOutput>(std::move(name),
                                                 hold ? file : INVALID_HANDLE_VALUE);
    }
    if (GetLastError() != ERROR_FILE_EXISTS) break;
    if (!claimed.empty()) DeleteFileW(name.c_str());
  }
  error = LastError();
  return nullptr;
}

}  // namespace qve::platform
