// SPDX-License-Identifier: Apache-2.0
// How the files of a chain link to one another, whatever their names say. A
// file's first link and last chain value tell which file it continues and
// which continues it, so they give the order the chain was written in
// (the order "links"), and after a run they show where a file is
// missing, where two files continue one block, and when link order would
// have had fewer chain breaks than name order.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "platform/worker_pool.h"
#include "report/chain_outcome.h"
#include "verify/file_links.h"

namespace qve {

// Positions in `files`, given in name order, taken in link order: a file
// whose first link is another file's last chain value comes right after it,
// the first of them by name where several qualify; every other file, and
// the rest of a fork, starts a run of its own. Runs are taken oldest first
// as the names tell age: in name order, but where the links join `numbered`
// files (rotations) mostly from a higher number to a lower, numbered ones
// against it and the others (the live log) after them; where the links tell
// neither, a run that starts the chain (at the empty digest) first and the
// run that holds a file not numbered last. Files with no
// signature line yet (a log just begun) come last. No `numbered` given:
// every file is.
std::vector<std::size_t> LinkOrder(const std::vector<FileLinks>& files,
                                   const std::vector<bool>& numbered = {});

// `paths` in link order, ties in name order (equal names as given); a name
// ending in ".gz" is read as its content, as the command's runs read it.
// The files are read on the threads of `pool` too, when there is one.
std::vector<std::wstring> SortByLinks(std::vector<std::wstring> paths,
                                      platform::WorkerPool* pool = nullptr);

// Takes out of `paths` each NAME.gz whose content is the signed log NAME
// beside it holds too (what gzip -k leaves): one file, not a replay of it;
// warns that it is verified once.
void LeaveOutGzipCopies(std::vector<std::wstring>& paths, std::vector<VerifyWarning>& warnings);

// Warns, after a run, about a file that continues nothing in the run (one
// before it is missing or was changed), two files that continue one block,
// a chain break that follows from a file that cannot be read, in link order
// every seam where the links join a file to none before it (and marks the
// outcome so), and in name order chain breaks that link order would not have.
void WarnAboutLinks(VerifyOutcome& outcome);

}  // namespace qve
