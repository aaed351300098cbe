// SPDX-License-Identifier: Apache-2.0
// A verification run that gathers covered lines for the page, over hostile
// log files split as the verify target splits them, with small page limits
// the first bytes choose, and as gzip content when they say so. Gathering
// never changes a verdict, the page keeps within every limit, the page is
// written whatever the lines hold, and a file's links read alone (for the
// link order) are the ones the run found.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

#include "cli/html_report.h"
#include "fuzz/scratch_files.h"
#include "platform/paths.h"
#include "report/chain_outcome.h"
#include "verify/details.h"
#include "verify/file_links.h"

namespace {

// What the run hands each block, against what it was asked to gather.
class ExcerptCheck final : public qve::VerifyObserver {
 public:
  explicit ExcerptCheck(const qve::RunOptions& options) : options_(options) {}
  void OnBlock(const qve::FileDetail&, const qve::BlockDetail& block) override {
    if (block.excerpt.size() > options_.excerptLines) std::abort();
    std::uint32_t previous = 0;
    for (const qve::CoveredLine& line : block.excerpt) {
      if (line.number <= previous || line.number < block.lines.first ||
          line.number > block.lines.last)
        std::abort();
      previous = line.number;
      if (line.shown.size() > options_.excerptLineBytes || line.shown.size() > line.coveredBytes ||
          line.shown.find('\0') != std::string::npos)
        std::abort();
    }
  }

 private:
  qve::RunOptions options_;
};

class FileEnds final : public qve::VerifyObserver {
 public:
  void OnFileEnd(const qve::FileDetail& file) override { files.push_back(file); }
  std::vector<qve::FileDetail> files;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 3) return 0;
  static const std::string folder = qve::fuzz::ScratchFolder("excerpt");
  static const char* const kNames[] = {"System_1.log", "System_2.log", "system.log"};
  const bool gunzip = data[0] / 60 % 2;

  const std::size_t fileCount = 1 + data[0] % 3;
  std::vector<std::string> names(kNames, kNames + fileCount);
  for (auto& name : names) name += gunzip ? ".gz" : "";
  const std::vector<std::string> written = qve::fuzz::WriteCutInto(folder, names, data, size);
  std::vector<std::wstring> paths;
  for (const auto& path : written) paths.push_back(*qve::platform::ToWide(path));

  // Limits small enough for a few lines to reach each of them.
  qve::cli::PageLimits limits;
  limits.linesPerBlock = (data[0] / 3 + 2) % 5;  // 2 for the seeds of the verify target
  limits.bytesPerLine = 1 + data[1] % 16;
  limits.runsPerFile = 1 + data[0] / 15 % 4;
  limits.excerptsPerFile = 1 + data[2] % 3;
  limits.excerptBytes = 64 * (1 + data[2] / 3 % 8);
  qve::RunOptions options{.excerptLines = limits.linesPerBlock,
                          .excerptLineBytes = limits.bytesPerLine};
  options.limits.heldBlockBytes = data[2] & 0x80 ? 0 : options.limits.heldBlockBytes;
  options.gunzip = gunzip;

  qve::FileVerifier gathered;
  qve::FileRecorder recorder(gathered);
  ExcerptCheck check(options);
  FileEnds ends;
  qve::VerifyOutcome outcome;
  qve::OutcomeBuilder builder(outcome, {&recorder, &check, &ends});
  qve::VerifyInOrder(paths, builder, options);

  // The verdicts of a run that gathers nothing.
  if (!gunzip) {
    qve::FileVerifier plain;
    qve::VerifyFiles(plain, paths);
    if (gathered.results != plain.results) std::abort();
  }
  if (ends.files.size() != fileCount) std::abort();
  for (std::size_t i = 0; i < fileCount; ++i) {
    const auto compression = gunzip ? qve::Compression::Gzip : qve::Compression::None;
    const qve::FileLinks links = qve::ReadFileLinks(written[i], compression);
    const qve::FileDetail& file = ends.files[i];
    if (links.opened != file.opened || links.firstLink != file.firstLink ||
        links.lastChainValue != file.lastChainValue)
      std::abort();
  }

  // The page's share of the same files, as the interface's run hands it to
  // the command.
  qve_run_options asked{};
  asked.size = sizeof asked;
  asked.order = QVE_ORDER_NAME;
  asked.excerpt_lines = limits.linesPerBlock;
  asked.excerpt_line_bytes = limits.bytesPerLine;
  qve::cli::VerifyOutcome shown;
  qve_run* made = nullptr;
  if (qve_run_create(&asked, &made) != 0) std::abort();
  shown.run.reset(made);
  for (const auto& path : written) qve_run_add(made, path.c_str());
  qve::cli::PageGatherer page(limits);
  if (qve::cli::ReadRun(shown, true, &page) != 0) std::abort();
  if (page.files.size() != fileCount) std::abort();
  std::uint64_t shownBytes = 0;
  for (const qve::cli::PageFile& file : page.files) {
    if (file.runs.size() > limits.runsPerFile || file.excerpts.size() > limits.excerptsPerFile)
      std::abort();
    for (const qve::cli::PageExcerpt& excerpt : file.excerpts) {
      if (excerpt.shown.size() > limits.linesPerBlock) std::abort();
      for (const qve::cli::CoveredLine& line : excerpt.shown) shownBytes += line.shown.size();
    }
  }
  if (shownBytes > limits.excerptBytes) std::abort();

  std::ostringstream html;
  const int status = qve_run_status(shown.get());
  std::vector<qve::cli::HtmlChain> chains;
  chains.push_back({std::move(shown), std::move(page.files), limits, std::nullopt});
  qve::cli::WriteHtmlReport(html, chains, status);
  if (html.str().empty()) std::abort();
  for (const auto& path : written) std::remove(path.c_str());
  return 0;
}
