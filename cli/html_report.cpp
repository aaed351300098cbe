// SPDX-License-Identifier: Apache-2.0
#include "cli/html_report.h"

#include <algorithm>
#include <concepts>
#include <functional>
#include <map>
#include <optional>
#include <ostream>
#include <sstream>
#include <stdexcept>
#include <string_view>
#include <utility>

#include "cli/frame.h"
#include "command/build_description.h"
#include "platform/command_text.h"
#include "platform/host_name.h"
#include "platform/utc_time.h"

namespace qve::cli {

using command::BuildDescription;

extern const std::string_view kReportTemplate;

// ---- Gathering -------------------------------------------------------------

// What a kept line costs besides its bytes, so that empty lines count too.
constexpr std::uint64_t kLineCost = 64;

void PageGatherer::OnRestart() {
  files.clear();
  excerptBytes_ = 0;
}

void PageGatherer::OnFileStart(qve_run* run) {
  // Read again from its start: what was kept of the file no longer holds.
  if (qve_run_event_reading(run) > 1 && !files.empty()) {
    excerptBytes_ -= files.back().excerptBytes;
    files.pop_back();
  }
  files.emplace_back();
}

void PageGatherer::OnBlock(qve_run* run) {
  PageFile& file = files.back();
  const std::size_t index = file.blocks++;
  const int verdict = qve_run_block_verdict(run);
  const LineRange lines{qve_run_block_first_line(run), qve_run_block_last_line(run)};
  if (verdict >= QVE_BLOCK_INVALID) {
    PageExcerpt excerpt{{verdict, lines}, index, qve_run_block_covers_no_line(run) != 0, {}};
    // The lines that fit in what is left of the page's room.
    const std::size_t count = qve_run_block_excerpt_count(run);
    std::uint64_t cost = 0;
    for (std::size_t i = 0; i < count; ++i) {
      std::size_t length = 0;
      const char* text = qve_run_block_excerpt_text(run, i, &length);
      if (excerptBytes_ + cost + length + kLineCost > limits_.excerptBytes) break;
      cost += length + kLineCost;
      excerpt.shown.push_back({qve_run_block_excerpt_line(run, i), std::string(text, length),
                               qve_run_block_excerpt_covered(run, i),
                               qve_run_block_excerpt_nul(run, i) != 0});
    }
    if (file.excerpts.size() < limits_.excerptsPerFile && (!excerpt.shown.empty() || count == 0)) {
      excerptBytes_ += cost;
      file.excerptBytes += cost;
      file.excerpts.push_back(std::move(excerpt));
    } else {
      ++file.excerptsNotShown;
    }
  }
  if (file.blocksNotListed == 0 && !file.runs.empty() && file.runs.back().verdict == verdict) {
    file.runs.back().lines.last = lines.last;
    ++file.runs.back().blocks;
  } else if (file.blocksNotListed == 0 && file.runs.size() < limits_.runsPerFile) {
    file.runs.push_back({{verdict, lines}, 1, index});
  } else {
    if (file.blocksNotListed++ == 0) file.notListed.first = lines.first;
    file.notListed.last = lines.last;
  }
}

namespace {

// ---- Markup that is safe by construction ----------------------------------

// The template's fragments by name. Each runs from its comment line to the
// next one, less its last line break.
std::string_view Fragment(std::string_view name) {
  static const auto fragments = [] {
    static constexpr std::string_view kOpen = "<!--# ", kClose = " -->\n";
    std::map<std::string_view, std::string_view> found;
    std::string_view rest = kReportTemplate;
    for (std::size_t at; (at = rest.rfind(kOpen)) != std::string_view::npos;
         rest.remove_suffix(rest.size() - at)) {
      const std::string_view fragment =
          rest.substr(at + kOpen.size(), rest.size() - at - kOpen.size() - 1);
      const std::size_t nameEnd = fragment.find(kClose);
      found[fragment.substr(0, nameEnd)] = fragment.substr(nameEnd + kClose.size());
    }
    return found;
  }();
  return fragments.at(name);
}

// Writes the page. Only the template's fragments and escaped text reach it,
// so text from a log never becomes markup.
class Page {
 public:
  // What fills a {{key}}: text, escaped, or markup that the page writes when
  // the slot's place comes, so that long parts of it are never held whole.
  struct Fill {
    Fill(std::string text) : write([text = std::move(text)](Page& page) { page.Text(text); }) {}
    Fill(const char* text) : Fill(std::string(text)) {}
    Fill(std::uint64_t number) : Fill(std::to_string(number)) {}
    template <std::invocable<Page&> Markup>
    Fill(Markup markup) : write(std::move(markup)) {}
    std::function<void(Page&)> write;
  };
  struct Slot {
    std::string_view key;
    Fill fill;
  };

  explicit Page(std::ostream& out) : out_(out) {}

  // The template's fragment, each {{key}} in it filled.
  void operator()(std::string_view fragment, std::initializer_list<Slot> slots = {}) {
    const std::string_view text = Fragment(fragment);
    std::size_t at = 0;
    for (std::size_t open; (open = text.find("{{", at)) != std::string_view::npos;) {
      const std::size_t close = text.find("}}", open);
      const std::string_view key = text.substr(open + 2, close - open - 2);
      const auto slot = std::ranges::find(slots, key, &Slot::key);
      if (slot == slots.end()) throw std::logic_error("no value for {{" + std::string(key) + "}}");
      out_ << text.substr(at, open - at);
      slot->fill.write(*this);
      at = close + 2;
    }
    out_ << text.substr(at);
  }

  // Codes stand in the template's escape markup, around its one slot.
  void Text(std::string_view text) {
    static const std::string_view markup = Fragment("escape");
    static const std::size_t slot = markup.find("{{code}}");
    out_ << EscapedHtml(text, markup.substr(0, slot), markup.substr(slot + 8));
  }

 private:
  std::ostream& out_;
};

// A fragment as a slot's markup, or nothing for no name. Its slots are
// those of the call of the page it is given to, and live as long.
Page::Fill Part(std::string_view fragment, std::initializer_list<Page::Slot> slots = {}) {
  return [=](Page& page) {
    if (!fragment.empty()) page(fragment, slots);
  };
}

// Each warning, an item of a list.
Page::Fill Items(const std::vector<VerifyWarning>& warnings) {
  return [&warnings](Page& items) {
    for (const VerifyWarning& w : warnings)
      items("warning", {{"path", w.path}, {"message", w.message}});
  };
}

// ---- The chain as the page shows it ---------------------------------------

constexpr std::string_view kDash = "–";

// A cell's look; the template's legend explains each.
struct Kind {
  const char* name;  // CSS class
  const char* letter;
};

// By block verdict code.
constexpr Kind kBlockKinds[] = {{"ok", "✓"},      {"unsigned", "U"}, {"nosig", "N"},
                                {"invalid", "I"}, {"break", "B"},    {"unexpected", "X"}};

const Kind& KindOf(int verdict) {
  return verdict >= 0 && verdict < 6 ? kBlockKinds[verdict] : kBlockKinds[5];
}

// The badge's look, by a file's verdict or by a chain's status: both
// numbered from OK, then UNSIGNED (QVEHelper.h).
const char* BadgeClass(int code, bool file) {
  constexpr const char* kClasses[] = {"good", "plain", "broken"};
  return code >= 0 && code < (file ? 3 : 2) ? kClasses[code] : "bad";
}

std::string StatusText(const VerifyOutcome& outcome) {
  return qve::cli::StatusText(qve_run_status(outcome.get()), qve_run_result(outcome.get()));
}

// A chain's section: its ids, and the block its checkpoint records.
struct ChainView {
  ChainView(const HtmlChain& chain, std::size_t index)
      : chain(chain), run(chain.outcome.get()), id("c" + std::to_string(index + 1)) {
    // The block FILE records once the run is over: the new one when it was
    // written, else the recorded one where the run holds it.
    const auto& record = chain.outcome.record;
    if (record && record->written) {
      point = QVE_POINT_NOW;
    } else if (record && qve_run_point_known(run, QVE_POINT_HELD) != 0) {
      point = QVE_POINT_HELD;
    }
  }
  std::size_t Files() const { return std::min(chain.outcome.files(), chain.files.size()); }
  std::string FileId(std::size_t f) const { return id + "-f" + std::to_string(f + 1); }
  std::string BlockId(std::size_t f, std::size_t block) const {
    return FileId(f) + "-b" + std::to_string(block + 1);
  }
  // The checkpoint's block in words, where the lines of file `f` hold it.
  std::string Mark(std::size_t f, LineRange lines) const {
    if (point < 0 || qve_run_point_file_index(run, point) != f) return "";
    const std::uint32_t line = qve_run_point_line(run, point);
    return lines.first <= line && line <= lines.last ? PointText(run, point) : "";
  }

  const HtmlChain& chain;
  qve_run* run;
  std::string id;
  int point = -1;  // QVE_POINT_*, or none
};

// The strip's cells or the table's rows of file `f`: its runs of blocks, the
// blocks not listed, and bytes that no block covers. Each fragment shows
// what it needs of the same slots.
void WritePieces(Page& page, const ChainView& chain, std::size_t f, bool strip) {
  const PageFile& file = chain.chain.files[f];
  qve_run* run = chain.run;
  if (file.runs.empty() && file.blocksNotListed == 0) {
    const bool opened = qve_run_file_opened(run, f) != 0;
    page(strip ? "empty-cell" : "empty-row",
         {{"tip", opened ? "no lines" : "cannot be read"},
          {"note", opened ? "No lines." : "The file cannot be read."}});
  }
  // `count` shows in the table, and on the strip's cells of lines.
  const auto piece = [&](const Kind& kind, std::optional<LineRange> lines, const std::string& words,
                         std::uint64_t count, const std::string& blocks = "",
                         const std::string& target = "") {
    const std::string mark = lines ? chain.Mark(f, *lines) : "";
    std::string tip =
        lines ? LinesText(lines->first, lines->last, kDash) + ": " + blocks + words : words;
    if (!mark.empty()) tip += "; the checkpoint: " + mark;
    page(!strip           ? "block-row"
         : target.empty() ? "cell"
                          : "cell-link",
         {{"kind", kind.name},
          {"letter", kind.letter},
          {"mark", mark.empty() ? "" : " checkpoint"},
          {"tip", tip},
          {"target", target},
          {"count", Part(lines && count > 1 ? "cell-count" : "", {{"count", count}})},
          {"lines", lines ? RangeText(lines->first, lines->last, kDash) : ""},
          {"verdict", words},
          {"number", count}});
  };
  for (const PageRun& r : file.runs) {
    // Its cell links to its first block's lines, where the page shows them.
    const bool shown =
        std::ranges::find(file.excerpts, r.firstBlock, &PageExcerpt::block) != file.excerpts.end();
    piece(KindOf(r.verdict), r.lines, qve_result_name(QVE_RESULT_OF_BLOCK, r.verdict), r.blocks,
          r.blocks > 1 ? Counted(r.blocks, "block") + " " : "",
          shown ? chain.BlockId(f, r.firstBlock) : "");
  }
  if (const std::uint64_t more = file.blocksNotListed; more > 0)
    piece({"more", "…"}, file.notListed, Counted(more, "more block") + " not listed one by one",
          more);
  if (const std::uint32_t lines = qve_run_file_nul_lines(run, f); lines > 0)
    piece({"ignored", "–"}, std::nullopt, AfterNulText(run, f) + " not covered", lines);
  if (const std::uint32_t line = qve_run_file_end_of_input_line(run, f); line > 0) {
    piece({"ignored", "–"}, std::nullopt,
          Counted(qve_run_file_end_of_input_bytes(run, f), "byte") +
              " after the end-of-input byte 0x1A not read (line " + std::to_string(line) + ")",
          1);
  }
}

void WriteExcerpt(Page& page, const PageExcerpt& excerpt, const std::string& id,
                  const std::string& breakFollows) {
  const std::uint32_t covered = excerpt.coversNoLine ? 0 : excerpt.lines.last - excerpt.lines.first;
  const std::size_t shown = excerpt.shown.size();
  const Kind& kind = KindOf(excerpt.verdict);
  const char* meaning = excerpt.verdict == QVE_BLOCK_INVALID          ? "meaning-invalid"
                        : excerpt.verdict != QVE_BLOCK_CHAIN_BREAK    ? "meaning-unexpected"
                        : excerpt.block == 0 && !breakFollows.empty() ? "meaning-break-follows"
                                                                      : "meaning-break";
  page("excerpt",
       {{"id", id},
        {"kind", kind.name},
        {"letter", kind.letter},
        {"verdict", qve_result_name(QVE_RESULT_OF_BLOCK, excerpt.verdict)},
        {"lines",
         covered ? LinesText(excerpt.lines.first, excerpt.lines.last - 1, kDash) : "no data lines"},
        {"signatureLine", excerpt.lines.last},
        {"meaning", Part(meaning, {{"file", breakFollows}})},
        {"lineRows",
         [&](Page& rows) {
           for (const CoveredLine& line : excerpt.shown) {
             const std::uint64_t more = line.coveredBytes - line.shown.size();
             rows("line", {{"number", line.number},
                           {"text", line.shown},
                           {"more", Part(more > 0 ? "more-bytes" : "",
                                         {{"count", Counted(more, "more byte")}})},
                           {"nul", Part(line.nul ? "nul" : "")}});
           }
         }},
        {"omitted", Part(covered == 0      ? "omitted-none"
                         : covered > shown ? "omitted"
                                           : "",
                         {{"count", Counted(covered - shown, "more line")}, {"shown", shown}})}});
}

void WriteFile(Page& page, const ChainView& chain, std::size_t f) {
  const PageFile& file = chain.chain.files[f];
  const PageLimits& limits = chain.chain.limits;
  const std::string follows = qve_run_file_break_follows(chain.run, f);
  const int verdict = qve_run_file_verdict(chain.run, f);
  page("file", {{"fileId", chain.FileId(f)},
                {"position", f + 1},
                {"name", qve_run_file_name(chain.run, f)},
                {"verdictClass", BadgeClass(verdict, true)},
                {"verdict", qve_result_name(QVE_RESULT_OF_FILE, verdict)},
                {"path", qve_run_file_path(chain.run, f)},
                {"note", Part(follows.empty() ? "" : "break-follows", {{"file", follows}})},
                {"rows", [&](Page& rows) { WritePieces(rows, chain, f, false); }},
                {"excerpts",
                 [&](Page& excerpts) {
                   for (const PageExcerpt& excerpt : file.excerpts)
                     WriteExcerpt(excerpts, excerpt, chain.BlockId(f, excerpt.block), follows);
                 }},
                {"notShown", Part(file.excerptsNotShown > 0 ? "excerpts-omitted" : "",
                                  {{"count", Counted(file.excerptsNotShown, "more bad block")},
                                   {"perFile", limits.excerptsPerFile},
                                   {"mebibytes", limits.excerptBytes >> 20}})}});
}

// The checkpoint's and the strict policy's verdicts on the chain.
void WriteJudgements(Page& page, const VerifyOutcome& outcome) {
  qve_run* run = outcome.get();
  if (outcome.record) {
    const std::string text = CheckpointText(outcome);
    // The text starts with the status, which the badge shows.
    const std::size_t colon = text.find(": ");
    page("checkpoint", {{"class", qve_run_checkpoint(run) == QVE_CHECKPOINT_LOST ? "bad" : "good"},
                        {"status", text.substr(0, colon)},
                        {"text", text.substr(colon + 2)}});
  }
  if (!outcome.strict) return;
  std::vector<VerifyWarning> reasons;
  for (std::size_t i = 0; i < qve_run_strict_count(run); ++i)
    reasons.push_back({qve_run_strict_path(run, i), qve_run_strict_text(run, i)});
  page(reasons.empty() ? "strict-met" : "strict",
       {{"code", QVE_STATUS_STRICT_FAILED}, {"items", Items(reasons)}});
}

// The reasons of one chain, which the text output says a line each, on one.
std::string Joined(std::string reasons) {
  for (std::size_t at; (at = reasons.find('\n')) != std::string::npos;)
    reasons.replace(at, 1, "; ");
  return reasons;
}

std::string Heading(const HtmlChain& chain, std::size_t index, std::size_t count) {
  std::string heading = "Chain";
  if (count > 1) heading += " " + std::to_string(index + 1) + " of " + std::to_string(count);
  if (!chain.outcome.path.empty()) heading += ": " + chain.outcome.path;
  return heading;
}

void WriteChain(Page& page, const HtmlChain& chain, std::size_t index, std::size_t count) {
  if (chain.error) {
    const int status = chain.error->status;
    page("chain-failed", {{"id", "c" + std::to_string(index + 1)},
                          {"heading", Heading(chain, index, count)},
                          {"result", qve::cli::StatusText(status, status)},
                          {"reason", Joined(chain.error->what())}});
    return;
  }
  const ChainView view(chain, index);
  const VerifyOutcome& outcome = chain.outcome;
  qve_run* run = view.run;
  std::uint64_t blocks = 0, badBlocks = 0, unsignedLines = 0;
  std::vector<std::size_t> bad;
  for (std::size_t f = 0; f < view.Files(); ++f) {
    blocks += qve_run_file_blocks(run, f);
    badBlocks += qve_run_file_bad_blocks(run, f);
    if (const std::uint32_t tail = qve_run_file_unsigned_first(run, f))
      unsignedLines += qve_run_file_unsigned_last(run, f) - tail + 1;
    const int verdict = qve_run_file_verdict(run, f);
    if (verdict == QVE_FILE_CHAIN_BREAK || verdict == QVE_FILE_INVALID) bad.push_back(f);
  }
  const std::string heading = Heading(chain, index, count);
  const int order = qve_run_order(run);
  page("chain", {{"id", view.id},
                 {"heading", heading},
                 {"resultClass", BadgeClass(qve_run_status(run), false)},
                 {"result", StatusText(outcome)},
                 {"headline", Part(bad.empty() ? "" : "headline",
                                   {{"links",
                                     [&](Page& links) {
                                       for (const std::size_t f : bad) {
                                         if (f != bad.front()) links.Text(", ");
                                         links("file-link", {{"fileId", view.FileId(f)},
                                                             {"name", qve_run_file_name(run, f)}});
                                       }
                                     }}})},
                 {"judgements", [&](Page& judgements) { WriteJudgements(judgements, outcome); }},
                 {"counts",
                  [&](Page& counts) {
                    const auto count = [&](std::uint64_t number, const char* one,
                                           const char* many) {
                      counts("count", {{"number", number}, {"label", number == 1 ? one : many}});
                    };
                    count(qve_run_total_files(run), "file verified", "files verified");
                    count(qve_run_bad_files(run), "bad file", "bad files");
                    count(blocks, "block", "blocks");
                    count(badBlocks, "bad block", "bad blocks");
                    count(unsignedLines, "unsigned line", "unsigned lines");
                    count(outcome.warnings.size(), "warning", "warnings");
                  }},
                 {"checkpointLegend", Part(view.point >= 0 ? "checkpoint-legend" : "")},
                 {"order", order == QVE_ORDER_NAME ? "by file name (--order name)"
                           : order == QVE_ORDER_LINKS_WITH_SEAMS
                               ? "by their links, runs the links do not join by name"
                               : "by their links"},
                 {"strip",
                  [&](Page& strip) {
                    for (std::size_t f = 0; f < view.Files(); ++f) {
                      if (f > 0) strip("strip-arrow");
                      strip("strip-file",
                            {{"fileId", view.FileId(f)},
                             {"name", qve_run_file_name(run, f)},
                             {"cells", [&](Page& cells) { WritePieces(cells, view, f, true); }}});
                    }
                  }},
                 {"warnings", Part(outcome.warnings.empty() ? "no-warnings" : "warnings",
                                   {{"items", Items(outcome.warnings)}})},
                 {"files", [&](Page& files) {
                    for (std::size_t f = 0; f < view.Files(); ++f) WriteFile(files, view, f);
                  }}});
}

}  // namespace

void WriteHtmlReport(std::ostream& out, const std::vector<HtmlChain>& chains, int exitStatus) {
  std::string command;
  for (const std::string& arg : CommandLineArguments())
    command += (command.empty() ? "" : " ") + platform::QuotedArgument(arg);
  std::string title = "Verification report";
  title += ": " + qve::cli::StatusText(exitStatus, exitStatus);
  Page page(out);
  page("page", {{"title", title},
                {"time", platform::UtcNow("%Y-%m-%d %H:%M:%S UTC")},
                {"host", platform::HostName()},
                {"command", command},
                {"version", QVE_VERSION},
                {"build",
                 [&](Page& build) {
                   // Written by: the build's description, a line each.
                   std::istringstream lines("Written by " + BuildDescription(ProgramName()));
                   for (std::string line; std::getline(lines, line);)
                     build("build-line", {{"line", line}});
                 }},
                {"chainCount", chains.size()},
                {"exitClass", BadgeClass(exitStatus, false)},
                {"exitStatus", qve::cli::StatusText(exitStatus, exitStatus)},
                {"chains", [&](Page& sections) {
                   for (std::size_t i = 0; i < chains.size(); ++i)
                     WriteChain(sections, chains[i], i, chains.size());
                 }}});
}

}  // namespace qve::cli
