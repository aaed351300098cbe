// SPDX-License-Identifier: Apache-2.0
// The log half of inspect: the file read as a verification run of its own,
// one row per signature line with the fields of its block and the verdict
// the run gives it, then what the file holds besides. Rows are printed as the
// run hands them over, so a log of any size takes no more memory.
#include <QVEHelper.h>

#include <algorithm>
#include <memory>
#include <new>
#include <ostream>
#include <span>
#include <sstream>
#include <stdexcept>
#include <string>
#include <utility>

#include "cli/inspect.h"
#include "cli/verify_outcome.h"

namespace qve::cli {

namespace {

constexpr std::size_t kShortLink = 4;  // bytes of a link shown in a row

std::string HexOf(const std::uint8_t* bytes, std::size_t length) {
  return Hex(std::span(bytes, length));
}

// The current block's row, as JSON or as text, from the same facts; `first`
// when it is the file's first signature line, which may link anywhere.
void PrintRow(std::ostream& out, qve_run* run, bool first, bool json, std::size_t& rows) {
  const std::uint32_t line = qve_run_block_last_line(run);
  const bool coversNone = qve_run_block_covers_no_line(run) != 0;
  const LineRange covers{qve_run_block_first_line(run), line - 1};
  const char* verdict = BlockVerdictName(qve_run_block_verdict(run));
  Json row = {{"line", line},
              {"covers", coversNone ? Json(nullptr) : Json{covers.first, line - 1}}};
  std::ostringstream text;
  text << "  line " << line << ": covers " << (coversNone ? "none" : RangeText(covers)) << ", ";
  const int parse = qve_run_block_parse(run);
  if (parse == 1) {
    row["empty"] = true;
    text << "empty payload";
  } else if (parse != 0) {
    row["malformed"] = qve_run_block_stop(run);
    text << "malformed " << qve_run_block_stop(run);
  } else {
    std::size_t length = 0, textLength = 0;
    const std::uint8_t* link = qve_run_block_link(run, &length);
    const char* bytes = qve_run_block_text(run, &textLength);
    const std::string said = Escaped(std::string_view(bytes, textLength));
    const std::string shortLink = HexOf(link, std::min(length, kShortLink));
    const char* chain = first                                  ? "first block"
                        : qve_run_block_link_matched(run) != 0 ? "matches"
                                                               : "differs";
    const std::uint64_t signature = qve_run_block_signature_length(run);
    row.update({{"id", qve_run_block_id(run)},
                {"text", said},
                {"link", shortLink},
                {"linkLength", length},
                {"chain", chain},
                {"signatureLength", signature}});
    text << "id " << qve_run_block_id(run) << ", text \"" << said << "\", link " << shortLink
         << (length > kShortLink ? ".." : "") << " (" << length << " bytes) " << chain
         << ", signature " << signature << " bytes";
  }
  row["verdict"] = verdict;
  if (json) {
    out << (rows++ > 0 ? "," : "") << row.dump();
  } else {
    out << text.str() << ": " << verdict << '\n';
  }
}

// The file's summary, as the rest of its JSON object or as text, from the
// same facts.
void PrintSummary(std::ostream& out, qve_run* run, std::size_t i, bool json) {
  // Bytes as hex, or null when there are none.
  const auto hex = [&](auto accessor) {
    std::size_t length = 0;
    const std::uint8_t* bytes = accessor(run, i, &length);
    return bytes != nullptr ? Json(HexOf(bytes, length)) : Json(nullptr);
  };
  const std::uint32_t lines = qve_run_file_lines(run, i);
  const std::uint32_t signatureLines = qve_run_file_signature_lines(run, i);
  const Json firstLink = hex(qve_run_file_first_link);
  const Json lastValue = hex(qve_run_file_last_chain_value);
  const std::uint32_t tail = qve_run_file_unsigned_first(run, i);
  const LineRange tailLines{tail, qve_run_file_unsigned_last(run, i)};
  const std::uint32_t nulLines = qve_run_file_nul_lines(run, i);
  const std::uint32_t endLine = qve_run_file_end_of_input_line(run, i);
  const bool changed = qve_run_file_changed_while_read(run, i) != 0;
  const std::string fault = qve_run_file_read_fault(run, i);
  if (json) {
    Json ignored = Json::array();
    if (nulLines > 0) {
      ignored.push_back({{"after", "NUL"},
                         {"bytes", qve_run_file_nul_bytes(run, i)},
                         {"lines", nulLines},
                         {"firstLine", qve_run_file_nul_first_line(run, i)}});
    }
    if (endLine > 0) {
      ignored.push_back({{"after", "0x1A"},
                         {"bytes", qve_run_file_end_of_input_bytes(run, i)},
                         {"offset", qve_run_file_end_of_input_offset(run, i)},
                         {"line", endLine}});
    }
    const Json summary = {{"lines", lines},
                          {"signatureLines", signatureLines},
                          {"firstLink", firstLink},
                          {"lastChainValue", lastValue},
                          {"unsignedTail", tail != 0 ? Json{tail, tailLines.last} : Json(nullptr)},
                          {"ignored", ignored},
                          {"changedWhileRead", changed},
                          {"readFault", fault.empty() ? Json(nullptr) : Json(fault)}};
    out << "]," << summary.dump().substr(1) << '\n';
    return;
  }
  out << "  " << Counted(lines, "line") << ", " << Counted(signatureLines, "signature line")
      << '\n';
  if (!firstLink.is_null()) out << "  first link: " << firstLink.get<std::string>() << '\n';
  if (!lastValue.is_null()) out << "  last chain value: " << lastValue.get<std::string>() << '\n';
  if (tail != 0) out << "  unsigned tail: " << LinesText(tailLines) << '\n';
  if (nulLines > 0) out << "  ignored: " << AfterNulText(run, i) << '\n';
  if (endLine > 0) {
    out << "  ignored: " << Counted(qve_run_file_end_of_input_bytes(run, i), "byte")
        << " after the end-of-input byte 0x1A at offset "
        << qve_run_file_end_of_input_offset(run, i) << " (line " << endLine << ")\n";
  }
  if (changed)
    out << "  changed while it was read: a block read again did not end where its signature "
           "line starts, so these rows may not match the file as it is now\n";
  if (!fault.empty())
    out << "  cannot be read past line " << lines << ": " << fault
        << "; a verification takes it as a file that cannot be read\n";
}

}  // namespace

// The head waits for the first signature line, which tells a log from a
// file of unknown kind.
std::string InspectLog(const std::wstring& path, Json head, bool detect, bool json,
                       std::ostream& out) {
  // One reading: rows already printed cannot be taken back, so a file that
  // changes while it is read, or cannot be read whole, is said to instead.
  qve_run_options options{};
  options.size = sizeof options;
  options.order = QVE_ORDER_NAME;
  options.once = 1;
  qve_run* made = nullptr;
  if (qve_run_create(&options, &made) != 0) throw std::bad_alloc();
  const std::unique_ptr<qve_run, decltype(&qve_run_free)> run(made, qve_run_free);
  if (const int code = qve_run_add_w(made, path.c_str()); code != 0)
    throw std::runtime_error(std::string("the log cannot be read: ") + qve_run_refusal(made));
  std::size_t rows = 0, signatureLines = 0;
  bool begun = false;
  bool unreadable = false;  // rows were shown, but the file could not be read whole
  const auto begin = [&] {
    if (std::exchange(begun, true)) return;
    if (json) {
      std::string open = head.dump();
      open.pop_back();
      out << open << ",\"blocks\":[";
    } else {
      out << head["path"].get<std::string>() << ": log, " << head["size"] << " bytes\n";
    }
  };
  for (int kind; (kind = qve_run_next(made)) != QVE_EVENT_DONE;) {
    // The rest of a long file would be read for nobody.
    if (!out) throw std::runtime_error("the output does not take the rows");
    if (kind < 0)
      throw std::runtime_error(std::string("the log cannot be read: ") +
                               qve_result_name(QVE_RESULT_OF_RUN, kind));
    if (kind == QVE_EVENT_BLOCK && qve_run_block_verdict(made) != 1) {  // 1: an unsigned tail
      begin();
      PrintRow(out, made, signatureLines++ == 0, json, rows);
    }
    if (kind != QVE_EVENT_FILE_END) continue;
    const std::size_t i = qve_run_event_file(made);
    const std::string fault = qve_run_file_read_fault(made, i);
    if (!begun && detect && signatureLines == 0 && !fault.empty()) {
      // Nothing shown yet, and nothing known of its kind but this.
      head.erase("size");
      head["kind"] = "unreadable";
      head["reason"] = fault;
      out << (json ? head.dump() : head["path"].get<std::string>() + ": cannot be read: " + fault)
          << '\n';
    } else if (!begun && detect && signatureLines == 0) {
      head["kind"] = "unknown";
      const std::uint32_t lines = qve_run_file_lines(made, i);
      if (json) {
        head["lines"] = lines;
        out << head.dump() << '\n';
      } else {
        out << head["path"].get<std::string>() << ": unknown, " << head["size"] << " bytes, "
            << Counted(lines, "line") << ": no \"QVES\" magic and no signature line\n";
      }
    } else {
      unreadable = unreadable || !fault.empty();
      begin();
      PrintSummary(out, made, i, json);
    }
  }
  return unreadable ? "unreadable" : head["kind"];
}

}  // namespace qve::cli
