// The stopping base64 decoder of signature lines: decodes from the start until
// the text ends, a '=' or a byte outside the RFC 4648 alphabet; never fails.
#pragma once

#include <cstddef>
#include <cstdint>

namespace qve {

struct Base64Decoded {
  std::size_t bytesWritten;
  std::size_t charactersConsumed;  // the stopping character is not counted
};

// The most bytes that n characters can decode to.
constexpr std::size_t MaxDecodedSize(std::size_t n) { return (n + 3) / 4 * 3; }

// `out` must have room for MaxDecodedSize(n) bytes.
Base64Decoded DecodeBase64(std::uint8_t* out, const char* text, std::size_t n);

}  // namespace qve
