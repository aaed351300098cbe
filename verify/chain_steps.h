// SPDX-License-Identifier: Apache-2.0
// A verification run taken a step at a time, so that a caller can take what
// the observer is handed as it comes, with nothing held but the current
// block: each step reads one piece of a line or opens or closes a file.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "verify/chain_checker.h"
#include "verify/details.h"
#include "verify/text_reader.h"

namespace qve {

class ChainSteps {
 public:
  ChainSteps(std::vector<std::wstring> paths, VerifyObserver& observer,
             const RunOptions& options = {});
  // One step; false once every file has ended. Throws as VerifyFiles.
  bool Step();

 private:
  // Opens the current file, for its first reading or a later one.
  void OpenCurrentFile();

  std::vector<std::wstring> paths_;
  VerifyObserver& observer_;
  RunOptions options_;
  ChainChecker checker_;
  std::size_t next_ = 0;  // the file read, or to be read
  int reading_ = 0;
  std::unique_ptr<TextLineReader> reader_;
};

}  // namespace qve
