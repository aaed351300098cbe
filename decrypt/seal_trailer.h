// The seal trailer, the last L bytes of the decrypted data, found from its end:
//
//   "Seal" | version u16 (=1) | K u16 | keyId[K] | G u16 | signature[G]
//   | (skipped) | "Seal" | L u16
#pragma once

#include <cstdint>

#include "crypto/bytes.h"
#include "decrypt/stream_verifier.h"

namespace qve {

// The trailer length L, with keyId and signature copied out of the window;
// 0 when the window does not end in a trailer. Only the window's newest
// bytes are seen, so a trailer longer than the window is never recognised.
std::uint32_t ParseSeal(const StreamVerifier& verifier, Bytes& keyId, Bytes& signature);

}  // namespace qve
