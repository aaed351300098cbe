// SPDX-License-Identifier: Apache-2.0
#include "cli/html_report.h"

#include <algorithm>
#include <functional>
#include <map>
#include <optional>
#include <ostream>
#include <sstream>
#include <stdexcept>
#include <string_view>
#include <utility>

#include "command/build_description.h"
#include "command/command_line.h"
#include "command/escape.h"
#include "platform/command_text.h"
#include "platform/host_name.h"
#include "platform/utc_time.h"

namespace qve::cli {

extern const std::string_view kReportTemplate;

// ---- Gathering -------------------------------------------------------------

// What a kept line costs besides its bytes, so that empty lines count too.
constexpr std::uint64_t kLineCost = 64;

void PageGatherer::OnRestart() {
  files.clear();
  current_ = PageFile{};
  blocks_ = 0;
  excerptBytes_ = 0;
}

void PageGatherer::OnFileStart(int) {
  // Read again from its start: what was kept of the file no longer holds.
  excerptBytes_ -= current_.excerptBytes;
  current_ = PageFile{};
  blocks_ = 0;
}

void PageGatherer::OnBlock(qve_run* run) {
  const std::size_t index = blocks_++;
  const int verdict = qve_run_block_verdict(run);
  const LineRange lines{qve_run_block_first_line(run), qve_run_block_last_line(run)};
  PageFile& file = current_;
  bool shown = false;
  if (IsBad(verdict)) {
    // The lines that fit in what is left of the page's room.
    const std::size_t count = qve_run_block_excerpt_count(run);
    std::vector<CoveredLine> fit;
    std::uint64_t cost = 0;
    for (std::size_t i = 0; i < count; ++i) {
      std::size_t length = 0;
      const char* text = qve_run_block_excerpt_text(run, i, &length);
      if (excerptBytes_ + cost + length + kLineCost > limits_.excerptBytes) break;
      cost += length + kLineCost;
      fit.push_back({qve_run_block_excerpt_line(run, i), std::string(text, length),
                     qve_run_block_excerpt_covered(run, i),
                     qve_run_block_excerpt_nul(run, i) != 0});
    }
    if (file.excerpts.size() < limits_.excerptsPerFile && (!fit.empty() || count == 0)) {
      excerptBytes_ += cost;
      file.excerptBytes += cost;
      file.excerpts.push_back(
          {index, verdict, lines, qve_run_block_covers_no_line(run) != 0, std::move(fit)});
      shown = true;
    } else {
      ++file.excerptsNotShown;
    }
  }
  if (file.blocksNotListed == 0 && !file.runs.empty() && file.runs.back().verdict == verdict) {
    file.runs.back().lines.last = lines.last;
    ++file.runs.back().blocks;
  } else if (file.blocksNotListed == 0 && file.runs.size() < limits_.runsPerFile) {
    file.runs.push_back({verdict, lines, 1, index, shown});
  } else {
    if (file.blocksNotListed++ == 0) file.notListed.first = lines.first;
    file.notListed.last = lines.last;
  }
}

void PageGatherer::OnFileEnd() {
  files.push_back(std::move(current_));
  current_ = PageFile{};
}

namespace {

// ---- Markup that is safe by construction ----------------------------------

// Only the template and Text make one, so text from a log never becomes markup.
class Html {
 public:
  Html() = default;
  const std::string& str() const { return text_; }
  Html& operator+=(const Html& more) {
    text_ += more.text_;
    return *this;
  }
  // Written into a slot as it is.
  void operator()(std::ostream& out) const { out << text_; }

 private:
  friend class Template;
  friend Html Text(std::string_view bytes);
  explicit Html(std::string text) : text_(std::move(text)) {}
  std::string text_;
};

// A slot's markup: made already, or written when its place in the page
// comes, so that long parts of the page are never held whole.
using Slots =
    std::initializer_list<std::pair<std::string_view, std::function<void(std::ostream&)>>>;

// The template file's named fragments; {{key}} is replaced by markup.
class Template {
 public:
  explicit Template(std::string_view source) {
    static constexpr std::string_view kOpen = "<!--# ", kClose = " -->\n";
    for (std::size_t at = source.find(kOpen); at != std::string_view::npos;) {
      const std::size_t nameEnd = source.find(kClose, at);
      const std::size_t body = nameEnd + kClose.size();
      const std::size_t next = source.find(kOpen, body);
      std::string_view text = source.substr(body, next - body);
      if (text.ends_with('\n')) text.remove_suffix(1);
      fragments_[std::string(source.substr(at + kOpen.size(), nameEnd - at - kOpen.size()))] = text;
      at = next;
    }
  }

  // The fragment's text before and after {{key}}.
  std::pair<std::string_view, std::string_view> Around(std::string_view name,
                                                       std::string_view key) const {
    const std::string_view text = Fragment(name);
    const std::string slot = "{{" + std::string(key) + "}}";
    const std::size_t at = text.find(slot);
    if (at == std::string_view::npos) throw std::logic_error("no " + slot);
    return {text.substr(0, at), text.substr(at + slot.size())};
  }

  void Write(std::ostream& out, std::string_view name, Slots slots, bool lineEnd = true) const {
    const std::string_view text = Fragment(name);
    std::size_t at = 0;
    for (std::size_t open; (open = text.find("{{", at)) != std::string_view::npos;) {
      const std::size_t close = text.find("}}", open);
      const std::string_view key = text.substr(open + 2, close - open - 2);
      const auto slot =
          std::find_if(slots.begin(), slots.end(), [&](const auto& s) { return s.first == key; });
      if (slot == slots.end()) throw std::logic_error("no value for {{" + std::string(key) + "}}");
      out << text.substr(at, open - at);
      slot->second(out);
      at = close + 2;
    }
    out << text.substr(at);
    if (lineEnd) out << '\n';
  }

  Html Fill(std::string_view name, Slots slots, bool lineEnd = true) const {
    std::ostringstream out;
    Write(out, name, slots, lineEnd);
    return Html(std::move(out).str());
  }

 private:
  std::string_view Fragment(std::string_view name) const {
    const auto fragment = fragments_.find(name);
    if (fragment == fragments_.end())
      throw std::logic_error("no template fragment " + std::string(name));
    return fragment->second;
  }

  std::map<std::string, std::string_view, std::less<>> fragments_;
};

const Template& Page() {
  static const Template page(kReportTemplate);
  return page;
}

// Codes stand in the template's escape markup, around its one slot.
Html Text(std::string_view bytes) {
  static const std::pair<std::string_view, std::string_view> markup =
      Page().Around("escape", "code");
  return Html(EscapedHtml(bytes, markup.first, markup.second));
}

// What the page says about a line, in the same markup as a code.
Html Note(std::string_view note) { return Page().Fill("escape", {{"code", Text(note)}}, false); }

Html Number(std::uint64_t n) { return Text(std::to_string(n)); }

constexpr std::string_view kDash = "–";

// ---- The chain as the page shows it ---------------------------------------

// A cell's look; the template's legend explains each.
struct Kind {
  const char* name;  // CSS class
  const char* letter;
};

// By block verdict code.
constexpr Kind kBlockKinds[] = {{"ok", "✓"},      {"unsigned", "U"}, {"nosig", "N"},
                                {"invalid", "I"}, {"break", "B"},    {"unexpected", "X"}};
constexpr Kind kIgnored = {"ignored", "–"};
constexpr Kind kNoLines = {"none", "∅"};
constexpr Kind kMore = {"more", "…"};

const Kind& KindOf(int verdict) {
  return verdict >= 0 && verdict < 6 ? kBlockKinds[verdict] : kBlockKinds[5];
}

const char* VerdictClass(int verdict) {
  return verdict == QVE_FILE_OK            ? "good"
         : verdict == QVE_FILE_UNSIGNED    ? "plain"
         : verdict == QVE_FILE_CHAIN_BREAK ? "broken"
                                           : "bad";
}

const char* StatusClass(int status) {
  return status == QVE_STATUS_OK ? "good" : status == QVE_STATUS_UNSIGNED ? "plain" : "bad";
}

std::string StatusText(const VerifyOutcome& outcome) {
  return qve::cli::StatusText(qve_run_status(outcome.get()), qve_run_result(outcome.get()));
}

struct Ids {
  std::string chain;
  std::string File(std::size_t f) const { return chain + "-f" + std::to_string(f + 1); }
  std::string Block(std::size_t f, std::size_t b) const {
    return File(f) + "-b" + std::to_string(b + 1);
  }
};

// `mark`, the checkpoint's block in words, when the cell holds it.
Html Cell(const Kind& kind, std::string tip, std::uint64_t count = 1,
          const std::string& target = "", const std::string& mark = "") {
  const Html shownCount =
      count > 1 ? Page().Fill("cell-count", {{"count", Number(count)}}, false) : Html();
  if (!mark.empty()) tip += "; the checkpoint: " + mark;
  return Page().Fill(target.empty() ? "cell" : "cell-link",
                     {{"kind", Text(kind.name)},
                      {"mark", !mark.empty() ? Page().Fill("cell-mark", {}, false) : Html()},
                      {"target", Text(target)},
                      {"tip", Text(tip)},
                      {"letter", Text(kind.letter)},
                      {"count", shownCount}},
                     false);
}

// A file of the chain: the run's facts at its index, what the page kept,
// and the checkpoint's block when it is in the file.
struct FileView {
  qve_run* run;
  std::size_t index;
  const PageFile& page;
  std::string checkpoint;  // in words
  std::uint32_t checkpointLine = 0;

  std::string Mark(LineRange lines) const {
    const bool in = lines.first <= checkpointLine && checkpointLine <= lines.last;
    return in ? checkpoint : "";
  }
  bool Empty() const { return page.runs.empty() && page.blocksNotListed == 0; }
  bool Opened() const { return qve_run_file_opened(run, index) != 0; }
};

// What the strip shows as a cell and the table as a row: a run of blocks,
// the blocks not listed, or bytes that no block covers.
struct Piece {
  const Kind& kind;
  std::optional<LineRange> lines;
  std::string words;
  std::uint64_t rows = 1;   // the table's count
  std::uint64_t cells = 1;  // the strip's
  std::string blocks;       // the strip's count of blocks, in words
  std::string target;
};

std::vector<Piece> Pieces(const FileView& file, const Ids& ids) {
  std::vector<Piece> pieces;
  const std::size_t f = file.index;
  for (const PageRun& run : file.page.runs) {
    pieces.push_back({KindOf(run.verdict), run.lines, BlockVerdictName(run.verdict), run.blocks,
                      run.blocks, run.blocks > 1 ? Counted(run.blocks, "block") + " " : "",
                      run.linked ? ids.Block(f, run.firstBlock) : ""});
  }
  if (const std::uint64_t more = file.page.blocksNotListed; more > 0) {
    pieces.push_back({kMore, file.page.notListed,
                      Counted(more, "more block") + " not listed one by one", more, more, "", ""});
  }
  if (const std::uint32_t lines = qve_run_file_nul_lines(file.run, f); lines > 0) {
    pieces.push_back(
        {kIgnored, std::nullopt, AfterNulText(file.run, f) + " not covered", lines, 1, "", ""});
  }
  if (const std::uint32_t line = qve_run_file_end_of_input_line(file.run, f); line > 0) {
    pieces.push_back({kIgnored, std::nullopt,
                      Counted(qve_run_file_end_of_input_bytes(file.run, f), "byte") +
                          " after the end-of-input byte 0x1A not read (line " +
                          std::to_string(line) + ")",
                      1, 1, "", ""});
  }
  return pieces;
}

void WriteStripCells(std::ostream& out, const FileView& file, const Ids& ids) {
  if (file.Empty()) out << Cell(kNoLines, file.Opened() ? "no lines" : "cannot be read").str();
  for (const Piece& piece : Pieces(file, ids)) {
    const std::string tip = piece.lines
                                ? LinesText(*piece.lines, kDash) + ": " + piece.blocks + piece.words
                                : piece.words;
    out << Cell(piece.kind, tip, piece.cells, piece.target,
                piece.lines ? file.Mark(*piece.lines) : "")
               .str();
  }
}

Html BlockRows(const FileView& file, const Ids& ids) {
  Html rows;
  if (file.Empty()) {
    const char* note = file.Opened() ? "No lines." : "The file cannot be read.";
    rows += Page().Fill("empty-row", {{"note", Text(note)}});
  }
  for (const Piece& piece : Pieces(file, ids)) {
    rows += Page().Fill("block-row",
                        {{"lines", Text(piece.lines ? RangeText(*piece.lines, kDash) : "")},
                         {"kind", Text(piece.kind.name)},
                         {"letter", Text(piece.kind.letter)},
                         {"verdict", Text(piece.words)},
                         {"count", Number(piece.rows)}});
  }
  return rows;
}

Html LineText(const CoveredLine& line) {
  Html text = Text(line.shown);
  if (line.shown.size() < line.coveredBytes) {
    text += Note("… " + Counted(line.coveredBytes - line.shown.size(), "more byte"));
  }
  if (line.nul) text += Note("NUL: the rest of the line is not covered");
  return text;
}

// What a bad block's lines are, in words.
std::string Meaning(const PageExcerpt& excerpt, const std::string& breakFollows) {
  switch (excerpt.verdict) {
    case kBlockInvalid:
      return "The signature does not vouch for these lines: they, or the signature line, were "
             "changed.";
    case kBlockChainBreak:
      if (excerpt.block == 0 && !breakFollows.empty())
        return "Signed, but not linked to the block before: the break follows from " +
               breakFollows + ", which cannot be read.";
      return "Signed, but not linked to the block before.";
    default:
      return "The check of the signature gave an unknown result.";
  }
}

void WriteExcerpt(std::ostream& out, const PageExcerpt& excerpt, const std::string& id,
                  const std::string& breakFollows) {
  const std::uint32_t covered = excerpt.coversNoLine ? 0 : excerpt.lines.last - excerpt.lines.first;
  Html omitted;
  if (covered == 0) {
    omitted = Page().Fill("omitted-none", {});
  } else if (covered > excerpt.shown.size()) {
    omitted = Page().Fill("omitted",
                          {{"count", Text(Counted(covered - excerpt.shown.size(), "more line"))},
                           {"shown", Number(excerpt.shown.size())}});
  }
  const Kind& kind = KindOf(excerpt.verdict);
  Page().Write(
      out, "excerpt",
      {{"id", Text(id)},
       {"kind", Text(kind.name)},
       {"letter", Text(kind.letter)},
       {"verdict", Text(BlockVerdictName(excerpt.verdict))},
       {"lines", Text(covered ? LinesText({excerpt.lines.first, excerpt.lines.last - 1}, kDash)
                              : "no data lines")},
       {"signatureLine", Number(excerpt.lines.last)},
       {"meaning", Text(Meaning(excerpt, breakFollows))},
       {"lineRows",
        [&](std::ostream& rows) {
          for (const CoveredLine& line : excerpt.shown) {
            Page().Write(rows, "line", {{"number", Number(line.number)}, {"text", LineText(line)}});
          }
        }},
       {"omitted", omitted}});
}

void WriteFileSection(std::ostream& out, const FileView& file, const Ids& ids,
                      const PageLimits& limits) {
  const std::size_t f = file.index;
  Html notShown;
  if (file.page.excerptsNotShown > 0) {
    notShown = Page().Fill("excerpts-omitted",
                           {{"count", Text(Counted(file.page.excerptsNotShown, "more bad block"))},
                            {"perFile", Number(limits.excerptsPerFile)},
                            {"mebibytes", Number(limits.excerptBytes >> 20)}});
  }
  const std::string follows = qve_run_file_break_follows(file.run, f);
  const int verdict = qve_run_file_verdict(file.run, f);
  Page().Write(
      out, "file",
      {{"fileId", Text(ids.File(f))},
       {"position", Number(f + 1)},
       {"name", Text(qve_run_file_name(file.run, f))},
       {"verdictClass", Text(VerdictClass(verdict))},
       {"verdict", Text(FileVerdictName(verdict))},
       {"path", Text(qve_run_file_path(file.run, f))},
       {"note", follows.empty() ? Html() : Page().Fill("break-follows", {{"file", Text(follows)}})},
       {"rows", BlockRows(file, ids)},
       {"excerpts",
        [&](std::ostream& excerpts) {
          for (const PageExcerpt& excerpt : file.page.excerpts)
            WriteExcerpt(excerpts, excerpt, ids.Block(f, excerpt.block), follows);
        }},
       {"notShown", notShown}});
}

Html Warnings(const std::vector<std::pair<std::string, std::string>>& warnings, const char* none,
              const char* list) {
  if (warnings.empty()) return Page().Fill(none, {});
  Html items;
  for (const auto& [path, message] : warnings)
    items += Page().Fill("warning", {{"path", Text(path)}, {"message", Text(message)}});
  return Page().Fill(list, {{"items", items}, {"code", Number(kStrictPolicyFailed)}});
}

// The checkpoint's and the strict policy's verdicts on the chain.
Html Judgements(const VerifyOutcome& outcome) {
  Html html;
  qve_run* run = outcome.get();
  if (outcome.record) {
    const bool lost = qve_run_checkpoint(run) == QVE_CHECKPOINT_LOST;
    const std::string text = CheckpointText(outcome);
    // The text starts with the status, which the badge shows.
    const std::size_t colon = text.find(": ");
    html += Page().Fill("checkpoint", {{"class", Text(lost ? "bad" : "good")},
                                       {"status", Text(text.substr(0, colon))},
                                       {"text", Text(text.substr(colon + 2))}});
  }
  if (!outcome.strict) return html;
  std::vector<std::pair<std::string, std::string>> reasons;
  for (std::size_t i = 0; i < qve_run_strict_count(run); ++i)
    reasons.emplace_back(qve_run_strict_path(run, i), qve_run_strict_text(run, i));
  return html += Warnings(reasons, "strict-met", "strict");
}

void WriteChain(std::ostream& out, const HtmlChain& chain, std::size_t index, std::size_t count) {
  const Ids ids{"c" + std::to_string(index + 1)};
  const VerifyOutcome& outcome = chain.outcome;
  qve_run* run = outcome.get();
  // The block FILE records once the run is over: the new one when it was
  // written, else the recorded one where the run holds it.
  int point = -1;
  if (outcome.record && outcome.record->written) {
    point = QVE_POINT_NOW;
  } else if (outcome.record && qve_run_point_known(run, QVE_POINT_HELD) != 0) {
    point = QVE_POINT_HELD;
  }
  std::vector<FileView> files;
  std::uint64_t blocks = 0, badBlocks = 0, unsignedLines = 0;
  Html badLinks, headline;
  for (std::size_t f = 0; f < outcome.files() && f < chain.files.size(); ++f) {
    FileView& file = files.emplace_back(FileView{run, f, chain.files[f], "", 0});
    if (point >= 0 && qve_run_point_file_index(run, point) == f) {
      file.checkpoint = PointText(run, point);
      file.checkpointLine = qve_run_point_line(run, point);
    }
    blocks += qve_run_file_blocks(run, f);
    badBlocks += qve_run_file_bad_blocks(run, f);
    if (const std::uint32_t tail = qve_run_file_unsigned_first(run, f))
      unsignedLines += qve_run_file_unsigned_last(run, f) - tail + 1;
    const int verdict = qve_run_file_verdict(run, f);
    if (verdict == QVE_FILE_CHAIN_BREAK || verdict == QVE_FILE_INVALID) {
      if (!badLinks.str().empty()) badLinks += Text(", ");
      badLinks += Page().Fill(
          "file-link", {{"fileId", Text(ids.File(f))}, {"name", Text(qve_run_file_name(run, f))}},
          false);
    }
  }
  if (!badLinks.str().empty()) headline = Page().Fill("headline", {{"links", badLinks}});
  std::string heading = "Chain";
  if (count > 1) heading += " " + std::to_string(index + 1) + " of " + std::to_string(count);
  if (!outcome.path.empty()) heading += ": " + outcome.path;
  struct Count {
    std::uint64_t number;
    const char* one;
    const char* many;
  };
  Html counts;
  for (const Count& count :
       {Count{std::uint64_t(qve_run_total_files(run)), "file verified", "files verified"},
        Count{std::uint64_t(qve_run_bad_files(run)), "bad file", "bad files"},
        Count{blocks, "block", "blocks"}, Count{badBlocks, "bad block", "bad blocks"},
        Count{unsignedLines, "unsigned line", "unsigned lines"},
        Count{outcome.warnings.size(), "warning", "warnings"}}) {
    counts += Page().Fill("count", {{"number", Number(count.number)},
                                    {"label", Text(count.number == 1 ? count.one : count.many)}});
  }
  std::vector<std::pair<std::string, std::string>> warnings;
  for (const VerifyWarning& w : outcome.warnings) warnings.emplace_back(w.path, w.message);
  const int order = qve_run_order(run);
  Page().Write(
      out, "chain",
      {{"id", Text(ids.chain)},
       {"heading", Text(heading)},
       {"resultClass", Text(StatusClass(qve_run_status(run)))},
       {"result", Text(StatusText(outcome))},
       {"headline", headline},
       {"judgements", Judgements(outcome)},
       {"counts", counts},
       {"checkpointLegend", point >= 0 ? Page().Fill("checkpoint-legend", {}) : Html()},
       {"order", Text(order == QVE_ORDER_NAME ? "by file name (--order name)"
                      : order == QVE_ORDER_LINKS_WITH_SEAMS
                          ? "by their links, runs the links do not join by name"
                          : "by their links")},
       {"strip",
        [&](std::ostream& strip) {
          for (const FileView& file : files) {
            if (file.index > 0) Page().Write(strip, "strip-arrow", {}, false);
            Page().Write(
                strip, "strip-file",
                {{"fileId", Text(ids.File(file.index))},
                 {"name", Text(qve_run_file_name(run, file.index))},
                 {"cells", [&](std::ostream& cells) { WriteStripCells(cells, file, ids); }}},
                false);
          }
        }},
       {"warnings", Warnings(warnings, "no-warnings", "warnings")},
       {"files", [&](std::ostream& sections) {
          for (const FileView& file : files) WriteFileSection(sections, file, ids, chain.limits);
        }}});
}

}  // namespace

void WriteHtmlReport(std::ostream& out, const std::vector<HtmlChain>& chains) {
  const std::string time = platform::UtcNow("%Y-%m-%d %H:%M:%S UTC");
  std::string command;
  for (const std::string& arg : CommandLineArguments())
    command += (command.empty() ? "" : " ") + platform::QuotedArgument(arg);
  // Written by: the build's description, a line each.
  const std::string description = BuildDescription(ProgramName());
  Html build;
  for (std::size_t at = 0; at <= description.size();) {
    const std::size_t end = std::min(description.find('\n', at), description.size());
    const std::string line = (at == 0 ? "Written by " : "") + description.substr(at, end - at);
    build += Page().Fill("build-line", {{"line", Text(line)}}, false);
    at = end + 1;
  }
  std::string title = "Verification report";
  if (chains.size() == 1) title += ": " + StatusText(chains[0].outcome);
  Page().Write(out, "page",
               {{"title", Text(title)},
                {"time", Text(time)},
                {"host", Text(platform::HostName())},
                {"command", Text(command)},
                {"version", Text(QVE_VERSION)},
                {"build", build},
                {"chainCount", Number(chains.size())},
                {"chains", [&](std::ostream& sections) {
                   for (std::size_t i = 0; i < chains.size(); ++i)
                     WriteChain(sections, chains[i], i, chains.size());
                 }}});
}

}  // namespace qve::cli
