// SPDX-License-Identifier: Apache-2.0
// Per-file verification of signed logs: every file of a run is read in file
// name order and checked as part of one chain of signature blocks; what it
// records is a verdict per block, and per file the counts that the report
// turns into a file verdict.
//
// Error style of verify/: a block or file that is bad is a verdict, a file
// that cannot be read is a fact of its FileDetail; neither throws. A path
// with no narrow form is refused (std::invalid_argument) before a run by
// RequireNarrowForms, and what crypto/ throws passes through untouched, so
// the report leaves as the contract says.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "format/signed_log_format.h"

namespace qve {

// The verdicts that make a file bad.
constexpr bool IsBad(BlockVerdict verdict) {
  return verdict == BlockInvalid || verdict == BlockChainBreak || verdict == BlockUnexpected;
}

struct BlockResult {
  BlockVerdict verdict;
  std::uint32_t firstLine;  // lines count from 1 per file, signature lines included
  std::uint32_t lastLine;   // the signature line itself for a signed block

  bool operator==(const BlockResult&) const = default;
};

// A file's blocks, counted as they are recorded: all that its verdict
// depends on.
struct BlockCounts {
  std::uint32_t blockCount = 0;  // one per signature line, plus one for an unsigned tail
  bool firstBlockPending = true;
  bool firstBlockChainBreak = false;
  std::uint32_t badBlockCount = 0;  // BlockInvalid, BlockChainBreak and BlockUnexpected
  std::uint32_t okBlockCount = 0;

  void Add(BlockVerdict verdict);
  bool operator==(const BlockCounts&) const = default;
};

struct FileCheckResult : BlockCounts {
  std::wstring fileName;            // last component of the path
  std::vector<BlockResult> blocks;  // every block that is not BlockOk, in file order

  bool operator==(const FileCheckResult&) const = default;
};

// Counts a block into `result` and lists it unless it is BlockOk.
void RecordBlock(FileCheckResult& result, BlockVerdict verdict, std::uint32_t firstLine,
                 std::uint32_t lastLine);

struct FileVerifier {
  std::vector<FileCheckResult> results;  // one per path of the last run, in run order
};

// How much a run holds in memory; the results do not depend on it.
struct VerifyLimits {
  // A block's lines past this many bytes are read again from the file when
  // its signature line comes, instead of being held.
  std::size_t heldBlockBytes = 4 << 20;
  std::size_t readBuffer = 1 << 16;  // and so the longest piece of a line
};

// Whether the path `a` comes before `b` by file name: UTF-16 code units, and
// on Windows a log's name in any case as the rule spells it ("SYSTEM.LOG" as
// "system.log").
bool FileNameLess(std::wstring_view a, std::wstring_view b);

// Sorts `paths` by FileNameLess, in place; paths of the same name keep no
// fixed order among themselves.
void SortByFileName(std::vector<std::wstring>& paths);

// Throws std::invalid_argument("invalid wchar_t filename argument") when a
// path has no narrow form; a run takes such a path as a file that does not
// open.
void RequireNarrowForms(const std::vector<std::wstring>& paths);

// Sorts `paths` by file name, in place, and rebuilds `verifier.results`.
// Throws std::invalid_argument for a path with no narrow form and
// std::runtime_error when the cryptographic library fails; `results` then
// hold the files finished before (none, for a path).
void VerifyFiles(FileVerifier& verifier, std::vector<std::wstring>& paths,
                 const VerifyLimits& limits = {});

}  // namespace qve
