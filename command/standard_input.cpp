// SPDX-License-Identifier: Apache-2.0
#include "command/standard_input.h"

#include "command/command_line.h"
#include "command/output_file.h"
#include "platform/file_status.h"
#include "platform/paths.h"

namespace qve::command {

StandardInput::StandardInput(const std::string& label, Reading reading) {
  if (platform::StandardInputIsTerminal())
    throw CommandError(kUsageError, label +
                                        " - is standard input, which is a terminal here; "
                                        "give the data through a pipe or a redirection");
  if (reading == Reading::Once) {
    if (const auto path = platform::StandardInputPath()) {
      path_ = *path;
      readsAgain_ = platform::StatusOf(path_).kind == platform::FileKind::Regular;
      return;
    }
  }
  std::error_code error;
  const std::wstring folder = UsableScratchFolder();
  copy_ = platform::TempOutput::Create(folder, error);
  if (!copy_)
    throw CommandError(kCannotCreate, label +
                                          " -: no temporary file for standard input can be "
                                          "made in " +
                                          platform::ToNarrow(folder).value_or("?") + ": " +
                                          platform::ErrorText(error));
  copy_->CopyFromStandardInput(error);
  if (error)
    throw CommandError(kNoInput,
                       label + " -: cannot read standard input: " + platform::ErrorText(error));
  path_ = copy_->path();
}

std::string SpecialFileText(const platform::FileStatus& status, bool streamsToo) {
  return status.what + ", not a regular file" +
         (streamsToo ? "; give - to read a stream from standard input" : "");
}

void RefuseStandardStream(const std::string& argument, const std::string& what) {
  if (argument == kStandardStream)
    throw CommandError(kUsageError, what +
                                        " cannot be standard input (-); ./- names a file "
                                        "called -");
}

}  // namespace qve::command
