// SPDX-License-Identifier: Apache-2.0
// The log half of inspect: the file read as a verification run of its own,
// one row per signature line with the fields of its block and the verdict
// the run gives it, then what the file holds besides. Rows are printed as the
// run hands them over, so a log of any size takes no more memory.
#include <ostream>
#include <stdexcept>
#include <string>

#include "cli/inspect.h"
#include "cli/verify_outcome.h"
#include "format/signature_block.h"
#include "verify/details.h"

namespace qve::cli {

namespace {

constexpr std::size_t kShortLink = 4;  // bytes of a link shown in a row

// Which field stops the parser, where it stands and why.
std::string WhereParsingStops(const BlockStop& stop) {
  using F = BlockField;
  if (stop.status == BlockParseResult::OneByte) return "1 byte, too short for the magic";
  const bool isTag = stop.field == F::Magic;
  return "at offset " + std::to_string(stop.offset) + ": " +
         Problem(stop, BlockFieldName(stop.field), isTag, kBlockMagic.size(),
                 stop.field == F::Text || stop.field == F::Link || stop.field == F::Signature,
                 isTag || stop.field == F::Version, "block");
}

Json RowOf(const FileDetail& file, const BlockDetail& block) {
  Json row = {{"line", block.lines.last}};
  row["covers"] =
      block.coversNoLine ? Json(nullptr) : Json{block.lines.first, block.lines.last - 1};
  if (block.parse == BlockParseResult::Empty) {
    row["empty"] = true;
  } else if (block.parse != BlockParseResult::Parsed) {
    row["malformed"] = WhereParsingStops(block.stop);
  } else {
    row["id"] = block.id;
    row["text"] = Escaped(block.text);
    row["link"] = Hex(std::span(block.link).first(std::min(block.link.size(), kShortLink)));
    row["linkLength"] = block.link.size();
    // The first signature line of a run may link anywhere.
    row["chain"] = file.signatureLines == 1           ? "first block"
                   : block.link == block.expectedLink ? "matches"
                                                      : "differs";
    row["signatureLength"] = block.signatureLength;
  }
  row["verdict"] = BlockVerdictName(block.verdict);
  return row;
}

Json SummaryOf(const FileDetail& file) {
  const auto hex = [](const std::optional<Bytes>& value) {
    return value ? Json(Hex(*value)) : Json(nullptr);
  };
  Json ignored = Json::array();
  if (const BytesAfterNul& nul = file.afterNul; nul.lines > 0) {
    ignored.push_back({{"after", "NUL"},
                       {"bytes", nul.bytes},
                       {"lines", nul.lines},
                       {"firstLine", nul.firstLine}});
  }
  if (const auto& end = file.endOfInput) {
    ignored.push_back({{"after", "0x1A"},
                       {"bytes", end->bytesAfter},
                       {"offset", end->offset},
                       {"line", end->line}});
  }
  const auto& tail = file.unsignedTail;
  return {{"lines", file.lines},
          {"signatureLines", file.signatureLines},
          {"firstLink", hex(file.firstLink)},
          {"lastChainValue", hex(file.lastChainValue)},
          {"unsignedTail", tail ? Json{tail->first, tail->last} : Json(nullptr)},
          {"ignored", ignored},
          {"changedWhileRead", file.changedWhileRead},
          {"readFault", file.fault == platform::ReadFault::None ? Json(nullptr)
                                                                : Json(ReadFaultText(file.fault))}};
}

LineRange RangeOf(const Json& pair) { return {pair[0], pair[1]}; }

void PrintRow(std::ostream& out, const Json& row) {
  out << "  line " << row["line"] << ": covers "
      << (row["covers"].is_null() ? "none" : RangeText(RangeOf(row["covers"]))) << ", ";
  if (row.contains("empty")) {
    out << "empty payload";
  } else if (row.contains("malformed")) {
    out << "malformed " << row["malformed"].get<std::string>();
  } else {
    out << "id " << row["id"] << ", text \"" << row["text"].get<std::string>() << "\", link "
        << row["link"].get<std::string>() << (row["linkLength"] > kShortLink ? ".." : "") << " ("
        << row["linkLength"] << " bytes) " << row["chain"].get<std::string>() << ", signature "
        << row["signatureLength"] << " bytes";
  }
  out << ": " << row["verdict"].get<std::string>() << '\n';
}

void PrintSummary(std::ostream& out, const Json& summary) {
  out << "  " << Counted(summary["lines"], "line") << ", "
      << Counted(summary["signatureLines"], "signature line") << '\n';
  if (!summary["firstLink"].is_null())
    out << "  first link: " << summary["firstLink"].get<std::string>() << '\n';
  if (!summary["lastChainValue"].is_null())
    out << "  last chain value: " << summary["lastChainValue"].get<std::string>() << '\n';
  const Json& tail = summary["unsignedTail"];
  if (!tail.is_null()) out << "  unsigned tail: " << LinesText(RangeOf(tail)) << '\n';
  for (const Json& skip : summary["ignored"]) {
    if (skip["after"] == "NUL") {
      out << "  ignored: " << Counted(skip["bytes"], "byte") << " after a NUL on "
          << Counted(skip["lines"], "line") << " (first at line " << skip["firstLine"] << ")\n";
    } else {
      out << "  ignored: " << Counted(skip["bytes"], "byte")
          << " after the end-of-input byte 0x1A at offset " << skip["offset"] << " (line "
          << skip["line"] << ")\n";
    }
  }
  if (summary["changedWhileRead"].get<bool>())
    out << "  changed while it was read: a block read again did not end where its signature "
           "line starts, so these rows may not match the file as it is now\n";
  if (!summary["readFault"].is_null())
    out << "  cannot be read past line " << summary["lines"] << ": "
        << summary["readFault"].get<std::string>() << "; a verification takes it as a file that "
        << "cannot be read\n";
}

// Prints the file as the run reads it. The head waits for the first
// signature line, which tells a log from a file of unknown kind.
class LogPrinter final : public VerifyObserver {
 public:
  LogPrinter(std::ostream& out, Json head, bool detect, bool json)
      : head(std::move(head)), out_(out), detect_(detect), json_(json) {}

  void OnBlock(const FileDetail& file, const BlockDetail& block) override {
    // The rest of a long file would be read for nobody.
    if (!out_) throw std::runtime_error("the output does not take the rows");
    if (block.isUnsignedTail()) return;
    Begin();
    const Json row = RowOf(file, block);
    if (json_) {
      out_ << (rows_++ > 0 ? "," : "") << row.dump();
    } else {
      PrintRow(out_, row);
    }
  }

  void OnFileEnd(const FileDetail& file) override {
    if (!begun_ && detect_ && file.signatureLines == 0 && file.fault != platform::ReadFault::None) {
      // Nothing shown yet, and nothing known of its kind but this.
      head.erase("size");
      head["kind"] = "unreadable";
      head["reason"] = ReadFaultText(file.fault);
      out_ << (json_ ? head.dump()
                     : head["path"].get<std::string>() +
                           ": cannot be read: " + head["reason"].get<std::string>())
           << '\n';
      return;
    }
    if (file.fault != platform::ReadFault::None) unreadable = true;
    if (!begun_ && detect_ && file.signatureLines == 0) {
      head["kind"] = "unknown";
      if (json_) {
        head["lines"] = file.lines;
        out_ << head.dump() << '\n';
      } else {
        out_ << head["path"].get<std::string>() << ": unknown, " << head["size"] << " bytes, "
             << Counted(file.lines, "line") << ": no \"QVES\" magic and no signature line\n";
      }
      return;
    }
    Begin();
    const Json summary = SummaryOf(file);
    if (json_) {
      out_ << "]," << summary.dump().substr(1) << '\n';
    } else {
      PrintSummary(out_, summary);
    }
  }

  Json head;  // "path", "kind" and "size"
  // Rows were shown, but the file could not be read whole.
  bool unreadable = false;

 private:
  void Begin() {
    if (begun_) return;
    begun_ = true;
    if (json_) {
      std::string open = head.dump();
      open.pop_back();
      out_ << open << ",\"blocks\":[";
    } else {
      out_ << head["path"].get<std::string>() << ": log, " << head["size"] << " bytes\n";
    }
  }

  std::ostream& out_;
  bool detect_;
  bool json_;
  bool begun_ = false;
  std::size_t rows_ = 0;
};

}  // namespace

std::string InspectLog(const std::wstring& path, Json head, bool detect, bool json,
                       std::ostream& out) {
  LogPrinter printer(out, std::move(head), detect, json);
  // One reading: rows already printed cannot be taken back, so a file that
  // changes while it is read, or cannot be read whole, is said to instead.
  VerifyInOrder({path}, printer, {.readings = 1, .gunzip = true});
  return printer.unreadable ? "unreadable" : printer.head["kind"];
}

}  // namespace qve::cli
