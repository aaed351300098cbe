#include "cli/decrypt_result_name.h"

namespace qve::cli {

const char* DecryptResultName(QVE_Helper::DecryptResult result) {
  // Indexed by value; 3 is not a result.
  static constexpr const char* kNames[] = {"Success",
                                           "NoSeal",
                                           "InputOpenFailed",
                                           nullptr,
                                           "OutputOpenFailed",
                                           "OutputWriteFailed",
                                           "HeaderInvalid",
                                           "SessionKeyUnavailable",
                                           "OutputSizeFailed",
                                           "OutputTruncateFailed",
                                           "OutputReopenFailed",
                                           "VerifyInitFailed",
                                           "VerifyUpdateFailed",
                                           "BadSignature"};
  const auto index = static_cast<int>(result);
  const char* name = index >= 0 && index < 14 ? kNames[index] : nullptr;
  return name != nullptr ? name : "Unknown";
}

}  // namespace qve::cli
