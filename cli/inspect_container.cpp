// SPDX-License-Identifier: Apache-2.0
// inspect's reading of a file: its kind told by its content, and the
// library's diagnosis of a container rendered as JSON and as text, each
// from the diagnosis's facts.
#include <memory>
#include <new>
#include <optional>
#include <ostream>
#include <stdexcept>
#include <string>

#include "QVEHelper.h"
#include "cli/inspect.h"
#include "command/standard_input.h"
#include "platform/file_status.h"
#include "platform/files.h"
#include "platform/paths.h"

namespace qve::cli {

namespace {

using Diagnosis = const qve_diagnosis*;

template <typename Bytes>
std::string HexOf(Bytes bytes) {
  std::size_t length = 0;
  const std::uint8_t* start = bytes(&length);
  return Hex({start, length});
}

std::string BuiltInKeyId(int key) {
  std::uint8_t id[4] = {}, sha256[32] = {};
  qve_key_identity(key, id, sha256);
  return Hex(id);
}

std::string RecordKeyId(Diagnosis d, std::size_t i) {
  return HexOf([&](std::size_t* n) { return qve_diagnosis_record_key_id(d, i, n); });
}

std::string SealKeyId(Diagnosis d) {
  return HexOf([&](std::size_t* n) { return qve_diagnosis_seal_key_id(d, n); });
}

const char* ResultName(int result) { return qve_result_name(QVE_RESULT_OF_DECRYPTION, result); }

bool Complete(Diagnosis d) { return qve_diagnosis_header_status(d) == 0; }

Json HeaderJson(Diagnosis d) {
  Json header = {{"code", qve_diagnosis_header_status(d)},
                 {"status", qve_diagnosis_header_status_name(d)}};
  if (Complete(d)) return header;
  header["field"] = qve_diagnosis_header_field(d);
  header["record"] = qve_diagnosis_header_record(d);
  header["offset"] = qve_diagnosis_header_offset(d);
  header["problem"] = qve_diagnosis_header_problem(d);
  return header;
}

Json SessionKeyJson(Diagnosis d) {
  if (qve_diagnosis_key_record(d) < 0)
    return {{"record", nullptr},
            {"problem", "no record for the built-in key " + BuiltInKeyId(QVE_KEY_DECRYPTION)}};
  Json key = {{"record", qve_diagnosis_key_record(d) + 1},
              {"unwraps", qve_diagnosis_key_unwraps(d) == 1}};
  if (!key["unwraps"]) return key;
  key["crcMatches"] = qve_diagnosis_key_crc_matches(d) == 1;
  key["keyMaterialLength"] = qve_diagnosis_key_material_length(d);
  key["ready"] = qve_diagnosis_key_ready(d) == 1;
  return key;
}

Json SealJson(Diagnosis d) {
  if (!qve_diagnosis_seal_reached(d)) return {{"reached", false}};
  Json seal = {{"reached", true},
               {"decrypts", qve_diagnosis_seal_decrypts(d) == 1},
               {"plaintextLength", qve_diagnosis_seal_plaintext_length(d)},
               {"found", qve_diagnosis_seal_found(d) == 1}};
  if (!seal["found"]) {
    seal["stop"] = qve_diagnosis_seal_stop(d);
    seal["offset"] = qve_diagnosis_seal_stop_offset(d);
    seal["problem"] = qve_diagnosis_seal_problem(d);
    return seal;
  }
  seal["length"] = qve_diagnosis_seal_length(d);
  seal["keyId"] = SealKeyId(d);
  seal["namesBuiltInKey"] = qve_diagnosis_seal_names_built_in_key(d) == 1;
  seal["signatureLength"] = qve_diagnosis_seal_signature_length(d);
  seal["result"] = ResultName(qve_diagnosis_seal_result(d));
  seal["verifies"] = qve_diagnosis_seal_result(d) == QVE_DECRYPT_SUCCESS;
  return seal;
}

void ContainerJson(Diagnosis d, bool seal, Json& into) {
  into["header"] = HeaderJson(d);
  if (qve_diagnosis_version(d) >= 0) into["version"] = qve_diagnosis_version(d);
  if (qve_diagnosis_recipient_count(d) >= 0)
    into["recipientCount"] = qve_diagnosis_recipient_count(d);
  Json list = Json::array();
  for (std::size_t i = 0; i < qve_diagnosis_record_count(d); ++i) {
    list.push_back({{"offset", qve_diagnosis_record_offset(d, i)},
                    {"tag", std::string(1, static_cast<char>(qve_diagnosis_record_tag(d, i)))},
                    {"keyId", RecordKeyId(d, i)},
                    {"wrappedKeyLength", qve_diagnosis_record_wrapped_key_length(d, i)},
                    {"used", qve_diagnosis_record_used(d, i) == 1}});
  }
  into["recipients"] = list;
  if (!Complete(d)) return;
  into["iv"] = HexOf([&](std::size_t* n) { return qve_diagnosis_iv(d, n); });
  into["payloadLength"] = qve_diagnosis_payload_length(d);
  into["blockSize"] = qve_diagnosis_block_size(d);
  into["wholeBlocks"] = qve_diagnosis_whole_blocks(d) == 1;
  into["cutShort"] = qve_diagnosis_cut_short(d) == 1;
  into["sessionKey"] = SessionKeyJson(d);
  if (qve_diagnosis_last_block_padding(d) >= 0)
    into["lastBlockPadding"] = qve_diagnosis_last_block_padding(d) == 1;
  if (seal) into["seal"] = SealJson(d);
}

const char* YesNo(int flag, const char* yes, const char* no) { return flag == 1 ? yes : no; }

void PrintPayload(std::ostream& out, Diagnosis d) {
  out << "  iv " << HexOf([&](std::size_t* n) { return qve_diagnosis_iv(d, n); }) << '\n'
      << "  payload " << qve_diagnosis_payload_length(d) << " bytes, ";
  const int whole = qve_diagnosis_whole_blocks(d);
  if (qve_diagnosis_payload_length(d) == 0)
    out << "none: the file ends right after the IV, cut short";
  else
    out << YesNo(whole, "a whole number of ", "not a whole number of ")
        << qve_diagnosis_block_size(d) << "-byte blocks" << YesNo(whole, "", ", cut short");
  if (const int padding = qve_diagnosis_last_block_padding(d); padding >= 0)
    out << ", the last one's padding " << YesNo(padding, "valid", "invalid: cut short or damaged");
  out << '\n';
}

void PrintKeyAndSeal(std::ostream& out, Diagnosis d, bool seal) {
  const std::int64_t record = qve_diagnosis_key_record(d) + 1;
  out << "  session key: ";
  if (record == 0) {
    out << "no record for the built-in key " << BuiltInKeyId(QVE_KEY_DECRYPTION) << '\n';
  } else if (!qve_diagnosis_key_unwraps(d)) {
    out << "record " << record << " does not unwrap\n";
  } else {
    out << "record " << record << " unwraps, CRC "
        << YesNo(qve_diagnosis_key_crc_matches(d), "matches", "does not match") << ", key material "
        << qve_diagnosis_key_material_length(d) << " bytes\n";
  }
  if (!seal) return;
  out << "  seal: ";
  if (!qve_diagnosis_seal_reached(d)) {
    out << "not reached, the session key does not open\n";
  } else if (!qve_diagnosis_seal_decrypts(d)) {
    out << "the decryption stopped after " << qve_diagnosis_seal_plaintext_length(d) << " bytes\n";
  } else if (!qve_diagnosis_seal_found(d)) {
    out << "no trailer in " << qve_diagnosis_seal_plaintext_length(d)
        << " bytes of plaintext: " << qve_diagnosis_seal_problem(d) << " at offset "
        << qve_diagnosis_seal_stop_offset(d) << '\n';
  } else {
    const int result = qve_diagnosis_seal_result(d);
    out << qve_diagnosis_seal_length(d) << " bytes, key " << SealKeyId(d) << ", signature "
        << qve_diagnosis_seal_signature_length(d) << " bytes, "
        << YesNo(result == QVE_DECRYPT_SUCCESS, "verifies", "does not verify") << " ("
        << ResultName(result) << ")";
    // The seal's key, as the cause of a BadSignature names it.
    if (!qve_diagnosis_seal_names_built_in_key(d))
      out << ": " << qve_diagnosis_cause(d, QVE_DECRYPT_BAD_SIGNATURE);
    out << '\n';
  }
}

void PrintContainer(std::ostream& out, Diagnosis d, bool seal) {
  if (qve_diagnosis_version(d) >= 0) out << "  version " << qve_diagnosis_version(d) << '\n';
  if (qve_diagnosis_recipient_count(d) >= 0)
    out << "  recipient count " << qve_diagnosis_recipient_count(d) << '\n';
  for (std::size_t i = 0; i < qve_diagnosis_record_count(d); ++i) {
    out << "  record " << i + 1 << " at offset " << qve_diagnosis_record_offset(d, i) << ": tag "
        << static_cast<char>(qve_diagnosis_record_tag(d, i)) << ", key " << RecordKeyId(d, i)
        << ", wrapped key " << qve_diagnosis_record_wrapped_key_length(d, i) << " bytes"
        << YesNo(qve_diagnosis_record_used(d, i), " (used)", "") << '\n';
  }
  if (!Complete(d)) {
    out << "  header malformed at offset " << qve_diagnosis_header_offset(d) << ": "
        << qve_diagnosis_header_problem(d) << " (reader code " << qve_diagnosis_header_status(d)
        << ", " << qve_diagnosis_header_status_name(d) << ")\n";
    return;
  }
  PrintPayload(out, d);
  PrintKeyAndSeal(out, d, seal);
}

}  // namespace

std::string InspectFile(const std::string& path, const InspectOptions& options, std::ostream& out,
                        const std::wstring* reads) {
  Json file = {{"path", Escaped(path)}};
  const std::wstring wide = reads != nullptr ? *reads : platform::ArgumentPath(path);
  const auto unreadable = [&](const std::string& reason) {
    file["kind"] = "unreadable";
    file["reason"] = reason;
    out << (options.json ? file.dump()
                         : file["path"].get<std::string>() + ": cannot be read: " + reason)
        << '\n';
    return "unreadable";
  };
  if (reads == nullptr) {
    // Before anything opens it: a FIFO would keep the reader waiting.
    const platform::FileStatus status = platform::StatusOf(wide);
    if (status.kind == platform::FileKind::Other) {
      file["kind"] = "special";
      file["what"] = status.what;
      out << (options.json ? file.dump()
                           : file["path"].get<std::string>() + ": " + SpecialFileText(status, true))
          << '\n';
      return "special";
    }
  }
  platform::FileStream stream;
  std::error_code error;
  const std::uint64_t size = platform::FileSize(wide, error);
  if (error || !platform::OpenForReading(stream, wide)) {
    if (!error) error = platform::ReadError(wide);
    return unreadable(error ? platform::ErrorText(error) : "it does not open");
  }
  char start[4] = {};
  stream.read(start, sizeof start);
  const auto read = static_cast<std::size_t>(stream.gcount());
  stream.close();
  ReadAs kind = options.as;
  if (kind == ReadAs::Detect && qve_starts_container(start, read)) kind = ReadAs::Container;
  file["kind"] = kind == ReadAs::Container ? "container" : "log";
  file["size"] = size;
  if (kind != ReadAs::Container) {
    // The library's log reader takes only a path with a narrow form.
    if (!platform::ToNarrow(wide))
      return unreadable("the name is not valid UTF-16 (an unpaired surrogate)");
    return InspectLog(wide, std::move(file), kind == ReadAs::Detect, options.json, out);
  }
  const qve_diagnose_options asked{sizeof asked, options.seal};
  qve_diagnosis* made = nullptr;
  const int code = qve_diagnose_container_w(wide.c_str(), &asked, &made);
  const std::unique_ptr<qve_diagnosis, decltype(&qve_diagnosis_free)> diagnosis(made,
                                                                                qve_diagnosis_free);
  if (code == QVE_ERROR_NO_MEMORY) throw std::bad_alloc();
  if (code == QVE_ERROR_CRYPTO) throw std::runtime_error(qve_last_message());
  if (code < 0) return unreadable(qve_last_problem_reason());
  if (options.json) {
    ContainerJson(diagnosis.get(), options.seal, file);
    out << file.dump() << '\n';
  } else {
    out << file["path"].get<std::string>() << ": container, " << size << " bytes\n";
    PrintContainer(out, diagnosis.get(), options.seal);
  }
  return "container";
}

}  // namespace qve::cli
