// SPDX-License-Identifier: Apache-2.0
#include "crypto/library_version.h"

#include <openssl/crypto.h>

namespace qve {

const char* CryptoLibraryVersion() { return OpenSSL_version(OPENSSL_VERSION); }

}  // namespace qve
