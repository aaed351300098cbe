// SPDX-License-Identifier: Apache-2.0
// The middle of a decryption: header, session key, then the payload in
// 4096-byte chunks straight into the output, keeping the newest 8192
// plaintext bytes to find the seal trailer in once the payload has ended.
#pragma once

#include <istream>
#include <ostream>

#include "decrypt/decryption_context.h"
#include "decrypt/seal_trailer.h"
#include "format/container_format.h"
#include "qvehelper/contract.h"

namespace qve {

// Success, HeaderInvalid, SessionKeyUnavailable or OutputWriteFailed. Success
// only says the payload went out; seal.length says whether a trailer was
// found (0: none). The trailer is written like the rest of the plaintext.
QVE_Helper::DecryptResult DecryptStream(std::istream& input, std::ostream& output, SealInfo& seal);

// Reads the header and sets the cipher up with the session key: Success,
// HeaderInvalid or SessionKeyUnavailable. The input is left at the first
// payload byte.
QVE_Helper::DecryptResult OpenPayload(std::istream& input, DecryptionContext& context);

// The payload loop alone, on a context whose cipher is set up and an input
// at the first payload byte: Success or OutputWriteFailed. The newest
// plaintext is left in context.trailingWindow.
QVE_Helper::DecryptResult DecryptPayload(DecryptionContext& context, std::istream& input,
                                         std::ostream& output);

}  // namespace qve
