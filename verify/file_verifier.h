// Per-file verification of signed logs: every file of a run is read in file
// name order and checked as part of one chain of signature blocks.
#pragma once

#include <string>
#include <vector>

#include "verify/file_check_result.h"

namespace qve {

struct FileVerifier {
  std::vector<FileCheckResult> results;  // one per path of the last run, in run order
};

// Sorts `paths` by file name, in place, and rebuilds `verifier.results`.
// Throws std::invalid_argument for a path with no narrow form and
// std::runtime_error when the cryptographic library fails; `results` then
// hold the files finished before.
void VerifyFiles(FileVerifier& verifier, std::vector<std::wstring>& paths);

}  // namespace qve
