// SPDX-License-Identifier: Apache-2.0
// What a build of the commands is: its version, the OpenSSL it runs with and
// the key set built into it. --version prints it and the --html page's footer
// shows it, so a page can be traced to the build that wrote it.
#pragma once

#include <string>

namespace qve::command {

// Lines without a final newline: "<program> <version>", OpenSSL's own
// version text, "built-in keys:" (followed by "development keys, insecure"
// when the build embedded keys/dev), and per key its identifier and the
// SHA-256 of its public key as DER SubjectPublicKeyInfo.
std::string BuildDescription(const std::string& program);

}  // namespace qve::command
