// SPDX-License-Identifier: Apache-2.0
#include "verify/verify_files.h"

#include <algorithm>
#include <utility>

#include "platform/name_order.h"
#include "platform/paths.h"
#include "platform/text_reader.h"
#include "report/system_log_name.h"
#include "verify/chain_checker.h"
#include "verify/details.h"

namespace qve {

// On Windows a log's name in another case takes the place of the rule's
// spelling, as the file system takes it for that name.
std::wstring OrderName(std::wstring_view path) {
  return AsTheRuleSpellsIt(platform::FileNameOf(path));
}

bool FileNameLess(std::wstring_view a, std::wstring_view b) {
  return platform::NameLess(OrderName(a), OrderName(b));
}

void SortByFileName(std::vector<std::wstring>& paths) {
  std::vector<std::pair<std::wstring, std::wstring>> named;
  named.reserve(paths.size());
  for (auto& path : paths) {
    std::wstring name = OrderName(path);
    named.emplace_back(std::move(name), std::move(path));
  }
  std::sort(named.begin(), named.end(),
            [](const auto& a, const auto& b) { return platform::NameLess(a.first, b.first); });
  for (std::size_t i = 0; i < paths.size(); ++i) paths[i] = std::move(named[i].second);
}

void BlockCounts::Add(BlockVerdict verdict) {
  ++blockCount;
  if (IsBad(verdict)) ++badBlockCount;
  if (verdict == BlockOk) ++okBlockCount;
  if (firstBlockPending) {
    firstBlockChainBreak = verdict == BlockChainBreak;
    firstBlockPending = false;
  }
}

void RecordBlock(FileCheckResult& result, BlockVerdict verdict, std::uint32_t firstLine,
                 std::uint32_t lastLine) {
  result.Add(verdict);
  if (verdict != BlockOk) result.blocks.push_back({verdict, firstLine, lastLine});
}

void VerifyInOrder(const std::vector<std::wstring>& paths, VerifyObserver& observer,
                   const RunOptions& options) {
  ChainChecker checker(observer, options);
  for (const auto& path : paths) {
    const platform::Compression compression =
        options.gunzip ? platform::CompressionByName(path) : platform::Compression::None;
    // A file cut or rewritten between the reading of a large block and its
    // second reading is read once more from the start, as a run begun later
    // would read it, so the change is never taken for tampering.
    for (int reading = 1;; ++reading) {
      platform::TextLineReader reader(platform::NarrowPath(path), options.limits.readBuffer,
                                      compression);
      if (reading == 1) {
        checker.BeginFile(path, &reader);
      } else {
        checker.BeginFileAgain(&reader);
      }
      std::string_view piece;
      bool lineEnds = false;
      while (reader.NextPiece(&piece, &lineEnds)) checker.OnPiece(piece, lineEnds);
      checker.EndFile();
      // Lines before damaged gzip data prove nothing about the rest: the
      // file is judged as one that cannot be read, never better.
      if (checker.file().fault != platform::ReadFault::None && options.readings > 1) {
        checker.GiveUpFile();
        break;
      }
      if (!checker.file().changedWhileRead || reading >= options.readings) break;
    }
    observer.OnFileEnd(checker.file());
  }
}

void FileRecorder::OnFileStart(const FileDetail& file) {
  current_ = FileCheckResult{};
  current_.fileName = file.name;
}

void FileRecorder::OnBlock(const FileDetail&, const BlockDetail& block) {
  RecordBlock(current_, block.verdict, block.lines.first, block.lines.last);
}

void FileRecorder::OnFileEnd(const FileDetail&) {
  verifier_.results.push_back(std::move(current_));
}

void VerifyFiles(FileVerifier& verifier, std::vector<std::wstring>& paths,
                 const VerifyLimits& limits) {
  SortByFileName(paths);
  verifier.results.clear();
  FileRecorder recorder(verifier);
  VerifyInOrder(paths, recorder, {.limits = limits});
}

}  // namespace qve
