// SPDX-License-Identifier: Apache-2.0
// An exclusive lock that runs of the command hold on a file of its own, so
// that two runs never work on one record at once. The lock belongs to the
// open file and ends when it is closed, also when the process dies. The
// file stays: removing it would let a third run lock a new file while the
// second still holds the old one.
#pragma once

#include <memory>
#include <string_view>
#include <system_error>

namespace qve::platform {

class FileLock {
 public:
  // Opens `path`, creating it when it is missing; never through a symbolic
  // link. Nothing, with `error` set, when it cannot be opened.
  static std::unique_ptr<FileLock> Open(std::wstring_view path, std::error_code& error);
  virtual ~FileLock() = default;  // unlocks

  // True when the lock is taken now; false when another open file holds it
  // or, with `error` set, when the system refuses.
  virtual bool TryLock(std::error_code& error) = 0;
};

}  // namespace qve::platform
