// The middle of a decryption: header, session key, then the payload in
// 4096-byte chunks straight into the output, keeping the newest 8192
// plaintext bytes to find the seal trailer in once the payload has ended.
#pragma once

#include <istream>
#include <ostream>

#include "QVEHelper.h"
#include "decrypt/seal_trailer.h"

namespace qve {

inline constexpr std::size_t kChunkSize = 4096;

// Success, HeaderInvalid, SessionKeyUnavailable or OutputWriteFailed. Success
// only says the payload went out; seal.length says whether a trailer was
// found (0: none). The trailer is written like the rest of the plaintext.
QVE_Helper::DecryptResult DecryptStream(std::istream& input, std::ostream& output, SealInfo& seal);

}  // namespace qve
