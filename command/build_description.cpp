// SPDX-License-Identifier: Apache-2.0
#include "command/build_description.h"

#include <QVEHelper.h>

#include <cstdint>
#include <span>

#include "command/escape.h"

namespace qve::command {

namespace {

std::string KeyLine(const std::string& role, int key) {
  std::uint8_t id[4] = {}, fingerprint[32] = {};
  const bool known = qve_key_identity(key, id, fingerprint) == 0;
  return "\n  " + role + " " + Hex(std::span(id)) + ", public key SHA-256 " +
         (known ? Hex(std::span(fingerprint)) : std::string("unavailable"));
}

}  // namespace

std::string BuildDescription(const std::string& program) {
  std::string text = program + " " + qve_version() + "\n" + qve_crypto_library_version();
  // Decided at configure time from the key files' contents.
  text += qve_development_keys() != 0 ? "\nbuilt-in keys: development keys, insecure"
                                      : "\nbuilt-in keys:";
  text += KeyLine("decryption key", QVE_KEY_DECRYPTION);
  text += KeyLine("verification key", QVE_KEY_VERIFICATION);
  return text + "\nlicence: Apache-2.0";
}

}  // namespace qve::command
