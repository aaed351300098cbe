// SPDX-License-Identifier: Apache-2.0
// Why a decryption gave its result, in words, as decrypt and check print it
// after the result: the system's reason for a file that did not open or did
// not take the data, and the container's own fault as the library's
// diagnosis finds it.
#pragma once

#include <string>

#include "QVEHelper.h"

namespace qve::cli {

// `output` is the file the library wrote. `input` is read again for the
// diagnosis only when `readsAgain` (never a pipe); without it the cause is
// the general one. Empty for Success.
std::string DecryptCause(QVE_Helper::DecryptResult result, const std::wstring& input,
                         bool readsAgain, const std::wstring& output);

}  // namespace qve::cli
