// SPDX-License-Identifier: Apache-2.0
// What the writer throws for an input it cannot use as what it must be: a
// key file that holds no RSA key of the kind asked for, a log that a reader
// would not read as the lines given. Any other failure (OpenSSL's, a write)
// is a std::runtime_error.
#pragma once

#include <stdexcept>

namespace qve::writer {

struct UnusableInput : std::runtime_error {
  using std::runtime_error::runtime_error;
};

}  // namespace qve::writer
