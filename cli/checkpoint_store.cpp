// SPDX-License-Identifier: Apache-2.0
#include "cli/checkpoint_store.h"

#include <algorithm>
#include <thread>

#include "cli/frame.h"
#include "platform/file_status.h"
#include "platform/files.h"
#include "platform/paths.h"

namespace qve::cli {

namespace {

constexpr std::size_t kLargestRecord = 1 << 16;
constexpr std::chrono::milliseconds kLockPoll{100};

}  // namespace

CheckpointStore::CheckpointStore(std::string file, std::string label, RecordAccess access)
    : file_(std::move(file)), label_(std::move(label)), access_(access) {}

void CheckpointStore::Lock(std::chrono::steady_clock::time_point deadline,
                           std::chrono::seconds wait) {
  if (access_ == RecordAccess::ReadOnly || lock_) return;
  // A record that must exist and does not fails when it is read; no lock
  // file is left for it.
  if (access_ == RecordAccess::Write &&
      platform::IsNotFound(platform::StatusOf(platform::ArgumentPath(file_)).error))
    return;
  const std::string called = "the lock file " + Escaped(lockFile()) + " of " + label_;
  RefuseForeignLink(called, platform::ArgumentPath(lockFile()));
  std::error_code error;
  std::unique_ptr<platform::FileLock> lock =
      platform::FileLock::Open(platform::ArgumentPath(lockFile()), error);
  if (!lock) throw CommandError(kCannotCreate, called + ": " + platform::ErrorText(error));
  while (!lock->TryLock(error)) {
    if (error) throw CommandError(kCannotCreate, called + ": " + platform::ErrorText(error));
    const auto now = std::chrono::steady_clock::now();
    if (now >= deadline) {
      throw CommandError(kBusy, "another run holds " + called + " " + Escaped(file_) +
                                    "; gave up after waiting " + std::to_string(wait.count()) +
                                    " s (--wait)");
    }
    std::this_thread::sleep_for(
        std::min(kLockPoll, std::chrono::duration_cast<std::chrono::milliseconds>(deadline - now)));
  }
  lock_ = std::move(lock);
}

void CheckpointStore::Read() {
  const std::wstring path = platform::ArgumentPath(file_);
  const platform::FileStatus status = platform::StatusOf(path);
  const std::string called = "checkpoint " + Escaped(file_);
  read_.reset();
  if (status.kind == platform::FileKind::Missing) {
    if (!platform::IsNotFound(status.error))
      throw CommandError(kNoInput, called + ": " + platform::ErrorText(status.error));
    if (access_ == RecordAccess::WriteOrInit) return;
    throw CommandError(
        kNoInput,
        called + " does not exist" +
            (access_ == RecordAccess::Write ? "; --checkpoint-init creates a missing record" : ""));
  }
  if (status.kind != platform::FileKind::Regular)
    throw CommandError(kDataError, called + " is " + status.what + ", not a regular file");
  platform::FileStream in;
  if (!platform::OpenForReading(in, path))
    throw CommandError(
        kNoInput, called + " cannot be read: " + platform::ErrorText(platform::ReadError(path)));
  std::string text(kLargestRecord + 1, '\0');
  in.read(text.data(), std::streamsize(text.size()));
  text.resize(std::size_t(in.gcount()));
  if (in.bad()) throw CommandError(kNoInput, called + " cannot be read");
  if (text.size() > kLargestRecord)
    throw CommandError(kDataError,
                       called + " is damaged: larger than any record; it is left as it is");
  read_ = std::move(text);
}

void CheckpointStore::CheckWritable(const std::vector<OutputInput>& inputs) const {
  if (access_ == RecordAccess::ReadOnly) return;
  const OutputFile probe(label_, file_, inputs);
}

bool CheckpointStore::Replace(const std::string& record, const std::vector<OutputInput>& inputs) {
  const std::optional<std::string> started = read_;
  try {
    Read();
  } catch (const CommandError&) {
    // What replaced it is judged by the next Read, which says what is wrong.
    return false;
  }
  if (read_ != started) return false;
  OutputFile out(label_, file_, inputs);
  out.Write([&](std::ostream& stream) { stream << record; });
  // Checked once more as it is replaced: a writer without the lock may act
  // between the reading above and this.
  if (!out.CommitIfUnchanged(read_)) return false;
  read_ = record;
  return true;
}

}  // namespace qve::cli
