// SPDX-License-Identifier: Apache-2.0
#include "cli/verify_checkpoint.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <ctime>

#include "cli/command_line.h"
#include "cli/escape.h"
#include "cli/verify_outcome.h"
#include "crypto/built_in_keys.h"

namespace qve::cli {

namespace {

using Json = nlohmann::ordered_json;

constexpr std::string_view kFormat = "qvehelper checkpoint";
constexpr unsigned kVersion = 1;
constexpr std::size_t kDigestBytes = 32;  // SHA-256
constexpr std::array<const char*, 9> kMembers = {
    "format", "version", "verificationKey", "file", "line", "id", "chainValue", "start", "time"};

// The chain a record is for: the key its signatures verify under.
Bytes VerificationKeyFingerprint() {
  const VerificationKey key;
  return PublicKeyFingerprint(key.pkey());
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

// Each member the record must have, of its type, and nothing more.
class RecordReader {
 public:
  RecordReader(const Json& json, const std::string& file) : json_(json), file_(file) {}

  [[noreturn]] void Refuse(const std::string& why) const { cli::Refuse(file_, why); }
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
    const std::optional<Bytes> bytes = FromHex(Text(name));
    if (!bytes || bytes->size() != kDigestBytes) Damaged(name, "a SHA-256 value in hex");
    return *bytes;
  }
  void NothingElse() const {
    for (const auto& [name, value] : json_.items()) {
      if (std::find(kMembers.begin(), kMembers.end(), name) == kMembers.end())
        Refuse("is damaged: \"" + Escaped(name) + "\" is no member of a record");
    }
  }

 private:
  const Json& json_;
  const std::string& file_;
};

// The digits of `text` from `at`, `count` of them, as a number.
std::optional<unsigned> Digits(std::string_view text, std::size_t at, std::size_t count) {
  if (at + count > text.size()) return std::nullopt;
  unsigned value = 0;
  for (std::size_t i = at; i < at + count; ++i) {
    if (text[i] < '0' || text[i] > '9') return std::nullopt;
    value = value * 10 + unsigned(text[i] - '0');
  }
  return value;
}

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

bool IsRfc3339(std::string_view text) {
  // date-time = YYYY-MM-DD "T" hh:mm:ss [.fraction] ("Z" / +hh:mm / -hh:mm)
  const auto year = Digits(text, 0, 4), month = Digits(text, 5, 2), day = Digits(text, 8, 2);
  const auto hour = Digits(text, 11, 2), minute = Digits(text, 14, 2), second = Digits(text, 17, 2);
  if (!year || !month || !day || !hour || !minute || !second) return false;
  if (text[4] != '-' || text[7] != '-' || (text[10] != 'T' && text[10] != 't') || text[13] != ':' ||
      text[16] != ':')
    return false;
  const bool leap = *year % 4 == 0 && (*year % 100 != 0 || *year % 400 == 0);
  constexpr unsigned kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (*month < 1 || *month > 12 || *day < 1 ||
      *day > kDays[*month - 1] + (*month == 2 && leap ? 1 : 0) || *hour > 23 || *minute > 59 ||
      *second > 60)
    return false;
  std::size_t at = 19;
  if (at < text.size() && text[at] == '.') {
    const std::size_t digits = at + 1;
    for (++at; at < text.size() && text[at] >= '0' && text[at] <= '9';) ++at;
    if (at == digits) return false;
  }
  if (at + 1 == text.size()) return text[at] == 'Z' || text[at] == 'z';
  const auto offsetHour = Digits(text, at + 1, 2), offsetMinute = Digits(text, at + 4, 2);
  return at + 6 == text.size() && (text[at] == '+' || text[at] == '-') && text[at + 3] == ':' &&
         offsetHour && *offsetHour <= 23 && offsetMinute && *offsetMinute <= 59;
}

CheckpointRecord ParseCheckpoint(std::string_view text, const std::string& file) {
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
  const std::string key = record.Text("verificationKey");
  if (FromHex(key) != VerificationKeyFingerprint()) {
    record.Refuse("is for another chain: it was recorded under the verification key " +
                  Escaped(key) + ", and this program verifies with " +
                  Hex(VerificationKeyFingerprint()));
  }
  record.NothingElse();
  CheckpointRecord out;
  out.block = {record.Text("file"), record.Number("line"), record.Number("id"),
               record.Digest("chainValue")};
  out.start = record.Digest("start");
  out.time = record.Text("time");
  if (!IsRfc3339(out.time)) record.Damaged("time", "a time as RFC 3339 writes it");
  return out;
}

CheckpointOutcome JudgeCheckpoint(const std::string& file,
                                  const std::optional<CheckpointRecord>& recorded,
                                  const ChainSeen& seen, const std::string& failing,
                                  bool readOnly) {
  CheckpointOutcome out;
  out.file = file;
  out.recorded = recorded;
  out.readOnly = readOnly;
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
  if (readOnly) {
    out.notWritten = "it is read-only here";
  } else if (!out.now) {
    out.notWritten = "nothing signed to record";
  } else if (!failing.empty()) {
    out.notWritten = failing;
  }
  return out;
}

std::string CheckpointFileText(const CheckpointRecord& record) {
  Json json = {{"format", kFormat},
               {"version", kVersion},
               {"verificationKey", Hex(VerificationKeyFingerprint())}};
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
  // The recorded block by the name its file has now.
  std::string recorded;
  if (outcome.recorded) {
    recorded = PointText(outcome.recorded->block);
    if (outcome.renamed())
      recorded +=
          ", now " + Escaped(outcome.held->file) + " line " + std::to_string(outcome.held->line);
  }
  if (!outcome.written) {
    if (!outcome.recorded)
      return "Checkpoint not created: " + file + " is not written: " + outcome.notWritten;
    return "Checkpoint held: " + recorded + "; " + file + " is not written: " + outcome.notWritten;
  }
  if (!outcome.recorded)
    return "Checkpoint new: " + PointText(outcome.now->block) + ", written to " + file;
  if (outcome.now->block.chainValue == outcome.recorded->block.chainValue)
    return "Checkpoint extended: " + recorded + ", nothing newer; written to " + file;
  return "Checkpoint extended: " + recorded + (outcome.renamed() ? ", to " : " to ") +
         PointText(outcome.now->block) + ", written to " + file;
}

std::vector<std::string> CheckpointNotices(const CheckpointOutcome& outcome) {
  std::vector<std::string> notices;
  if (outcome.status == CheckpointStatus::Lost) return notices;
  if (outcome.renamed()) {
    notices.push_back("the recorded block " + PointText(outcome.recorded->block) + " is now in " +
                      Escaped(outcome.held->file) + ": a rotation renamed files");
  }
  if (outcome.startsLater)
    notices.push_back("the run starts later than the recorded one: the oldest files are gone");
  return notices;
}

Json ToJson(const CheckpointOutcome& outcome) {
  const auto record = [](const std::optional<CheckpointRecord>& r) {
    return r ? RecordJson(*r) : Json(nullptr);
  };
  Json held = nullptr;
  if (outcome.held) {
    held = {{"file", outcome.held->file}, {"line", outcome.held->line}, {"id", outcome.held->id}};
  }
  return {{"file", outcome.file},
          {"status", CheckpointStatusName(outcome.status)},
          {"readOnly", outcome.readOnly},
          {"written", outcome.written},
          {"startsLater", outcome.startsLater},
          {"recorded", record(outcome.recorded)},
          {"held", std::move(held)},
          {"now", record(outcome.now)}};
}

std::string UtcNow(const char* format) {
  // By the calendar of <chrono>, not gmtime, whose one result every thread
  // shares: chains are judged on threads of their own.
  using namespace std::chrono;
  const auto now = floor<seconds>(system_clock::now());
  const auto day = floor<days>(now);
  const year_month_day date(day);
  const hh_mm_ss time(now - day);
  std::tm utc{};
  utc.tm_year = int(date.year()) - 1900;
  utc.tm_mon = int(unsigned(date.month())) - 1;
  utc.tm_mday = int(unsigned(date.day()));
  utc.tm_hour = int(time.hours().count());
  utc.tm_min = int(time.minutes().count());
  utc.tm_sec = int(time.seconds().count());
  char text[64] = {};
  std::strftime(text, sizeof text, format, &utc);
  return text;
}

}  // namespace qve::cli
