// SPDX-License-Identifier: Apache-2.0
// The extension interface's decryption and check: the seed's decryption
// wrapped in the safe output (its checks, a temporary file, the publish
// that keeps mode and owner) or in a scratch file nobody else can open, with
// progress, cancelling, and the cause of every outcome in words.
#pragma once

#include <optional>
#include <string>

#include "decrypt/decrypt_file.h"

namespace qve {

// Why an outcome is what it is: a QVE_PROBLEM_*, the path it concerns, the
// reason in the system's words (or what a path is), and all of it in words.
struct Problem {
  int kind = QVE_PROBLEM_NONE;
  std::wstring path;
  std::string reason;
  std::string message;
};

struct Outcome {
  int code = QVE_DECRYPT_SUCCESS;  // a QVE_DECRYPT_* result or a QVE_ERROR_*
  Problem problem;
};

struct DecryptSettings {
  DecryptProgress::Report report;  // none: no progress is told
  bool keepUnverified = false;
  bool readStream = false;
  bool writeDirectly = false;
  // With a loan, the extension's own decryption (DecryptIntoTemporary),
  // its digest on the loan's threads; without, the seed's.
  platform::Loan* loan = nullptr;
};

// What qve_decrypt does.
Outcome DecryptToPlace(const std::wstring& input, const std::wstring& output,
                       const DecryptSettings& settings);

// What qve_check does: with a scratch folder the seed's decryption into an
// unnamed scratch file there, without one a check in memory.
Outcome CheckFile(const std::wstring& input, const std::optional<std::wstring>& scratchFolder,
                  const DecryptProgress::Report& report, platform::Loan* loan);

}  // namespace qve
