// SPDX-License-Identifier: Apache-2.0
// inspect's reading of a file: its kind told by its content, then the
// library's diagnosis of a container, or a log read as a verification run
// of its own, each fact read once into the file's JSON object and its text.
#include <QVEHelper.h>

#include <algorithm>
#include <memory>
#include <new>
#include <ostream>
#include <span>
#include <sstream>
#include <stdexcept>
#include <string>
#include <string_view>

#include "cli/frame.h"
#include "cli/inspect.h"
#include "cli/verify_outcome.h"
#include "command/standard_input.h"
#include "platform/file_status.h"
#include "platform/files.h"
#include "platform/paths.h"

namespace qve::cli {

namespace {

using Json = nlohmann::ordered_json;

constexpr std::size_t kShortLink = 4;  // bytes of a link shown in a row

// Puts a fact under `key` and gives it back for the text.
template <typename T>
T Put(Json& into, const char* key, T value) {
  into[key] = value;
  return value;
}

// A parsed block's QVE_LINK_* as a row says it.
const char* ChainWord(int chain) {
  return chain == QVE_LINK_FIRST     ? "first block"
         : chain == QVE_LINK_MATCHES ? "matches"
                                     : "differs";
}

// The bytes an accessor points to, as long as it says they are.
template <typename Accessor, typename... Arguments>
auto Borrowed(Accessor accessor, Arguments... arguments) {
  std::size_t length = 0;
  const auto* bytes = accessor(arguments..., &length);
  return std::span(bytes, length);
}

// Where one file is said, and how: as JSON or as text after its path.
struct Output {
  std::string path;  // as printed
  bool json;
  std::ostream& out;

  // The whole file: its path, kind and `facts` as one JSON object, or its
  // path and `words`, which end its text's lines. Gives its kind.
  const char* Say(const char* kind, const Json& facts, const std::string& words) const {
    Json object = {{"path", path}, {"kind", kind}};
    object.update(facts);
    out << (json ? object.dump() + '\n' : path + words);
    return kind;
  }
  const char* Unreadable(const std::string& reason) const {
    return Say("unreadable", {{"reason", reason}}, ": cannot be read: " + reason + '\n');
  }
};

// What the in-memory decryption found of the seal trailer.
void Seal(const qve_diagnosis* d, Json& seal, std::ostream& text) {
  text << "  seal: ";
  if (!Put(seal, "reached", qve_diagnosis_seal_reached(d) == 1)) {
    text << "not reached, the session key does not open\n";
    return;
  }
  const bool decrypts = Put(seal, "decrypts", qve_diagnosis_seal_decrypts(d) == 1);
  const auto plaintext = Put(seal, "plaintextLength", qve_diagnosis_seal_plaintext_length(d));
  // A decryption that stops finds no trailer.
  if (!Put(seal, "found", qve_diagnosis_seal_found(d) == 1)) {
    seal["stop"] = qve_diagnosis_seal_stop(d);
    const auto offset = Put(seal, "offset", qve_diagnosis_seal_stop_offset(d));
    const char* problem = Put(seal, "problem", qve_diagnosis_seal_problem(d));
    if (!decrypts)
      text << "the decryption stopped after " << plaintext << " bytes\n";
    else
      text << "no trailer in " << plaintext << " bytes of plaintext: " << problem << " at offset "
           << offset << '\n';
    return;
  }
  text << Put(seal, "length", qve_diagnosis_seal_length(d)) << " bytes, key "
       << Put(seal, "keyId", Hex(Borrowed(qve_diagnosis_seal_key_id, d)));
  const bool builtIn = Put(seal, "namesBuiltInKey", qve_diagnosis_seal_names_built_in_key(d) == 1);
  text << ", signature " << Put(seal, "signatureLength", qve_diagnosis_seal_signature_length(d))
       << " bytes, ";
  const int result = qve_diagnosis_seal_result(d);
  const char* name = Put(seal, "result", qve_result_name(QVE_RESULT_OF_DECRYPTION, result));
  const bool verifies = Put(seal, "verifies", result == QVE_DECRYPT_SUCCESS);
  text << (verifies ? "verifies" : "does not verify") << " (" << name << ")";
  // The seal's key, as the cause of a BadSignature names it.
  if (!builtIn) text << ": " << qve_diagnosis_cause(d, QVE_DECRYPT_BAD_SIGNATURE);
  text << '\n';
}

// The header's records, then where it stops or what follows it.
void Describe(const qve_diagnosis* d, bool seal, Json& json, std::ostream& text) {
  const int status = qve_diagnosis_header_status(d);
  const char* statusName = qve_diagnosis_header_status_name(d);
  json["header"] = {{"code", status}, {"status", statusName}};
  if (const std::int64_t version = qve_diagnosis_version(d); version >= 0)
    text << "  version " << Put(json, "version", version) << '\n';
  if (const std::int64_t count = qve_diagnosis_recipient_count(d); count >= 0)
    text << "  recipient count " << Put(json, "recipientCount", count) << '\n';
  json["recipients"] = Json::array();
  for (std::size_t i = 0; i < qve_diagnosis_record_count(d); ++i) {
    Json& record = json["recipients"].emplace_back();
    const char tag = static_cast<char>(qve_diagnosis_record_tag(d, i));
    text << "  record " << i + 1 << " at offset "
         << Put(record, "offset", qve_diagnosis_record_offset(d, i)) << ": tag "
         << Put(record, "tag", std::string(1, tag)) << ", key "
         << Put(record, "keyId", Hex(Borrowed(qve_diagnosis_record_key_id, d, i)))
         << ", wrapped key "
         << Put(record, "wrappedKeyLength", qve_diagnosis_record_wrapped_key_length(d, i))
         << " bytes" << (Put(record, "used", qve_diagnosis_record_used(d, i) == 1) ? " (used)" : "")
         << '\n';
  }
  if (status != 0) {
    Json& header = json["header"];
    header["field"] = qve_diagnosis_header_field(d);
    header["record"] = qve_diagnosis_header_record(d);
    text << "  header malformed at offset " << Put(header, "offset", qve_diagnosis_header_offset(d))
         << ": " << Put(header, "problem", qve_diagnosis_header_problem(d)) << " (reader code "
         << status << ", " << statusName << ")\n";
    return;
  }
  text << "  iv " << Put(json, "iv", Hex(Borrowed(qve_diagnosis_iv, d))) << '\n';
  const auto length = Put(json, "payloadLength", qve_diagnosis_payload_length(d));
  const auto block = Put(json, "blockSize", qve_diagnosis_block_size(d));
  const bool whole = Put(json, "wholeBlocks", qve_diagnosis_whole_blocks(d) == 1);
  json["cutShort"] = qve_diagnosis_cut_short(d) == 1;
  text << "  payload " << length << " bytes, ";
  if (length == 0)
    text << "none: the file ends right after the IV, cut short";
  else
    text << (whole ? "a whole number of " : "not a whole number of ") << block << "-byte blocks"
         << (whole ? "" : ", cut short");
  const int padding = qve_diagnosis_last_block_padding(d);
  if (padding >= 0)
    text << ", the last one's padding "
         << (padding == 1 ? "valid" : "invalid: cut short or damaged");
  text << "\n  session key: ";
  const std::int64_t record = qve_diagnosis_key_record(d) + 1;
  Json& key = json["sessionKey"] = {{"record", record > 0 ? Json(record) : Json(nullptr)}};
  if (record == 0) {
    std::uint8_t id[4] = {}, sha256[32] = {};
    qve_key_identity(QVE_KEY_DECRYPTION, id, sha256);
    text << Put(key, "problem", "no record for the built-in key " + Hex(id)) << '\n';
  } else if (!Put(key, "unwraps", qve_diagnosis_key_unwraps(d) == 1)) {
    text << "record " << record << " does not unwrap\n";
  } else {
    const bool crc = Put(key, "crcMatches", qve_diagnosis_key_crc_matches(d) == 1);
    text << "record " << record << " unwraps, CRC " << (crc ? "matches" : "does not match")
         << ", key material " << Put(key, "keyMaterialLength", qve_diagnosis_key_material_length(d))
         << " bytes\n";
    key["ready"] = qve_diagnosis_key_ready(d) == 1;
  }
  if (padding >= 0) json["lastBlockPadding"] = padding == 1;
  if (seal) Seal(d, json["seal"], text);
}

// What the file holds besides its rows; `fault` why it cannot be read whole.
void Summary(qve_run* run, std::size_t i, std::string_view fault, Json& json, std::ostream& text) {
  const std::uint32_t lines = Put(json, "lines", qve_run_file_lines(run, i));
  const auto signatures = Put(json, "signatureLines", qve_run_file_signature_lines(run, i));
  text << "  " << Counted(lines, "line") << ", " << Counted(signatures, "signature line") << '\n';
  // The first link and the last chain value, null when the file has none.
  const auto link = Borrowed(qve_run_file_first_link, run, i);
  json["firstLink"] = link.data() != nullptr ? Json(Hex(link)) : Json(nullptr);
  if (link.data() != nullptr) text << "  first link: " << Hex(link) << '\n';
  const auto value = Borrowed(qve_run_file_last_chain_value, run, i);
  json["lastChainValue"] = value.data() != nullptr ? Json(Hex(value)) : Json(nullptr);
  if (value.data() != nullptr) text << "  last chain value: " << Hex(value) << '\n';
  const LineRange tail{qve_run_file_unsigned_first(run, i), qve_run_file_unsigned_last(run, i)};
  json["unsignedTail"] = tail.first != 0 ? Json{tail.first, tail.last} : Json(nullptr);
  if (tail.first != 0) text << "  unsigned tail: " << LinesText(tail.first, tail.last) << '\n';
  json["ignored"] = Json::array();
  if (const std::uint32_t nulLines = qve_run_file_nul_lines(run, i); nulLines > 0) {
    Json& nul = json["ignored"].emplace_back(Json{{"after", "NUL"}});
    text << "  ignored: " << Counted(Put(nul, "bytes", qve_run_file_nul_bytes(run, i)), "byte")
         << " after a NUL on " << Counted(Put(nul, "lines", nulLines), "line") << " (first at line "
         << Put(nul, "firstLine", qve_run_file_nul_first_line(run, i)) << ")\n";
  }
  if (const std::uint32_t endLine = qve_run_file_end_of_input_line(run, i); endLine > 0) {
    Json& end = json["ignored"].emplace_back(Json{{"after", "0x1A"}});
    text << "  ignored: "
         << Counted(Put(end, "bytes", qve_run_file_end_of_input_bytes(run, i)), "byte")
         << " after the end-of-input byte 0x1A at offset "
         << Put(end, "offset", qve_run_file_end_of_input_offset(run, i)) << " (line "
         << Put(end, "line", endLine) << ")\n";
  }
  if (Put(json, "changedWhileRead", qve_run_file_changed_while_read(run, i) != 0))
    text << "  changed while it was read: a block read again did not end where its signature "
            "line starts, so these rows may not match the file as it is now\n";
  json["readFault"] = fault.empty() ? Json(nullptr) : Json(fault);
  if (!fault.empty())
    text << "  cannot be read past line " << lines << ": " << fault
         << "; a verification takes it as a file that cannot be read\n";
}

// Rows are printed as the run hands them over, so a log of any size takes
// no more memory; the head waits for the first signature line, which tells
// a log from a file of unknown kind when `detect`.
const char* InspectLog(const std::wstring& wide, std::uint64_t size, bool detect,
                       const Output& output) {
  // One reading: rows already printed cannot be taken back, so a file that
  // changes while it is read, or cannot be read whole, is said to instead.
  qve_run_options options{};
  options.size = sizeof options;
  options.order = QVE_ORDER_NAME;
  options.once = 1;
  qve_run* made = nullptr;
  if (qve_run_create(&options, &made) != 0) throw std::bad_alloc();
  const RunHandle owned(made, qve_run_free);
  if (qve_run_add_w(made, wide.c_str()) != 0)
    throw std::runtime_error(std::string("the log cannot be read: ") + qve_run_refusal(made));
  std::size_t rows = 0;
  const std::string open = Json{{"path", output.path}, {"kind", "log"}, {"size", size}}.dump();
  const std::string head = output.json
                               ? open.substr(0, open.size() - 1) + ",\"blocks\":["
                               : output.path + ": log, " + std::to_string(size) + " bytes\n";
  // Says a row or the summary, after the file's head when it is the first.
  const auto say = [&](const std::string& json, const std::string& text) {
    output.out << (rows++ == 0 ? head : "") << (output.json ? json : text);
  };
  for (int event; (event = qve_run_next(made)) != QVE_EVENT_DONE;) {
    // The rest of a long file would be read for nobody.
    if (!output.out) throw std::runtime_error("the output does not take the rows");
    if (event < 0)
      throw std::runtime_error(std::string("the log cannot be read: ") +
                               qve_result_name(QVE_RESULT_OF_RUN, event));
    if (event != QVE_EVENT_BLOCK) continue;
    const int chain = qve_run_block_chain(made);
    if (chain == QVE_LINK_UNSIGNED_TAIL) continue;  // no signature line, so no row
    const int verdict = qve_run_block_verdict(made);
    // The block's row; the file's first signature line may link anywhere.
    Json row;
    std::ostringstream text;
    const std::uint32_t line = Put(row, "line", qve_run_block_last_line(made));
    const LineRange covers{qve_run_block_first_line(made), line - 1};
    const bool coversNone = qve_run_block_covers_no_line(made) != 0;
    row["covers"] = coversNone ? Json(nullptr) : Json{covers.first, covers.last};
    text << "  line " << line << ": covers "
         << (coversNone ? "none" : RangeText(covers.first, covers.last)) << ", ";
    if (const int parse = qve_run_block_parse(made); parse == QVE_PARSE_EMPTY) {
      row["empty"] = true;
      text << "empty payload";
    } else if (parse != QVE_PARSE_OK) {
      text << "malformed " << Put(row, "malformed", qve_run_block_stop(made));
    } else {
      const auto said = Borrowed(qve_run_block_text, made);
      const auto link = Borrowed(qve_run_block_link, made);
      text << "id " << Put(row, "id", qve_run_block_id(made)) << ", text \""
           << Put(row, "text", Escaped({said.begin(), said.end()})) << "\", link "
           << Put(row, "link", Hex(link.first(std::min(link.size(), kShortLink))))
           << (link.size() > kShortLink ? ".." : "") << " (" << Put(row, "linkLength", link.size())
           << " bytes) " << Put(row, "chain", ChainWord(chain)) << ", signature "
           << Put(row, "signatureLength", qve_run_block_signature_length(made)) << " bytes";
    }
    text << ": " << Put(row, "verdict", qve_result_name(QVE_RESULT_OF_BLOCK, verdict)) << '\n';
    // Joined by append: g++ 12 -O3 takes "x" + a temporary for an
    // overlapping copy (-Wrestrict).
    std::string json = rows > 0 ? "," : "";
    say(json.append(row.dump()), text.str());
  }
  // The file is the run's only one, at index 0.
  const std::string fault = qve_run_file_read_fault(made, 0);
  // Nothing shown yet, and nothing known of its kind but this.
  if (rows == 0 && detect && !fault.empty()) return output.Unreadable(fault);
  if (rows == 0 && detect) {
    const std::uint32_t lines = qve_run_file_lines(made, 0);
    return output.Say("unknown", {{"size", size}, {"lines", lines}},
                      ": unknown, " + std::to_string(size) + " bytes, " + Counted(lines, "line") +
                          ": no \"QVES\" magic and no signature line\n");
  }
  Json summary;
  std::ostringstream text;
  Summary(made, 0, fault, summary, text);
  say("]," + summary.dump().substr(1) + '\n', text.str());
  return fault.empty() ? "log" : "unreadable";
}

}  // namespace

std::string InspectFile(const std::string& path, const InspectOptions& options, std::ostream& out,
                        const std::wstring* reads) {
  const Output output{Escaped(path), options.json, out};
  const std::wstring wide = reads != nullptr ? *reads : platform::ArgumentPath(path);
  // Before anything opens it: a FIFO would keep the reader waiting.
  const platform::FileStatus status = platform::StatusOf(wide);
  if (reads == nullptr && status.kind == platform::FileKind::Other)
    return output.Say("special", {{"what", status.what}},
                      ": " + command::SpecialFileText(status, true) + '\n');
  platform::FileStream stream;
  std::error_code error;
  const std::uint64_t size = platform::FileSize(wide, error);
  if (error || !platform::OpenForReading(stream, wide)) {
    if (!error) error = platform::ReadError(wide);
    return output.Unreadable(error ? platform::ErrorText(error) : "it does not open");
  }
  char start[4] = {};
  stream.read(start, sizeof start);
  const auto read = static_cast<std::size_t>(stream.gcount());
  stream.close();
  const bool detect = options.as == ReadAs::Detect;
  if (options.as == ReadAs::Log || (detect && !qve_starts_container(start, read))) {
    // The library's log reader takes only a path with a narrow form.
    if (!platform::ToNarrow(wide))
      return output.Unreadable("the name is not valid UTF-16 (an unpaired surrogate)");
    return InspectLog(wide, size, detect, output);
  }
  const qve_diagnose_options asked{sizeof asked, options.seal};
  qve_diagnosis* made = nullptr;
  const int code = qve_diagnose_container_w(wide.c_str(), &asked, &made);
  const std::unique_ptr<qve_diagnosis, void (*)(qve_diagnosis*)> owned(made, qve_diagnosis_free);
  if (code == QVE_ERROR_NO_MEMORY) throw std::bad_alloc();
  if (code == QVE_ERROR_CRYPTO) throw std::runtime_error(qve_last_message());
  if (code < 0) return output.Unreadable(qve_last_problem_reason());
  Json facts = {{"size", size}};
  std::ostringstream text;
  Describe(made, options.seal, facts, text);
  return output.Say("container", facts,
                    ": container, " + std::to_string(size) + " bytes\n" + text.str());
}

}  // namespace qve::cli
