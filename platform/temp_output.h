// SPDX-License-Identifier: Apache-2.0
// A file that takes an output while it is not yet trusted, and reaches its
// destination only when published. Where the system allows (Linux
// O_TMPFILE) it has no name at all, so not even SIGKILL leaves it behind;
// elsewhere it is a short hidden name in the destination's folder, removed
// on every path, and once RemoveOnSignals has been called also on SIGINT,
// SIGTERM, SIGHUP and SIGPIPE (Ctrl-C and console close on Windows).
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <system_error>

namespace qve::platform {

// Unnamed: no name where the system allows it, else a hidden one. Named: the
// hidden name always, so that its removal can be seen to work everywhere.
enum class TempNaming { Unnamed, Named };

// ByPath: path() opens the file, as the library's decryption opens its
// output. HandleOnly: the bytes go through Write and Truncate alone, on a
// handle no other process can open the file through for reading or writing
// (on Linux the unnamed file's own; on Windows one that shares nothing but
// its deletion, held until Publish), so that what was written is what is
// published.
enum class TempAccess { ByPath, HandleOnly };

// Synced: the file's bytes reach the disk before it takes the destination's
// name, and the folder's new entry after, so that a crash leaves the old
// file or the new one whole (a record that must not go back); the rest is
// left to the system, which is faster for large outputs.
enum class Durability { Buffered, Synced };

class TempOutput {
 public:
  // A new empty file in `folder`, which must be the destination's folder for
  // Publish to replace the destination in one step. Nothing and `error` set
  // when the folder takes no file, or when `folder` leads through a link
  // that LinkRefusal (file_status.h) refuses. A `claimed` path in `folder`
  // is the name it takes in place of a random one, for a caller that holds
  // the destination's lock: what is found there is what a killed process
  // left, and is removed.
  static std::unique_ptr<TempOutput> Create(std::wstring_view folder, std::error_code& error,
                                            TempNaming naming = TempNaming::Unnamed,
                                            TempAccess access = TempAccess::ByPath,
                                            std::wstring_view claimed = {});
  virtual ~TempOutput() = default;  // discards the file unless it was published

  // From now on the signals that end the process remove every named
  // temporary first, then do what they did before: a handler that was
  // there is called, a signal the process ignores stays ignored. A program
  // asks for it; a library must not take its host's signals unasked.
  static void RemoveOnSignals();

  // A path that opens the file for writing, truncating and reading again, as
  // the library's decryption does.
  virtual const std::wstring& path() const = 0;
  // Bytes in the file now; safe to call from another thread.
  virtual std::uint64_t Size() const = 0;
  // Appends `bytes` through the file's own handle, all of them or `error`.
  virtual void Write(std::span<const std::uint8_t> bytes, std::error_code& error) = 0;
  // Cuts the file to `size` bytes through its own handle.
  virtual void Truncate(std::uint64_t size, std::error_code& error) = 0;
  // Replaces `target` (a regular file, or nothing yet) with the file. An
  // existing target's mode bits are kept, and its owner and group where the
  // process may set them; a new one gets the umask'd 0666.
  virtual void Publish(std::wstring_view target, std::error_code& error,
                       Durability durability = Durability::Buffered) = 0;
  // As Publish, but only while `target` holds exactly `expected` (with
  // nothing expected: while it does not exist); false, with `target` as it
  // was, when it does not. On Linux the check is part of the replacement
  // (the two names are swapped and swapped back if the old content was not
  // the one expected); elsewhere `target` is read right before it.
  virtual bool PublishIfUnchanged(std::wstring_view target,
                                  const std::optional<std::string>& expected,
                                  std::error_code& error, Durability durability) = 0;
  // Writes the whole file to standard output.
  virtual void CopyToStandardOutput(std::error_code& error) = 0;
  // Appends all that standard input holds, to its end.
  virtual void CopyFromStandardInput(std::error_code& error) = 0;
};

}  // namespace qve::platform
