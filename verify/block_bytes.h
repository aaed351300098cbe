// The block bytes that a signature line's payload stands for.
#pragma once

#include <string_view>

#include "crypto/bytes.h"

namespace qve {

// Empty for a payload shorter than four bytes, which is not decoded at all;
// otherwise every byte the stopping base64 decoder yields.
Bytes BlockBytesOf(std::string_view payload);

}  // namespace qve
