// SPDX-License-Identifier: Apache-2.0
#include "verify/verify_files.h"

#include <algorithm>
#include <stdexcept>
#include <utility>

#include "platform/name_order.h"
#include "platform/paths.h"
#include "verify/chain_steps.h"
#include "verify/details.h"
#include "verify/system_log_name.h"
#include "verify/text_reader.h"

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
  ChainSteps steps(paths, observer, options);
  while (steps.Step()) {
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

void RequireNarrowForms(const std::vector<std::wstring>& paths) {
  for (const auto& path : paths)
    if (!platform::ToNarrow(path)) throw std::invalid_argument("invalid wchar_t filename argument");
}

void VerifyFiles(FileVerifier& verifier, std::vector<std::wstring>& paths,
                 const VerifyLimits& limits) {
  SortByFileName(paths);
  verifier.results.clear();
  RequireNarrowForms(paths);
  FileRecorder recorder(verifier);
  VerifyInOrder(paths, recorder, {.limits = limits});
}

}  // namespace qve
