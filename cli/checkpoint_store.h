// SPDX-License-Identifier: Apache-2.0
// Where a chain's checkpoint record is kept, and how it is replaced so that
// it never goes back: a run that may write the record holds an exclusive
// lock on FILE.lock for all its work, so overlapping runs (cron) take turns,
// and before it puts its record in place it reads FILE again and writes only
// if FILE still holds what the run was judged against (a writer that takes
// no lock may have replaced it). The new record reaches the disk before it
// takes FILE's name. A read-only record is read and never locked or written.
#pragma once

#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "cli/frame.h"
#include "command/output_file.h"
#include "platform/file_lock.h"

namespace qve::cli {

enum class RecordAccess {
  ReadOnly,     // verify against it, never write; it must exist
  Write,        // it must exist; a run that passes replaces it
  WriteOrInit,  // the same, and a missing record is created
};

class CheckpointStore {
 public:
  // `label` names it in messages ("--checkpoint").
  CheckpointStore(std::string file, std::string label, RecordAccess access);

  const std::string& file() const { return file_; }
  RecordAccess access() const { return access_; }
  // The lock file beside FILE.
  std::string lockFile() const { return file_ + ".lock"; }

  // Takes the lock, unless read-only. Throws CommandError: kBusy when another
  // run holds it past `deadline` (`wait`, --wait, said in the message);
  // kCannotCreate when the lock file cannot be opened or locked.
  void Lock(std::chrono::steady_clock::time_point deadline, std::chrono::seconds wait);

  // Reads FILE's bytes, which the library judges, into recorded(): nothing
  // when it does not exist and may be created. Throws CommandError: kNoInput
  // when it cannot be read or does not exist and must; kDataError when it is
  // no file or larger than any record.
  void Read();
  const std::optional<std::string>& recorded() const { return read_; }

  // Before any work: throws CommandError kCannotCreate (kUsageError for
  // one of `inputs`) when FILE could not be replaced.
  void CheckWritable(const std::vector<OutputInput>& inputs) const;

  // Puts `record`, a record's bytes, in place as FILE if FILE still holds
  // what Read found, and gives true; else false, and Read finds what it
  // holds now. Throws CommandError as OutputFile does.
  bool Replace(const std::string& record, const std::vector<OutputInput>& inputs);

 private:
  std::string file_;
  std::string label_;
  RecordAccess access_;
  std::unique_ptr<platform::FileLock> lock_;
  std::optional<std::string> read_;  // FILE's bytes as Read found them; nothing when missing
};

}  // namespace qve::cli
