// SPDX-License-Identifier: Apache-2.0
// The decryption of one file into another, as the exported Decrypt does it,
// for callers inside the library that watch it: the extension interface
// reports how far it is and may stop it.
//
// Error style of decrypt/: a container that cannot be used, an output that
// cannot be written and a seal that does not verify are all a DecryptResult;
// nothing throws for them. OpenSSL failures inside a step end in the result
// the contract names for that step; allocation failure leaves by exception
// and the interface's calls turn it into their own code. The diagnosis
// throws std::runtime_error only where the container changes under it.
#pragma once

#include <algorithm>
#include <cstdint>
#include <functional>
#include <string>
#include <system_error>

#include "qvehelper/contract.h"

namespace qve {

namespace platform {
class WorkerPool;
class TempOutput;
}  // namespace platform

// The steps a decryption reports progress for: reading and decrypting the
// container, then reading the plaintext back for the seal check.
enum class DecryptStep : int { Decrypting = 1, CheckingSeal = 2 };

// Reports where the work is, step by step: at each step's start and end and at
// every block the files are read in. Once `report` gives false the reading
// stops as at the end of the input and stays stopped.
class DecryptProgress {
 public:
  using Report = std::function<bool(DecryptStep step, std::uint64_t done, std::uint64_t total)>;
  DecryptProgress(Report report, std::uint64_t inputSize)
      : report_(std::move(report)), inputSize_(inputSize) {}

  std::uint64_t inputSize() const { return inputSize_; }
  bool stopped() const { return stopped_; }

  // The reading of the container as DecryptStep::Decrypting, for the
  // BlockReadBuffer that reads it (nothing without progress), and its end
  // after `read` bytes.
  static std::function<bool(std::uint64_t)> ReadingContainer(DecryptProgress* progress) {
    if (progress == nullptr) return {};
    return [progress](std::uint64_t read) {
      return progress->Tell(DecryptStep::Decrypting, read, progress->inputSize());
    };
  }
  static void ContainerRead(DecryptProgress* progress, std::uint64_t read) {
    if (progress != nullptr)
      progress->Tell(DecryptStep::Decrypting, read, std::max(read, progress->inputSize()));
  }
  // False once stopped.
  bool Tell(DecryptStep step, std::uint64_t done, std::uint64_t total) {
    if (!stopped_ && report_ && !report_(step, done, total)) stopped_ = true;
    return !stopped_;
  }

 private:
  Report report_;
  std::uint64_t inputSize_;  // 0 when unknown
  bool stopped_ = false;
};

// QVE_Helper::Decrypt, telling `progress` (when not null) how far it is.
// A result after progress stopped means nothing.
QVE_Helper::DecryptResult DecryptFile(const std::wstring& inputPath, const std::wstring& outputPath,
                                      DecryptProgress* progress = nullptr);

// As DecryptFile, with the same results and the same file left behind, into
// a temporary file written through its own handle only (TempAccess::
// HandleOnly), and with the seal's digest taken of the plaintext as it is
// written (on a thread of `pool` when one works for it) instead of a second
// pass over the file: what nobody else can write is what was written. No
// OutputReopenFailed, as nothing is reopened; progress tells the seal check
// at its start and end only. After OutputWriteFailed, `writeError` says why:
// the file cannot be asked by its path meanwhile.
QVE_Helper::DecryptResult DecryptIntoTemporary(const std::wstring& inputPath,
                                               platform::TempOutput& output,
                                               platform::WorkerPool* pool,
                                               DecryptProgress* progress,
                                               std::error_code& writeError);

}  // namespace qve
