// SPDX-License-Identifier: Apache-2.0
#include "cli/verify_checkpoint.h"

#include <ctime>

#include "cli/command_line.h"
#include "cli/escape.h"
#include "cli/verify_outcome.h"
#include "crypto/built_in_keys.h"
#include "platform/file_status.h"
#include "platform/files.h"
#include "platform/paths.h"

namespace qve::cli {

namespace {

using Json = nlohmann::ordered_json;

constexpr std::string_view kFormat = "qvehelper checkpoint";
constexpr unsigned kVersion = 1;
constexpr std::size_t kLargestRecord = 1 << 16;

// The chain a record is for: the key its signatures verify under.
std::string VerificationKeyHex() {
  const VerificationKey key;
  return Hex(PublicKeyFingerprint(key.pkey()));
}

Json RecordJson(const CheckpointRecord& record) {
  return {{"file", record.block.file},  {"line", record.block.line},
          {"id", record.block.id},      {"chainValue", Hex(record.block.chainValue)},
          {"start", Hex(record.start)}, {"time", record.time}};
}

[[noreturn]] void Refuse(const std::string& file, const std::string& why) {
  throw CommandError(kDataError,
                     "checkpoint " + Escaped(file) + " " + why + "; it is left as it is");
}

// Each member the record must have, of its type.
class RecordReader {
 public:
  RecordReader(const Json& json, const std::string& file) : json_(json), file_(file) {}

  [[noreturn]] void Refuse(const std::string& why) const { cli::Refuse(file_, why); }
  const Json& Member(const char* name) const {
    if (!json_.contains(name)) Refuse(std::string("is damaged: it has no \"") + name + "\"");
    return json_[name];
  }
  std::uint32_t Number(const char* name) const {
    const Json& value = Member(name);
    if (!value.is_number_unsigned() || value.get<std::uint64_t>() > 0xFFFFFFFFu)
      Refuse(std::string("is damaged: \"") + name + "\" is not a number");
    return value.get<std::uint32_t>();
  }
  std::string Text(const char* name) const {
    const Json& value = Member(name);
    if (!value.is_string()) Refuse(std::string("is damaged: \"") + name + "\" is not text");
    return value.get<std::string>();
  }
  Bytes Digest(const char* name) const {
    const std::optional<Bytes> bytes = FromHex(Text(name));
    if (!bytes || bytes->empty())
      Refuse(std::string("is damaged: \"") + name + "\" is not a chain value in hex");
    return *bytes;
  }

 private:
  const Json& json_;
  const std::string& file_;
};

}  // namespace

void CheckpointWatch::OnFileStart(const FileDetail& file) {
  // Read again from its start: what was seen of the file no longer holds.
  if (file.reading == 1) {
    beforeFile_ = seen_;
  } else {
    seen_ = beforeFile_;
  }
}

void CheckpointWatch::OnBlock(const FileDetail& file, const BlockDetail& block) {
  if (block.isUnsignedTail()) return;
  // The first signature line of a run may link anywhere: the run starts there.
  if (!seen_.start) seen_.start = block.verdict == BlockOk ? block.link : block.expectedLink;
  const bool signedValidly = block.verdict == BlockOk || block.verdict == BlockChainBreak;
  if (!signedValidly) return;
  const auto point = [&] {
    return ChainPoint{Narrow(file.name), block.lines.last, block.id, block.chainValue, position_};
  };
  if (block.verdict == BlockOk) seen_.newest = point();
  if (!recorded_) return;
  if (!seen_.held && block.chainValue == recorded_->block.chainValue) seen_.held = point();
  if (block.chainValue == recorded_->start) seen_.heldStart = true;
}

void CheckpointWatch::OnFileEnd(const FileDetail&) { ++position_; }

std::optional<CheckpointRecord> ReadCheckpoint(const std::string& file) {
  const std::wstring path = platform::ArgumentPath(file);
  const platform::FileStatus status = platform::StatusOf(path);
  const std::string called = "checkpoint " + Escaped(file);
  if (status.kind == platform::FileKind::Missing) {
    if (platform::IsNotFound(status.error)) return std::nullopt;
    throw CommandError(kNoInput, called + ": " + platform::ErrorText(status.error));
  }
  platform::FileStream in;
  if (!platform::OpenForReading(in, path))
    throw CommandError(
        kNoInput, called + " cannot be read: " + platform::ErrorText(platform::ReadError(path)));
  std::string text(kLargestRecord + 1, '\0');
  in.read(text.data(), std::streamsize(text.size()));
  text.resize(std::size_t(in.gcount()));
  if (in.bad()) throw CommandError(kNoInput, called + " cannot be read");
  if (text.size() > kLargestRecord) Refuse(file, "is damaged: larger than any record");
  const Json json = Json::parse(text, nullptr, false);
  if (json.is_discarded() || !json.is_object()) Refuse(file, "is damaged: not a JSON object");
  const RecordReader record(json, file);
  if (!json.contains("format") || json["format"] != std::string(kFormat))
    record.Refuse("is not a checkpoint record");
  if (const std::uint32_t version = record.Number("version"); version != kVersion) {
    record.Refuse("is of version " + std::to_string(version) +
                  ", which is not supported (this tool reads version " + std::to_string(kVersion) +
                  ")");
  }
  if (const std::string key = record.Text("verificationKey"); key != VerificationKeyHex()) {
    record.Refuse("is for another chain: it was recorded under the verification key " +
                  Escaped(key) + ", and this program verifies with " + VerificationKeyHex());
  }
  CheckpointRecord out;
  out.block = {record.Text("file"), record.Number("line"), record.Number("id"),
               record.Digest("chainValue")};
  out.start = record.Digest("start");
  out.time = record.Text("time");
  return out;
}

CheckpointOutcome JudgeCheckpoint(const std::string& file,
                                  const std::optional<CheckpointRecord>& recorded,
                                  const ChainSeen& seen, const std::string& failing) {
  CheckpointOutcome out;
  out.file = file;
  out.recorded = recorded;
  if (seen.newest) {
    out.now = CheckpointRecord{*seen.newest, seen.start.value_or(ChainStart()),
                               UtcNow("%Y-%m-%dT%H:%M:%SZ")};
  }
  if (recorded) {
    out.held = seen.held;
    // A run that starts right after the recorded block still extends it.
    const bool startsAfter = seen.start == recorded->block.chainValue;
    if (!out.held && !startsAfter) {
      out.status = CheckpointStatus::Lost;
      return out;
    }
    out.status = CheckpointStatus::Extended;
    out.startsLater = seen.start != recorded->start && !seen.heldStart;
  }
  if (!out.now) {
    out.notWritten = "nothing verified to record";
  } else if (!failing.empty()) {
    out.notWritten = failing;
  }
  return out;
}

std::string CheckpointFileText(const CheckpointRecord& record) {
  Json json = {
      {"format", kFormat}, {"version", kVersion}, {"verificationKey", VerificationKeyHex()}};
  json.update(RecordJson(record));
  return json.dump(2, ' ', false, Json::error_handler_t::replace) + "\n";
}

const char* CheckpointStatusName(CheckpointStatus status) {
  switch (status) {
    case CheckpointStatus::New:
      return "new";
    case CheckpointStatus::Extended:
      return "extended";
    case CheckpointStatus::Lost:
      return "lost";
  }
  return "?";
}

std::string PointText(const ChainPoint& point) {
  return Escaped(point.file) + " line " + std::to_string(point.line) + " (id " +
         std::to_string(point.id) + ")";
}

std::string CheckpointText(const CheckpointOutcome& outcome) {
  const std::string file = Escaped(outcome.file);
  if (outcome.status == CheckpointStatus::Lost) {
    return "CheckpointLost (" + std::to_string(kCheckpointLost) +
           "): " + PointText(outcome.recorded->block) + ", recorded " +
           Escaped(outcome.recorded->time) +
           ", is no longer in the chain: what was verified before has been removed or rolled "
           "back; " +
           file + " is kept";
  }
  std::string text = std::string("Checkpoint ") + CheckpointStatusName(outcome.status) + ": ";
  if (outcome.recorded) text += PointText(outcome.recorded->block);
  if (outcome.written) {
    if (!outcome.recorded) return text + PointText(outcome.now->block) + ", written to " + file;
    if (outcome.now->block.chainValue == outcome.recorded->block.chainValue)
      return text + ", nothing newer; written to " + file;
    return text + " to " + PointText(outcome.now->block) + ", written to " + file;
  }
  return text + (outcome.recorded ? " is held; " : "") + file +
         " is not written: " + outcome.notWritten;
}

Json ToJson(const CheckpointOutcome& outcome) {
  const auto record = [](const std::optional<CheckpointRecord>& r) {
    return r ? RecordJson(*r) : Json(nullptr);
  };
  return {{"file", outcome.file},
          {"status", CheckpointStatusName(outcome.status)},
          {"written", outcome.written},
          {"startsLater", outcome.startsLater},
          {"recorded", record(outcome.recorded)},
          {"now", record(outcome.now)}};
}

std::string UtcNow(const char* format) {
  const std::time_t now = std::time(nullptr);
  char text[64] = {};
  if (const std::tm* utc = std::gmtime(&now)) std::strftime(text, sizeof text, format, utc);
  return text;
}

}  // namespace qve::cli
