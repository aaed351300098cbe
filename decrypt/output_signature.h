// The last step of a decryption: the seal's signature over the output file
// once the trailer has been cut off it.
#pragma once

#include <istream>

#include "QVEHelper.h"
#include "crypto/built_in_keys.h"
#include "decrypt/seal_trailer.h"

namespace qve {

// Reads `output` to its end in 4096-byte chunks. Success, VerifyInitFailed,
// VerifyUpdateFailed or BadSignature; the seal's key identifier is compared
// only after the full pass.
QVE_Helper::DecryptResult VerifyOutputSignature(std::istream& output, const SealInfo& seal,
                                                const VerificationKey& key);

}  // namespace qve
