// SPDX-License-Identifier: Apache-2.0
// qvehelper verify --html: one self-contained page for people who did not run
// the tool. It is drawn from the run's own details, gathered while the chain
// is verified, so the page reads no file itself and shows what the verdicts
// were made from. What it holds of a chain is bounded whatever the files
// hold: runs of equal blocks share a cell and a row, and past its limits the
// page says how much more there is.
#pragma once

#include <cstddef>
#include <cstdint>
#include <iosfwd>
#include <optional>
#include <string>
#include <vector>

#include "cli/verify_outcome.h"
#include "command/command_line.h"

namespace qve::cli {

struct PageLimits {
  std::uint32_t linesPerBlock = 200;     // covered lines shown per bad block
  std::size_t bytesPerLine = 4000;       // of each line shown
  std::size_t runsPerFile = 200;         // cells of the strip and rows of the table
  std::size_t excerptsPerFile = 20;      // bad blocks shown with their lines
  std::uint64_t excerptBytes = 4 << 20;  // of lines shown, for a whole chain
};

// A covered line of a bad block, as much of it as the page shows.
struct CoveredLine {
  std::uint32_t number = 0;
  std::string shown;
  std::uint64_t coveredBytes = 0;
  bool nul = false;  // the rest of the line, from a NUL on, is not covered
};

// Blocks in a row with one verdict, and the lines they span.
struct PageRun : BlockRow {
  std::uint64_t blocks = 0;
  std::size_t firstBlock = 0;  // its index in the file
};

// A bad block with its first covered lines.
struct PageExcerpt : BlockRow {
  std::size_t block = 0;  // its index in the file
  bool coversNoLine = false;
  std::vector<CoveredLine> shown;
};

// What the page shows of one file's blocks.
struct PageFile {
  std::vector<PageRun> runs;
  std::uint64_t blocksNotListed = 0;  // after the last run, past the limit
  LineRange notListed;
  std::vector<PageExcerpt> excerpts;
  std::uint64_t excerptsNotShown = 0;  // bad blocks whose lines are not shown
  std::uint64_t excerptBytes = 0;
  std::size_t blocks = 0;  // read so far
};

// Keeps the page's share of every file as the run hands it over.
class PageGatherer final : public BlockSink {
 public:
  explicit PageGatherer(const PageLimits& limits) : limits_(limits) {}
  void OnRestart() override;
  void OnFileStart(qve_run* run) override;
  void OnBlock(qve_run* run) override;

  std::vector<PageFile> files;  // one per file, in run order; the last may be being read

 private:
  PageLimits limits_;
  std::uint64_t excerptBytes_ = 0;
};

// One chain: what the command found and the page's share of each of its
// files, in the same order; or, for one that was not verified, why.
struct HtmlChain {
  VerifyOutcome outcome;  // its path, with --each, is shown in the chain's heading
  std::vector<PageFile> files;
  PageLimits limits = {};
  std::optional<command::CommandError> error;  // not verified: no run
};

// The whole page, one section per chain, written as it is made, with when,
// where and by which command and build of this process it was made, and
// the run's exit status.
void WriteHtmlReport(std::ostream& out, const std::vector<HtmlChain>& chains, int exitStatus);

}  // namespace qve::cli
