#include <algorithm>
#include <utility>

#include "platform/name_order.h"
#include "platform/paths.h"
#include "platform/text_reader.h"
#include "verify/chain_checker.h"
#include "verify/file_verifier.h"
#include "verify/log_line.h"

namespace qve {

namespace {

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

void VerifyFiles(FileVerifier& verifier, std::vector<std::wstring>& paths) {
  SortByFileName(paths);
  verifier.results.clear();
  ChainChecker checker;
  bool firstFile = true;
  for (const auto& path : paths) {
    checker.BeginFile(platform::FileNameOf(path));
    platform::TextLineReader reader(platform::NarrowPath(path));
    bool noSignatureYet = true;
    std::string_view raw;
    std::uint32_t lineNumber = 0;
    FileCheckResult unseen;
    while (reader.NextLine(&raw)) {
      const LogLine line = ClassifyLine(raw);
      ++lineNumber;
      if (line.text.size() + 1 < raw.size()) {
        if (unseen.linesWithBytesAfterNul++ == 0) unseen.firstLineWithBytesAfterNul = lineNumber;
      }
      if (line.isSignature) {
        checker.OnSignatureLine(line.payload, noSignatureYet && firstFile);
        noSignatureYet = false;
      } else {
        checker.OnDataLine(line.text);
      }
    }
    checker.EndFile();
    firstFile = false;
    verifier.results.push_back(checker.current());
    if (reader.dataAfterEndOfText()) {
      unseen.endOfInputLine = lineNumber + (reader.lastLineUnterminated() ? 0 : 1);
    }
    verifier.results.back().endOfInputLine = unseen.endOfInputLine;
    verifier.results.back().firstLineWithBytesAfterNul = unseen.firstLineWithBytesAfterNul;
    verifier.results.back().linesWithBytesAfterNul = unseen.linesWithBytesAfterNul;
  }
}

}  // namespace qve
