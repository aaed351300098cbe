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

// What a problem concerns. The numbers between Input and Temporary are
// platform::OutputProblem's, whose cases an output's problem takes.
enum ProblemKind : int {
  kNoProblem = 0,
  kInputProblem = 1,
  kTemporaryProblem = 8,
  kWriteProblem = 10,
  kChangedProblem = 11,
  kContainerProblem = 12,
  kCryptoProblem = 13,
  kCancelledProblem = 14,
};

// Why a decryption or check failed where no DecryptResult says it; the
// numbers are negative so that one int holds either.
enum DecryptFailure : int {
  kWrongKind = -8,
  kCancelled = -20,
  kOutputFailed = -21,
  kSameFileFailed = -22,
  kScratchFailed = -23,
};

// Why an outcome is what it is: a ProblemKind, the path it concerns, the
// reason in the system's words (or what a path is), and all of it in words.
struct Problem {
  int kind = kNoProblem;
  std::wstring path;
  std::string reason;
  std::string message;
};

struct Outcome {
  int code = QVE_Helper::Success;  // a DecryptResult or a DecryptFailure
  Problem problem;
};

struct DecryptSettings {
  DecryptProgress::Report report;  // none: progress is not reported
  bool keepUnverified = false;
  bool readStream = false;
  bool writeDirectly = false;
  // With a pool, the extension's own decryption (DecryptIntoTemporary),
  // its digest on the pool's threads; without, the seed's.
  platform::WorkerPool* pool = nullptr;
};

// A decryption into OUTPUT, put in place only when it is whole.
Outcome DecryptToPlace(const std::wstring& input, const std::wstring& output,
                       const DecryptSettings& settings);

// A container's check: with a scratch folder the seed's decryption into an
// unnamed scratch file there, without one a check in memory.
Outcome CheckFile(const std::wstring& input, const std::optional<std::wstring>& scratchFolder,
                  const DecryptProgress::Report& report, platform::WorkerPool* pool);

}  // namespace qve
