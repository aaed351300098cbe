// SPDX-License-Identifier: Apache-2.0
#include "format/container_format.h"

#include <algorithm>

#include "format/name_table.h"

namespace qve {

bool StartsWithContainerMagic(std::span<const std::uint8_t> start) {
  return start.size() >= kContainerMagic.size() &&
         std::equal(kContainerMagic.begin(), kContainerMagic.end(), start.begin());
}

Bytes KeyIdOf(std::uint32_t keyNumber) {
  return Bytes{static_cast<std::uint8_t>(keyNumber), static_cast<std::uint8_t>(keyNumber >> 8),
               static_cast<std::uint8_t>(keyNumber >> 16),
               static_cast<std::uint8_t>(keyNumber >> 24)};
}

const char* DecryptResultName(QVE_Helper::DecryptResult result) {
  switch (result) {
    case QVE_Helper::Success:
      return "Success";
    case QVE_Helper::NoSeal:
      return "NoSeal";
    case QVE_Helper::InputOpenFailed:
      return "InputOpenFailed";
    case QVE_Helper::OutputOpenFailed:
      return "OutputOpenFailed";
    case QVE_Helper::OutputWriteFailed:
      return "OutputWriteFailed";
    case QVE_Helper::HeaderInvalid:
      return "HeaderInvalid";
    case QVE_Helper::SessionKeyUnavailable:
      return "SessionKeyUnavailable";
    case QVE_Helper::OutputSizeFailed:
      return "OutputSizeFailed";
    case QVE_Helper::OutputTruncateFailed:
      return "OutputTruncateFailed";
    case QVE_Helper::OutputReopenFailed:
      return "OutputReopenFailed";
    case QVE_Helper::VerifyInitFailed:
      return "VerifyInitFailed";
    case QVE_Helper::VerifyUpdateFailed:
      return "VerifyUpdateFailed";
    case QVE_Helper::BadSignature:
      return "BadSignature";
  }
  return "Unknown";
}

const char* HeaderStatusName(HeaderStatus status) {
  static constexpr const char* kNames[] = {"Complete",           "MagicVersionOrIvUnreadable",
                                           "VersionUnsupported", "Truncated",
                                           "TooManyRecipients",  "BadRecipientTag",
                                           "KeyIdLengthInvalid", "WrappedKeyLengthInvalid"};
  return NameOf(kNames, static_cast<int>(status), "Unknown");
}

const char* HeaderFieldName(HeaderField field) {
  static constexpr const char* kNames[] = {"",
                                           "magic",
                                           "version",
                                           "recipient count",
                                           "tag",
                                           "key identifier length",
                                           "key identifier",
                                           "wrapped key length",
                                           "wrapped key",
                                           "IV"};
  return NameOf(kNames, static_cast<int>(field), "");
}

const char* SealStatusName(SealStatus status) {
  static constexpr const char* kNames[] = {"Found",         "WindowTooShort",  "NoClosingTag",
                                           "LengthInvalid", "NoOpeningTag",    "VersionUnsupported",
                                           "KeyIdInvalid",  "SignatureInvalid"};
  return NameOf(kNames, static_cast<int>(status), "Unknown");
}

const char* SealFieldName(SealField field) {
  static constexpr const char* kNames[] = {
      "",         "closing tag",           "length",         "opening tag",
      "version",  "key identifier length", "key identifier", "signature length",
      "signature"};
  return NameOf(kNames, static_cast<int>(field), "");
}

}  // namespace qve
