// SPDX-License-Identifier: Apache-2.0
// The decryption of one file into another, as the exported Decrypt does it,
// for callers inside the project that want to watch it: the commands show
// how far it is on a progress line.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

#include "QVEHelper.h"

namespace qve {

// Written by the decryption, read by any other thread meanwhile.
struct DecryptProgress {
  std::atomic<bool> checkingSeal{false};    // the payload is decrypted, the seal is being checked
  std::atomic<std::uint64_t> readBack{0};   // plaintext bytes the seal check has read back
  std::atomic<std::uint64_t> plaintext{0};  // of these, once checkingSeal
};

// QVE_Helper::Decrypt, telling `progress` (when not null) how far it is.
QVE_Helper::DecryptResult DecryptFile(const std::wstring& inputPath, const std::wstring& outputPath,
                                      DecryptProgress* progress = nullptr);

}  // namespace qve
