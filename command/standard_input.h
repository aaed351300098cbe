// SPDX-License-Identifier: Apache-2.0
// "-" for an input: the command's standard input, read once, in order, and
// never a file named "-" (./- names one). Where a command cannot take it,
// it is refused as a usage error.
#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "platform/file_status.h"
#include "platform/temp_output.h"

namespace qve::command {

inline constexpr std::string_view kStandardStream = "-";

// Standard input as a path for a reader that takes one. Throws CommandError:
// kUsageError when standard input is a terminal, kNoInput when it cannot be
// read. `label` names the input in messages ("INPUT", "FILE").
class StandardInput {
 public:
  // A reader that reads once, in order, gets the standard input itself
  // where the system gives a path to it; one that seeks or reads again, or
  // any reader where the system gives none (Windows), a copy of all of it in
  // an unnamed temporary file.
  enum class Reading { Once, Again };
  StandardInput(const std::string& label, Reading reading);

  const std::wstring& path() const { return path_; }
  // The path reads the same bytes again from the start: a copy, or a file.
  bool readsAgain() const { return readsAgain_; }

 private:
  std::wstring path_;
  bool readsAgain_ = true;
  std::unique_ptr<platform::TempOutput> copy_;
};

// Why a FIFO, socket or device (a FileKind::Other) is refused as an input,
// before a reader waits on it or reads it as no file at all: "a FIFO, not a
// regular file", and where the command takes "-", how to read a stream.
std::string SpecialFileText(const platform::FileStatus& status, bool streamsToo);

// Throws CommandError(kUsageError) when `argument` is "-", which `what`
// ("PATH", "--key") cannot take.
void RefuseStandardStream(const std::string& argument, const std::string& what);

}  // namespace qve::command
