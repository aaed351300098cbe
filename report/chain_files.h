// SPDX-License-Identifier: Apache-2.0
// The files of one chain, found from the paths given for it: a file as it
// is, a folder walked for every log and gzip'd rotation below it, each file
// once however often it is reached, and a warning for every entry passed
// over that could hold evidence.
#pragma once

#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "platform/file_status.h"
#include "platform/folder_walk.h"
#include "report/chain_outcome.h"

namespace qve {

// A path given that cannot be used, the path as given and the system's
// reason.
struct PathProblem {
  PathFault code = PathFault::NotFound;
  std::string argument;
  std::string reason;
};

struct ChainFiles {
  // The paths given, and how the caller names them, to find the files again.
  std::vector<std::pair<std::wstring, std::string>> sources;
  std::vector<std::wstring> files;
  // Every file found, by path, and which file it was: a run whose folders
  // list other files after it than before (a rotation meanwhile) is done again.
  std::map<std::string, std::pair<std::uint64_t, std::uint64_t>> listed;
  std::vector<VerifyWarning> warnings;
  std::vector<VerifyWarning> caseOnly;   // names that are a log's but for case
  std::set<std::wstring> alreadyWarned;  // files said to be unreadable before the run
  std::map<std::pair<std::uint64_t, std::uint64_t>, std::string> seen;
  // Each file found as it was found, which an output must not replace.
  std::vector<std::pair<std::string, platform::FileStatus>> read;
  std::map<std::string, std::wstring> paths;  // each file of `files` by its name shown
  // Folders given that hold no log: an error, unless a record says the
  // chain held blocks, which are then lost.
  std::vector<std::string> empty;
  std::vector<PathProblem> problems;
};

// Adds what `path` (named `argument` to the caller) holds.
void CollectPath(ChainFiles& chain, const std::wstring& path, const std::string& argument);

// The files of the chain's paths found anew, with what was said on the way.
ChainFiles FoundAgain(const ChainFiles& chain);

}  // namespace qve
