// SPDX-License-Identifier: Apache-2.0
#include "platform/folder_walk.h"

#include "platform/file_status.h"

namespace qve::platform {

std::string SkippedText(const platform::SkippedEntry& entry) {
  switch (entry.reason) {
    case SkipReason::NameNotUtf8:
      return "skipped: the name is not valid UTF-8";
    case SkipReason::FolderUnreadable:
      return "skipped: " + platform::ErrorText(entry.error);
    case SkipReason::Link:
      return "skipped: links are not followed";
    case SkipReason::NotRegular:
      return std::string("skipped: ") + entry.kind + ", not a regular file";
    case SkipReason::Gone:
      return "skipped: gone since its folder was listed";
  }
  return "skipped";
}

}  // namespace qve::platform
