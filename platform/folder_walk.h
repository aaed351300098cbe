// SPDX-License-Identifier: Apache-2.0
// The one folder walk: the report's folder scan, and the verify and check
// commands, which also hear of every entry it passes over and why.
//
// Depth first in pre-order: a folder entry is walked right after it is
// handled, and the entries of one folder come in the order the file system
// lists them. Each folder's listing is read whole and closed before its
// entries are handled, so any depth works under any open-file limit. Paths
// start with the folder text as given and join with one separator ('/' on
// Linux, '\' on Windows), none after a separator or a Windows drive's ':'.
// An entry's type is the one the listing reports (on Linux lstat only where
// the file system reports none); links are neither followed nor selected.
#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <system_error>

namespace qve::platform {

enum class SkipReason {
  NameNotUtf8,       // a name with no narrow form (on Linux one that is not
                     // UTF-8; every Windows name has one), unless carried
  FolderUnreadable,  // `folder` itself included; `error` says why
  Link,              // a symbolic link, or on Windows a junction or other name surrogate
  NotRegular,        // a FIFO, device or socket; `kind` says which
  Gone,              // removed between the listing and the look at it
};

struct SkippedEntry {
  SkipReason reason;
  std::string shown;      // the path as ShownText writes it, its bytes on Linux
  std::wstring name;      // empty when it has no wide form
  std::error_code error;  // FolderUnreadable, Gone
  const char* kind = "";  // NotRegular: "a FIFO", "a character device", ...
};

using OnRegularFile = std::function<void(const std::wstring& path, const std::wstring& name)>;
using OnSkipped = std::function<void(const SkippedEntry&)>;

// What becomes of a name that is not valid text (on Linux not UTF-8, on
// Windows UTF-16 with an unpaired surrogate): passed over (the report's
// scan, whose names a host reads as text and whose reader could not open
// them), or carried as ArgumentPath carries an argument's (the commands,
// which open such a name or say why not, and show it escaped).
enum class NotUtf8Names { Skip, Carry };

// Calls `onRegularFile` with the full path and the name of every regular file
// below `folder`, and `onSkipped`, when given, for every entry passed over.
// Without `onSkipped` nothing is looked at beyond what the listing needs.
void WalkFolder(std::wstring_view folder, const OnRegularFile& onRegularFile,
                const OnSkipped& onSkipped = {}, NotUtf8Names notUtf8 = NotUtf8Names::Skip);

// Why a walk passed over an entry, as the commands warn about it:
// "skipped: a FIFO, not a regular file".
std::string SkippedText(const SkippedEntry& entry);

}  // namespace qve::platform
