// SPDX-License-Identifier: Apache-2.0
#include "format/signed_log_format.h"

#include "format/name_table.h"

namespace qve {

const char* BlockFieldName(BlockField field) {
  static constexpr const char* kNames[] = {"",
                                           "magic",
                                           "version",
                                           "id",
                                           "text length",
                                           "text",
                                           "link length",
                                           "link",
                                           "signature length",
                                           "signature"};
  return NameOf(kNames, static_cast<int>(field), "");
}

const char* BlockVerdictName(std::int32_t verdict) {
  static constexpr const char* kNames[] = {"BlockOk",      "BlockUnsigned",   "BlockNoSignature",
                                           "BlockInvalid", "BlockChainBreak", "BlockUnexpected"};
  return NameOf(kNames, verdict, "BlockUnknown");
}

const char* FileVerdictName(std::uint32_t verdict) {
  static constexpr const char* kNames[] = {"FileOk", "FileUnsigned", "FileChainBreak",
                                           "FileInvalid"};
  return NameOf(kNames, verdict, "FileUnknown");
}

const char* ReportResultName(std::uint32_t result) {
  static constexpr const char* kNames[] = {"ReportOk", "ReportUnsigned", "ReportSomeInvalid",
                                           "ReportAllInvalid"};
  return NameOf(kNames, result, "ReportUnknown");
}

}  // namespace qve
