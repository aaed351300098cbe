#include "cli/html_report.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <ctime>
#include <fstream>
#include <map>
#include <optional>
#include <stdexcept>
#include <string_view>
#include <utility>

#include "cli/build_description.h"
#include "cli/command_line.h"
#include "platform/files.h"
#include "platform/host_name.h"
#include "platform/paths.h"
#include "platform/text_reader.h"
#include "verify/log_line.h"

namespace qve::cli {

extern const std::string_view kReportTemplate;

namespace {

using Json = nlohmann::ordered_json;

// Covered lines shown per bad block, and bytes shown per line.
constexpr std::uint32_t kExcerptLines = 200;
constexpr std::size_t kShownLineBytes = 4000;
// The text reading of the log writer's platform ends the input here.
constexpr char kEndOfInput = 0x1A;

// ---- Markup that is safe by construction ----------------------------------

// Only Fill and Text make one, so text from a log never becomes markup.
class Html {
 public:
  Html() = default;
  const std::string& str() const { return text_; }
  Html& operator+=(const Html& more) {
    text_ += more.text_;
    return *this;
  }

 private:
  friend class Template;
  friend Html Text(std::string_view bytes);
  explicit Html(std::string text) : text_(std::move(text)) {}
  std::string text_;
};

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

  Html Fill(std::string_view name, std::initializer_list<std::pair<std::string_view, Html>> slots,
            bool lineEnd = true) const {
    const auto fragment = fragments_.find(name);
    if (fragment == fragments_.end())
      throw std::logic_error("no template fragment " + std::string(name));
    const std::string_view text = fragment->second;
    std::string out;
    std::size_t at = 0;
    for (std::size_t open; (open = text.find("{{", at)) != std::string_view::npos;) {
      const std::size_t close = text.find("}}", open);
      const std::string_view key = text.substr(open + 2, close - open - 2);
      const auto slot =
          std::find_if(slots.begin(), slots.end(), [&](const auto& s) { return s.first == key; });
      if (slot == slots.end()) throw std::logic_error("no value for {{" + std::string(key) + "}}");
      out.append(text.substr(at, open - at)).append(slot->second.str());
      at = close + 2;
    }
    out.append(text.substr(at));
    if (lineEnd) out += '\n';
    return Html(std::move(out));
  }

 private:
  std::map<std::string, std::string_view, std::less<>> fragments_;
};

const Template& Page() {
  static const Template page(kReportTemplate);
  return page;
}

std::string Hex(std::uint32_t value, int digits) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  std::string out;
  for (int shift = (digits - 1) * 4; shift >= 0; shift -= 4) out += kDigits[(value >> shift) & 0xF];
  return out;
}

Html Text(std::string_view bytes);

Html Escaped(std::string code) { return Page().Fill("escape", {{"code", Text(code)}}, false); }

// Characters that would hide or reorder what is around them: controls,
// line separators and bidirectional overrides.
bool IsInvisible(char32_t c) {
  return (c < 0x20 && c != '\t') || (c >= 0x7F && c <= 0x9F) || c == 0x061C ||
         (c >= 0x200E && c <= 0x200F) || (c >= 0x2028 && c <= 0x202E) ||
         (c >= 0x2066 && c <= 0x2069);
}

// One UTF-8 character at the start of `bytes`: its length, 0 when invalid.
std::size_t Utf8Length(std::string_view bytes, char32_t* c) {
  const auto lead = static_cast<unsigned char>(bytes[0]);
  const std::size_t length = lead < 0x80           ? 1
                             : (lead >> 5) == 0x6  ? 2
                             : (lead >> 4) == 0xE  ? 3
                             : (lead >> 3) == 0x1E ? 4
                                                   : 0;
  if (length == 0 || length > bytes.size()) return 0;
  *c = length == 1 ? lead : lead & (0x7F >> length);
  for (std::size_t k = 1; k < length; ++k) {
    const auto next = static_cast<unsigned char>(bytes[k]);
    if ((next & 0xC0) != 0x80) return 0;
    *c = (*c << 6) | (next & 0x3F);
  }
  static constexpr char32_t kSmallest[] = {0, 0, 0x80, 0x800, 0x10000};
  if (*c < kSmallest[length] || *c > 0x10FFFF || (*c >= 0xD800 && *c <= 0xDFFF)) return 0;
  return length;
}

// Bytes as text: markup characters become entities; invalid UTF-8 and
// invisible characters are shown by their code.
Html Text(std::string_view bytes) {
  std::string out;
  out.reserve(bytes.size());
  for (std::size_t i = 0; i < bytes.size();) {
    char32_t c = 0;
    const std::size_t length = Utf8Length(bytes.substr(i), &c);
    if (length == 0) {
      out += Escaped("\\x" + Hex(static_cast<unsigned char>(bytes[i]), 2)).str();
      ++i;
      continue;
    }
    if (IsInvisible(c)) {
      out += Escaped(c < 0x100 ? "\\x" + Hex(c, 2) : "U+" + Hex(c, 4)).str();
    } else if (c == '&') {
      out += "&amp;";
    } else if (c == '<') {
      out += "&lt;";
    } else if (c == '>') {
      out += "&gt;";
    } else if (c == '"') {
      out += "&quot;";
    } else if (c == '\'') {
      out += "&#39;";
    } else {
      out.append(bytes.substr(i, length));
    }
    i += length;
  }
  return Html(std::move(out));
}

Html Number(std::uint64_t n) { return Text(std::to_string(n)); }

std::string LineRange(std::uint32_t first, std::uint32_t last) {
  return first >= last ? std::to_string(last) : std::to_string(first) + "–" + std::to_string(last);
}

std::string LinesText(std::uint32_t first, std::uint32_t last) {
  return (first >= last ? "line " : "lines ") + LineRange(first, last);
}

// ---- What the page reads of the files themselves --------------------------

struct LineSpan {
  std::uint32_t first;
  std::uint32_t last;
};

// A covered line as the page shows it: cut after kShownLineBytes.
struct ShownLine {
  std::string text;
  std::size_t coveredSize;  // bytes up to the first NUL
  bool hasNul;
};

ShownLine ShownLineOf(std::string_view raw) {
  const std::string_view covered = ClassifyLine(raw).text;
  std::size_t cut = std::min(covered.size(), kShownLineBytes);
  // Never in the middle of a UTF-8 character.
  for (int back = 0; cut < covered.size() && back < 3 && (covered[cut] & 0xC0) == 0x80; ++back) {
    --cut;
  }
  return {std::string(covered.substr(0, cut)), covered.size(), covered.size() < raw.size()};
}

struct FileScan {
  bool readable = false;
  std::vector<std::uint32_t> signatureLines;
  std::uint32_t linesWithNul = 0;
  std::uint32_t firstLineWithNul = 0;
  std::uint64_t bytesAfterNul = 0;
  std::uint64_t bytesAfterEndOfInput = 0;
  std::map<std::uint32_t, ShownLine> lines;  // the wanted ones
};

std::uint64_t BytesAfterEndOfInput(const std::wstring& path) {
  platform::FileStream in;
  if (!platform::OpenForReading(in, path)) return 0;
  std::array<char, 1 << 16> chunk;
  std::uint64_t after = 0;
  bool seen = false;
  while (in.read(chunk.data(), chunk.size()) || in.gcount() > 0) {
    const std::string_view got(chunk.data(), static_cast<std::size_t>(in.gcount()));
    if (seen) {
      after += got.size();
    } else if (const auto at = got.find(kEndOfInput); at != std::string_view::npos) {
      seen = true;
      after += got.size() - at - 1;
    }
  }
  return after;
}

// Reads the file through the verifier's own line rules. `wanted` is sorted
// and its spans do not overlap.
FileScan ScanFile(const std::wstring& path, const std::vector<LineSpan>& wanted) {
  FileScan scan;
  const std::optional<std::string> narrow = platform::ToNarrow(path);
  if (!narrow) return scan;
  platform::TextLineReader reader(*narrow);
  scan.readable = reader.isOpen();
  if (!scan.readable) return scan;
  auto span = wanted.begin();
  std::uint32_t number = 0;
  std::string_view raw;
  while (reader.NextLine(&raw)) {
    ++number;
    const LogLine line = ClassifyLine(raw);
    if (line.isSignature) scan.signatureLines.push_back(number);
    if (line.text.size() < raw.size()) {
      if (scan.linesWithNul++ == 0) scan.firstLineWithNul = number;
      scan.bytesAfterNul += raw.size() - line.text.size();
    }
    while (span != wanted.end() && span->last < number) ++span;
    if (span != wanted.end() && span->first <= number) {
      scan.lines[number] = ShownLineOf(raw);
    }
  }
  scan.bytesAfterEndOfInput = BytesAfterEndOfInput(path);
  return scan;
}

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

bool IsBad(std::int64_t verdict) { return verdict >= 3; }

const Kind& KindOf(std::int64_t verdict) {
  return verdict >= 0 && verdict < 6 ? kBlockKinds[verdict] : kBlockKinds[5];
}

struct Block {
  std::int64_t verdict;
  std::string verdictName;
  std::uint32_t first;
  std::uint32_t last;
};

struct FileView {
  std::string name;
  std::string path;
  std::string verdict;
  std::vector<Block> blocks;  // every block, in file order when `ordered`
  bool ordered = true;
  std::uint64_t unsignedLines = 0;
  FileScan scan;
};

std::vector<Block> ListedBlocks(const Json& detail) {
  std::vector<Block> listed;
  for (const Json& block : detail.value("blocks", Json::array())) {
    listed.push_back({block.value("verdictCode", std::int64_t{5}), block.value("verdict", ""),
                      block.value("firstLine", 0u), block.value("lastLine", 0u)});
  }
  return listed;
}

// The blocks that the document does not list are BlockOk; where they stand
// comes from the file's signature lines.
void PlaceBlocks(FileView& file, std::vector<Block> listed, std::uint32_t blockCount) {
  std::optional<Block> tail;
  if (!listed.empty() && listed.back().verdict == 1) {
    tail = listed.back();
    listed.pop_back();
  }
  const auto& signatures = file.scan.signatureLines;
  const std::size_t known = listed.size() + (tail ? 1 : 0);
  std::size_t next = 0;  // both lists run in file order
  std::uint32_t previous = 0;
  for (const std::uint32_t line : signatures) {
    if (next < listed.size() && listed[next].last == line) {
      file.blocks.push_back(listed[next++]);
    } else {
      file.blocks.push_back({0, "BlockOk", previous + 1 < line ? previous + 1 : line, line});
    }
    previous = line;
  }
  if (next != listed.size() || signatures.size() + (tail ? 1 : 0) != blockCount) {
    // The file changed since it was verified: keep what the document says.
    file.ordered = false;
    file.blocks.assign(blockCount > known ? blockCount - known : 0, {0, "BlockOk", 0, 0});
    file.blocks.insert(file.blocks.end(), listed.begin(), listed.end());
  }
  if (tail) file.blocks.push_back(*tail);
}

std::string FileVerdictOf(const Json& detail, const Json& listed, std::size_t* next) {
  if (detail.contains("verdict")) return detail["verdict"].get<std::string>();
  const std::uint64_t bad = detail.value("badBlockCount", 0u);
  const std::vector<Block> blocks = ListedBlocks(detail);
  const bool allUnsigned = blocks.size() == detail.value("blockCount", 0u) &&
                           std::all_of(blocks.begin(), blocks.end(), [](const Block& b) {
                             return b.verdict == 1 || b.verdict == 2;
                           });
  const std::string expected = bad ? "" : allUnsigned ? "FileUnsigned" : "FileOk";
  // Records exist for every file but the FileOk ones left out, in the same order.
  if (*next < listed.size()) {
    const Json& record = listed[*next];
    const std::string verdict = record.value("verdict", "");
    const bool same =
        record.value("name", "") == detail.value("name", "") &&
        (bad ? verdict != "FileOk" && verdict != "FileUnsigned" : verdict == expected);
    if (same) {
      ++*next;
      return verdict;
    }
  }
  return expected.empty() ? "FileInvalid" : expected;
}

const char* VerdictClass(std::string_view verdict) {
  if (verdict == "FileOk" || verdict == "ReportOk") return "good";
  if (verdict == "FileUnsigned" || verdict == "ReportUnsigned") return "plain";
  if (verdict == "FileChainBreak") return "broken";
  return "bad";
}

std::string JsonText(const Json& value) {
  return value.is_string() ? value.get<std::string>() : value.dump();
}

std::vector<FileView> FilesOf(const HtmlChain& chain) {
  std::vector<FileView> files;
  const Json& details = chain.report.value("details", Json::array());
  const Json& listed = chain.report.value("files", Json::array());
  std::size_t next = 0;
  for (std::size_t i = 0; i < details.size(); ++i) {
    const Json& detail = details[i];
    FileView file;
    file.name = detail.value("name", "");
    file.path = detail.value("path", "");
    file.verdict = FileVerdictOf(detail, listed, &next);
    std::vector<Block> blocks = ListedBlocks(detail);
    std::vector<LineSpan> wanted;
    for (const Block& block : blocks) {
      if (IsBad(block.verdict) && block.first < block.last) {
        wanted.push_back({block.first, std::min(block.last - 1, block.first + kExcerptLines - 1)});
      }
      if (block.verdict == 1) file.unsignedLines += block.last - block.first + 1;
    }
    if (detail.contains("unsignedLines") && detail["unsignedLines"].is_object()) {
      const Json& tail = detail["unsignedLines"];
      file.unsignedLines = tail.value("last", 0u) - tail.value("first", 0u) + 1;
    }
    if (i < chain.paths.size()) file.scan = ScanFile(chain.paths[i], wanted);
    PlaceBlocks(file, std::move(blocks), detail.value("blockCount", 0u));
    files.push_back(std::move(file));
  }
  return files;
}

// ---- Rendering ------------------------------------------------------------

struct Ids {
  std::string chain;
  std::string File(std::size_t f) const { return chain + "-f" + std::to_string(f + 1); }
  std::string Block(std::size_t f, std::size_t b) const {
    return File(f) + "-b" + std::to_string(b + 1);
  }
};

Html Cell(const Kind& kind, const std::string& tip, const std::string& target = "") {
  if (target.empty()) {
    return Page().Fill(
        "cell", {{"kind", Text(kind.name)}, {"tip", Text(tip)}, {"letter", Text(kind.letter)}},
        false);
  }
  return Page().Fill("cell-link",
                     {{"kind", Text(kind.name)},
                      {"target", Text(target)},
                      {"tip", Text(tip)},
                      {"letter", Text(kind.letter)}},
                     false);
}

std::string Counted(std::uint64_t n, const char* one, const char* many) {
  return std::to_string(n) + " " + (n == 1 ? one : many);
}

std::string IgnoredAfterNul(const FileScan& scan) {
  return Counted(scan.bytesAfterNul, "byte", "bytes") + " after a NUL on " +
         Counted(scan.linesWithNul, "line", "lines") + " (first at line " +
         std::to_string(scan.firstLineWithNul) + ") not covered";
}

std::string IgnoredAfterEnd(const FileScan& scan) {
  return Counted(scan.bytesAfterEndOfInput, "byte", "bytes") +
         " after the end-of-input byte 0x1A not read";
}

Html StripCells(const FileView& file, const Ids& ids, std::size_t f) {
  Html cells;
  if (file.blocks.empty()) {
    cells += Cell(kNoLines, file.scan.readable ? "no lines" : "cannot be read");
  }
  for (std::size_t b = 0; b < file.blocks.size(); ++b) {
    const Block& block = file.blocks[b];
    const std::string tip =
        (file.ordered || block.verdict != 0 ? LinesText(block.first, block.last) + ": "
                                            : std::string()) +
        block.verdictName;
    cells += Cell(KindOf(block.verdict), tip, IsBad(block.verdict) ? ids.Block(f, b) : "");
  }
  if (file.scan.bytesAfterNul) cells += Cell(kIgnored, IgnoredAfterNul(file.scan));
  if (file.scan.bytesAfterEndOfInput) cells += Cell(kIgnored, IgnoredAfterEnd(file.scan));
  return cells;
}

Html Strip(const std::vector<FileView>& files, const Ids& ids) {
  Html strip;
  for (std::size_t f = 0; f < files.size(); ++f) {
    if (f > 0) strip += Page().Fill("strip-arrow", {}, false);
    strip += Page().Fill("strip-file",
                         {{"fileId", Text(ids.File(f))},
                          {"name", Text(files[f].name)},
                          {"cells", StripCells(files[f], ids, f)}},
                         false);
  }
  return strip;
}

Html BlockRow(const Kind& kind, const std::string& lines, const std::string& verdict,
              std::uint64_t count) {
  return Page().Fill("block-row", {{"lines", Text(lines)},
                                   {"kind", Text(kind.name)},
                                   {"letter", Text(kind.letter)},
                                   {"verdict", Text(verdict)},
                                   {"count", Number(count)}});
}

// Runs of BlockOk blocks share a row; every other block has its own.
Html BlockRows(const FileView& file) {
  Html rows;
  if (file.blocks.empty()) {
    const char* note = file.scan.readable ? "No lines." : "The file cannot be read.";
    rows += Page().Fill("empty-row", {{"note", Text(note)}});
  }
  for (std::size_t b = 0; b < file.blocks.size();) {
    std::size_t end = b + 1;
    if (file.blocks[b].verdict == 0) {
      while (end < file.blocks.size() && file.blocks[end].verdict == 0) ++end;
    }
    const Block& first = file.blocks[b];
    const std::string lines =
        file.ordered || first.verdict != 0 ? LineRange(first.first, file.blocks[end - 1].last) : "";
    rows += BlockRow(KindOf(first.verdict), lines, first.verdictName, end - b);
    b = end;
  }
  if (file.scan.bytesAfterNul) {
    rows += BlockRow(kIgnored, "", IgnoredAfterNul(file.scan), file.scan.linesWithNul);
  }
  if (file.scan.bytesAfterEndOfInput) rows += BlockRow(kIgnored, "", IgnoredAfterEnd(file.scan), 1);
  return rows;
}

Html LineText(const ShownLine& line) {
  Html text = Text(line.text);
  if (line.text.size() < line.coveredSize) {
    text += Escaped("… " + Counted(line.coveredSize - line.text.size(), "more byte", "more bytes"));
  }
  if (line.hasNul) text += Escaped("NUL: the rest of the line is not covered");
  return text;
}

Html Excerpt(const FileView& file, const Block& block, const std::string& id) {
  Html rows;
  const std::uint32_t covered = block.last - block.first;
  const std::uint32_t shown = std::min(covered, kExcerptLines);
  for (std::uint32_t n = block.first; n < block.first + shown; ++n) {
    const auto line = file.scan.lines.find(n);
    if (line == file.scan.lines.end()) continue;
    rows += Page().Fill("line", {{"number", Number(n)}, {"text", LineText(line->second)}});
  }
  Html omitted;
  if (covered == 0) {
    omitted = Page().Fill("omitted-none", {});
  } else if (covered > shown) {
    omitted = Page().Fill("omitted",
                          {{"count", Text(Counted(covered - shown, "more line", "more lines"))},
                           {"shown", Number(shown)}});
  }
  return Page().Fill(
      "excerpt",
      {{"id", Text(id)},
       {"kind", Text(KindOf(block.verdict).name)},
       {"letter", Text(KindOf(block.verdict).letter)},
       {"verdict", Text(block.verdictName)},
       {"lines", Text(covered ? LinesText(block.first, block.last - 1) : "no data lines")},
       {"signatureLine", Number(block.last)},
       {"lineRows", rows},
       {"omitted", omitted}});
}

Html FileSection(const FileView& file, const Ids& ids, std::size_t f) {
  Html excerpts;
  for (std::size_t b = 0; b < file.blocks.size(); ++b) {
    if (IsBad(file.blocks[b].verdict)) excerpts += Excerpt(file, file.blocks[b], ids.Block(f, b));
  }
  return Page().Fill("file", {{"fileId", Text(ids.File(f))},
                              {"position", Number(f + 1)},
                              {"name", Text(file.name)},
                              {"verdictClass", Text(VerdictClass(file.verdict))},
                              {"verdict", Text(file.verdict)},
                              {"path", Text(file.path)},
                              {"rows", BlockRows(file)},
                              {"excerpts", excerpts}});
}

struct Warning {
  std::string path;
  std::string message;
};

// The command's own warnings, and the files that changed between the
// verification and the drawing of the page.
std::vector<Warning> WarningsOf(const Json& report, const std::vector<FileView>& files) {
  std::vector<Warning> warnings;
  if (const auto listed = report.find("warnings"); listed != report.end()) {
    for (const Json& w : *listed)
      warnings.push_back(
          {JsonText(w.value("path", Json(""))), JsonText(w.value("message", Json("")))});
  }
  for (const FileView& file : files) {
    if (!file.ordered) {
      warnings.push_back({file.path,
                          "changed since it was verified; its blocks are shown "
                          "in the order the verification listed them"});
    }
  }
  return warnings;
}

Html ChainSection(const HtmlChain& chain, std::size_t index, std::size_t count) {
  const Ids ids{"c" + std::to_string(index + 1)};
  const Json& report = chain.report;
  const std::vector<FileView> files = FilesOf(chain);
  std::uint64_t blocks = 0, badBlocks = 0, unsignedLines = 0;
  for (const Json& detail : report.value("details", Json::array())) {
    blocks += detail.value("blockCount", 0u);
    badBlocks += detail.value("badBlockCount", 0u);
  }
  Html fileSections, badLinks, headline;
  for (std::size_t f = 0; f < files.size(); ++f) {
    unsignedLines += files[f].unsignedLines;
    fileSections += FileSection(files[f], ids, f);
    if (files[f].verdict != "FileOk" && files[f].verdict != "FileUnsigned") {
      if (!badLinks.str().empty()) badLinks += Text(", ");
      badLinks += Page().Fill(
          "file-link", {{"fileId", Text(ids.File(f))}, {"name", Text(files[f].name)}}, false);
    }
  }
  if (!badLinks.str().empty()) headline = Page().Fill("headline", {{"links", badLinks}});
  const std::vector<Warning> warnings = WarningsOf(report, files);
  Html list;
  if (warnings.empty()) {
    list = Page().Fill("no-warnings", {});
  } else {
    Html items;
    for (const Warning& w : warnings) {
      items += Page().Fill("warning", {{"path", Text(w.path)}, {"message", Text(w.message)}});
    }
    list = Page().Fill("warnings", {{"items", items}});
  }
  std::string heading = "Chain";
  if (count > 1) heading += " " + std::to_string(index + 1) + " of " + std::to_string(count);
  if (!chain.title.empty()) heading += ": " + chain.title;
  const std::string result = report.value("result", "");
  return Page().Fill("chain", {{"id", Text(ids.chain)},
                               {"heading", Text(heading)},
                               {"resultClass", Text(VerdictClass(result))},
                               {"result", Text(result)},
                               {"headline", headline},
                               {"resultCode", Text(JsonText(report.value("resultCode", Json(""))))},
                               {"totalFiles", Text(JsonText(report.value("totalFiles", Json(""))))},
                               {"badFiles", Text(JsonText(report.value("badFiles", Json(""))))},
                               {"blocks", Number(blocks)},
                               {"badBlocks", Number(badBlocks)},
                               {"unsignedLines", Number(unsignedLines)},
                               {"warningCount", Number(warnings.size())},
                               {"strip", Strip(files, ids)},
                               {"warnings", list},
                               {"files", fileSections}});
}

std::string ShellWord(const std::string& arg) {
  if (!arg.empty() && arg.find_first_not_of("abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ"
                                            "0123456789-_./=:,+@%") == std::string::npos) {
    return arg;
  }
  std::string quoted = "'";
  for (const char c : arg) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return quoted + "'";
}

}  // namespace

HtmlRun CurrentRun() {
  HtmlRun run;
  const std::time_t now = std::time(nullptr);
  char time[64] = {};
  if (const std::tm* utc = std::gmtime(&now))
    std::strftime(time, sizeof time, "%Y-%m-%d %H:%M:%S UTC", utc);
  run.time = time;
  run.host = platform::HostName();
  for (const std::string& arg : CommandLineArguments()) {
    if (!run.command.empty()) run.command += ' ';
    run.command += ShellWord(arg);
  }
  run.version = QVE_VERSION;
  run.build = BuildDescription(ProgramName());
  return run;
}

std::string RenderHtmlReport(const std::vector<HtmlChain>& chains, const HtmlRun& run) {
  // Written by: the build's description, a line each.
  Html build;
  for (std::size_t at = 0; at <= run.build.size();) {
    const std::size_t end = std::min(run.build.find('\n', at), run.build.size());
    const std::string line = (at == 0 ? "Written by " : "") + run.build.substr(at, end - at);
    build += Page().Fill("build-line", {{"line", Text(line)}}, false);
    at = end + 1;
  }
  Html sections;
  std::string title = "Verification report";
  for (std::size_t i = 0; i < chains.size(); ++i) {
    sections += ChainSection(chains[i], i, chains.size());
    if (chains.size() == 1) title += ": " + chains[i].report.value("result", "");
  }
  return Page()
      .Fill("page", {{"title", Text(title)},
                     {"time", Text(run.time)},
                     {"host", Text(run.host)},
                     {"command", Text(run.command)},
                     {"version", Text(run.version)},
                     {"build", build},
                     {"chainCount", Number(chains.size())},
                     {"chains", sections}})
      .str();
}

bool WriteHtmlReport(const std::string& path, const std::vector<HtmlChain>& chains,
                     std::string* error) {
  const std::string page = RenderHtmlReport(chains, CurrentRun());
  const std::optional<std::wstring> wide = platform::ToWide(path);
  platform::FileStream out;
  if (!wide || !platform::OpenForWriting(out, *wide) ||
      !out.write(page.data(), static_cast<std::streamsize>(page.size())) || !out.flush()) {
    *error = "cannot write " + path;
    return false;
  }
  return true;
}

}  // namespace qve::cli
