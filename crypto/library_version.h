// SPDX-License-Identifier: Apache-2.0
#pragma once

namespace qve {

// The version text of the libcrypto loaded, e.g. "OpenSSL 3.0.13 30 Jan 2024".
const char* CryptoLibraryVersion();

}  // namespace qve
