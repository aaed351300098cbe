#include "verify/verify_files.h"

#include <algorithm>
#include <utility>

#include "platform/name_order.h"
#include "platform/paths.h"
#include "platform/text_reader.h"
#include "verify/chain_checker.h"

namespace qve {

namespace {

constexpr int kReadingsOfAChangingFile = 3;

void SortByFileName(std::vector<std::wstring>& paths) {
  std::vector<std::pair<std::wstring, std::wstring>> named;
  named.reserve(paths.size());
  for (auto& path : paths) {
    std::wstring name = platform::FileNameOf(path);
    named.emplace_back(std::move(name), std::move(path));
  }
  std::sort(named.begin(), named.end(),
            [](const auto& a, const auto& b) { return platform::NameLess(a.first, b.first); });
  for (std::size_t i = 0; i < paths.size(); ++i) paths[i] = std::move(named[i].second);
}

}  // namespace

void RecordBlock(FileCheckResult& result, BlockVerdict verdict, std::uint32_t firstLine,
                 std::uint32_t lastLine) {
  ++result.blockCount;
  if (verdict == BlockInvalid || verdict == BlockChainBreak || verdict == BlockUnexpected)
    ++result.badBlockCount;
  if (verdict != BlockOk) result.blocks.push_back({verdict, firstLine, lastLine});
  if (result.firstBlockPending) {
    result.firstBlockChainBreak = verdict == BlockChainBreak;
    result.firstBlockPending = false;
  }
}

void VerifyFiles(FileVerifier& verifier, std::vector<std::wstring>& paths,
                 const VerifyLimits& limits) {
  SortByFileName(paths);
  verifier.results.clear();
  ChainChecker checker(limits.heldBlockBytes);
  for (const auto& path : paths) {
    // A file cut or rewritten between the reading of a large block and its
    // second reading is read once more from the start, as a run begun later
    // would read it, so the change is never taken for tampering.
    for (int reading = 1;; ++reading) {
      platform::TextLineReader reader(platform::NarrowPath(path), limits.readBuffer);
      if (reading == 1) {
        checker.BeginFile(platform::FileNameOf(path), &reader);
      } else {
        checker.BeginFileAgain(&reader);
      }
      std::string_view piece;
      bool lineEnds = false;
      while (reader.NextPiece(&piece, &lineEnds)) checker.OnPiece(piece, lineEnds);
      checker.EndFile();
      if (!checker.fileChanged() || reading == kReadingsOfAChangingFile) break;
    }
    verifier.results.push_back(checker.current());
  }
}

}  // namespace qve
