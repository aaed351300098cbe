#include "cli/decrypt_result_name.h"

namespace qve::cli {

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

}  // namespace qve::cli
