// SPDX-License-Identifier: Apache-2.0
#include "report/checkpoint_record.h"

#include "qvehelper/contract.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <ctime>
#include <nlohmann/json.hpp>
#include <optional>

#include "crypto/built_in_keys.h"
#include "text/escape.h"

namespace qve {

namespace {

using Json = nlohmann::ordered_json;

constexpr std::string_view kFormat = "qvehelper checkpoint";
constexpr unsigned kVersion = 2;
constexpr std::size_t kDigestBytes = 32;  // SHA-256
constexpr std::array<const char*, 15> kMembers = {
    "format", "version", "verificationKey", "file",  "line",       "id",         "chainValue",
    "start",  "time",    "files",           "lines", "oldestFile", "oldestLine", "oldestChainValue",
    "grew"};
// Of those, the members a version 1 record has.
constexpr std::size_t kVersion1Members = 9;

// The chain a record is for: the key its signatures verify under.
Bytes VerificationKeyFingerprint() {
  const VerificationKey key;
  return PublicKeyFingerprint(key.pkey());
}

// Each member the record must have, of its type, and nothing more.
class RecordReader {
 public:
  explicit RecordReader(const Json& json) : json_(json) {}

  [[noreturn]] void Refuse(const std::string& why, RecordFault code = RecordFault::Damaged) const {
    throw RecordRefused(code, why);
  }
  [[noreturn]] void Damaged(const char* name, const char* what) const {
    Refuse(std::string("is damaged: \"") + name + "\" is not " + what);
  }
  const Json& Member(const char* name) const {
    if (!json_.contains(name)) Refuse(std::string("is damaged: it has no \"") + name + "\"");
    return json_[name];
  }
  std::uint32_t Number(const char* name) const {
    const Json& value = Member(name);
    if (!value.is_number_unsigned() || value.get<std::uint64_t>() > 0xFFFFFFFFu)
      Damaged(name, "a number");
    return value.get<std::uint32_t>();
  }
  std::string Text(const char* name) const {
    const Json& value = Member(name);
    if (!value.is_string()) Damaged(name, "text");
    return value.get<std::string>();
  }
  Bytes Digest(const char* name) const {
    const std::optional<Bytes> bytes = text::FromHex(Text(name));
    if (!bytes || bytes->size() != kDigestBytes) Damaged(name, "a SHA-256 value in hex");
    return *bytes;
  }
  void NothingElse(std::size_t members) const {
    for (const auto& [name, value] : json_.items()) {
      if (std::find(kMembers.begin(), kMembers.begin() + members, name) ==
          kMembers.begin() + members)
        Refuse("is damaged: \"" + text::Escaped(name) + "\" is no member of a record");
    }
  }

 private:
  const Json& json_;
};

}  // namespace

CheckpointRecord ParseCheckpointRecord(std::string_view text) {
  const Json json = Json::parse(text, nullptr, false);
  const RecordReader record(json);
  if (json.is_discarded() || !json.is_object()) record.Refuse("is damaged: not a JSON object");
  if (!json.contains("format") || json["format"] != std::string(kFormat))
    record.Refuse("is not a checkpoint record");
  const std::uint32_t version = record.Number("version");
  if (version != 1 && version != kVersion) {
    record.Refuse("is of version " + std::to_string(version) +
                      ", which is not supported (this tool reads versions 1 and " +
                      std::to_string(kVersion) + ")",
                  RecordFault::Version);
  }
  const std::string key = record.Text("verificationKey");
  if (text::FromHex(key) != VerificationKeyFingerprint()) {
    record.Refuse("is for another chain: it was recorded under the verification key " +
                      text::Escaped(key) + ", and this program verifies with " +
                      text::Hex(VerificationKeyFingerprint()),
                  RecordFault::OtherChain);
  }
  record.NothingElse(version == 1 ? kVersion1Members : kMembers.size());
  CheckpointRecord out;
  out.block = {record.Text("file"), record.Number("line"), record.Number("id"),
               record.Digest("chainValue")};
  out.start = record.Digest("start");
  out.time = record.Text("time");
  if (!IsRfc3339(out.time)) record.Damaged("time", "a time as RFC 3339 writes it");
  out.grew = out.time;
  if (version == 1) return out;
  RecordedHistory& history = out.history.emplace();
  history.files = record.Number("files");
  history.lines = record.Number("lines");
  history.oldest = {record.Text("oldestFile"), record.Number("oldestLine"), 0,
                    record.Digest("oldestChainValue")};
  out.grew = record.Text("grew");
  if (!IsRfc3339(out.grew)) record.Damaged("grew", "a time as RFC 3339 writes it");
  return out;
}

nlohmann::ordered_json CheckpointRecordMembers(const CheckpointRecord& record) {
  return {{"file", record.block.file},
          {"line", record.block.line},
          {"id", record.block.id},
          {"chainValue", text::Hex(record.block.chainValue)},
          {"start", text::Hex(record.start)},
          {"time", record.time}};
}

std::string CheckpointRecordText(const CheckpointRecord& record) {
  Json json = {{"format", kFormat},
               {"version", kVersion},
               {"verificationKey", text::Hex(VerificationKeyFingerprint())}};
  json.update(CheckpointRecordMembers(record));
  // A record is always written as version 2: one read as version 1 vouches
  // from this run's oldest block on.
  const RecordedHistory history = record.history.value_or(RecordedHistory{});
  json["files"] = history.files;
  json["lines"] = history.lines;
  json["oldestFile"] = history.oldest.file;
  json["oldestLine"] = history.oldest.line;
  json["oldestChainValue"] = text::Hex(
      history.oldest.chainValue.empty() ? record.block.chainValue : history.oldest.chainValue);
  json["grew"] = record.grew.empty() ? record.time : record.grew;
  return json.dump(2, ' ', false, Json::error_handler_t::replace) + "\n";
}

}  // namespace qve
