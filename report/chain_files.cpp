// SPDX-License-Identifier: Apache-2.0
#include "report/chain_files.h"

#include <algorithm>

#include "platform/folder_walk.h"
#include "platform/paths.h"
#include "text/escape.h"
#include "verify/system_log_name.h"

namespace qve {

namespace {

void AddCandidate(ChainFiles& chain, const std::wstring& path) {
  const std::string shown = platform::ShownText(path);
  const platform::FileStatus status = platform::StatusOf(path);
  chain.listed[shown] = {status.device, status.file};
  if (status.kind != platform::FileKind::Missing) {
    const auto [at, added] = chain.seen.emplace(std::pair(status.device, status.file), shown);
    if (!added) {
      chain.warnings.push_back({shown, "the same file as " + at->second + "; verified once", false,
                                WarningKind::SameFile});
      return;
    }
    chain.read.push_back({shown, status});
  }
  // The library's reader refuses the whole run for a path it cannot take.
  const std::wstring narrowable = platform::NarrowablePath(path);
  if (!platform::ToNarrow(path)) {
    chain.warnings.push_back(
        {shown,
         "cannot be read (the name is not valid UTF-16: an unpaired surrogate); FileUnsigned", true,
         WarningKind::Unreadable});
    chain.alreadyWarned.insert(narrowable);
  }
  chain.files.push_back(narrowable);
  chain.paths[shown] = narrowable;
}

// Adds what a folder PATH holds; false when it holds nothing to verify and
// nothing that could have been (no log at all).
bool CollectFolder(ChainFiles& chain, const std::wstring& folder, const std::string& argument) {
  using platform::SkipReason;
  const std::size_t warnings = chain.warnings.size();
  std::size_t logs = 0;  // those reached twice too
  const std::string top = platform::ShownText(folder);
  platform::WalkFolder(
      folder,
      [&](const std::wstring& path, const std::wstring& name) {
        if (IsSystemLogName(name) || IsCompressedSystemLogName(name)) {
          ++logs;
          AddCandidate(chain, path);
        } else if (const char* rule = SystemLogNameButForCase(name)) {
          chain.caseOnly.push_back(
              {platform::ShownText(path),
               std::string("not verified: the name differs from ") + rule + " in case", true,
               WarningKind::NameCase});
          chain.warnings.push_back(chain.caseOnly.back());
        }
      },
      [&](const platform::SkippedEntry& entry) {
        if (entry.reason == SkipReason::FolderUnreadable && entry.shown == top) {
          chain.problems.push_back(
              {PathFault::Unreadable, argument, platform::ErrorText(entry.error)});
          return;
        }
        // A folder that cannot be read, and a link, FIFO or device that might
        // be a log (its name says so, or a linked folder might hold logs), is
        // evidence passed over; anything else that is not a log is nothing.
        const bool logName = IsSystemLogName(entry.name) || IsCompressedSystemLogName(entry.name);
        bool unverified = entry.reason == SkipReason::FolderUnreadable || logName;
        if (entry.reason == SkipReason::Link && !logName) {
          unverified = platform::StatusOf(platform::ArgumentPath(entry.shown)).kind ==
                       platform::FileKind::Folder;
          if (!unverified) return;
        }
        if (entry.reason == SkipReason::NotRegular) {
          // As when it is named: a file of the chain that cannot be read.
          if (logName) {
            ++logs;
            AddCandidate(chain, platform::ArgumentPath(entry.shown));
          }
          return;
        }
        std::string text = platform::SkippedText(entry);
        if (entry.reason == SkipReason::Link && !logName) text += " (a link to a folder)";
        chain.warnings.push_back({entry.shown, text, unverified, WarningKind::PassedOver});
      },
      platform::NotUtf8Names::Carry);
  if (!chain.problems.empty()) return true;
  const bool passedOver =
      std::any_of(chain.warnings.begin() + std::ptrdiff_t(warnings), chain.warnings.end(),
                  [](const VerifyWarning& warning) { return warning.unverified; });
  return logs > 0 || passedOver;
}

}  // namespace

void CollectPath(ChainFiles& chain, const std::wstring& path, const std::string& argument) {
  const platform::FileStatus status = platform::StatusOf(path);
  if (status.kind == platform::FileKind::Missing) {
    chain.problems.push_back({PathFault::NotFound, argument, platform::ErrorText(status.error)});
  } else if (status.kind != platform::FileKind::Folder) {
    // The chain's order is that of the names as stored, whatever was typed.
    AddCandidate(chain, platform::NameAsStored(path));
  } else if (!CollectFolder(chain, path, argument)) {
    chain.empty.push_back(argument);
  }
}

ChainFiles FoundAgain(const ChainFiles& chain) {
  ChainFiles again;
  again.sources = chain.sources;
  for (const auto& [path, argument] : chain.sources) CollectPath(again, path, argument);
  if (!again.problems.empty()) return again;
  // A file gone from the listing that no other name holds now (a rotation
  // renames, or gzips under the name with .gz) stays in the run: that it
  // could not be read must not read as history that never was.
  for (const auto& [shown, status] : chain.read) {
    const std::pair<std::uint64_t, std::uint64_t> file{status.device, status.file};
    if (again.listed.count(shown) > 0 || again.listed.count(shown + ".gz") > 0 ||
        again.seen.count(file) > 0)
      continue;
    again.listed[shown] = file;
    again.seen.emplace(file, shown);
    again.read.push_back({shown, status});
    again.files.push_back(again.paths[shown] = chain.paths.at(shown));
  }
  return again;
}

}  // namespace qve
