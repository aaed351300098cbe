// SPDX-License-Identifier: Apache-2.0
// The stopping base64 decoder of signature lines: decodes from the start until
// the text ends, a '=' or a byte outside the RFC 4648 alphabet; never fails.
#pragma once

#include <string_view>

#include "format/bytes.h"

namespace qve {

// The bytes decoded before the stop. Of a last partial group of k
// characters, the first k - 1 bytes are kept.
Bytes DecodeBase64(std::string_view text);

}  // namespace qve
