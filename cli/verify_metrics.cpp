// SPDX-License-Identifier: Apache-2.0
#include "cli/verify_metrics.h"

#include <cctype>
#include <utility>

#include "platform/paths.h"

namespace qve::cli {

namespace {

struct Family {
  const char* name;
  const char* help;
};

constexpr Family kStatus{"qvehelper_verify_status",
                         "Exit status of the device's chain in the last verify run: 0 passed, 1 "
                         "nothing signed, 2 to 6 a fault found, 64 and above not verified"};
constexpr Family kFiles{"qvehelper_verify_files", "Files of the device's chain that were verified"};
constexpr Family kBadBlocks{"qvehelper_verify_bad_blocks",
                            "Blocks of the device's chain that do not verify: invalid, a chain "
                            "break or unexpected"};
// When the record was last written, which a passing run does each time.
constexpr Family kRecordChanged{"qvehelper_checkpoint_changed_timestamp_seconds",
                                "When the device's checkpoint record last changed, as a unix time"};

// Digits at `at`, `count` of them; nothing where there are not.
std::optional<int> Number(std::string_view text, std::size_t at, std::size_t count) {
  if (at + count > text.size()) return std::nullopt;
  int value = 0;
  for (std::size_t i = at; i < at + count; ++i) {
    if (std::isdigit(static_cast<unsigned char>(text[i])) == 0) return std::nullopt;
    value = value * 10 + (text[i] - '0');
  }
  return value;
}

// Days from 1970-01-01 to a date of the proleptic Gregorian calendar.
std::int64_t DaysFromCivil(std::int64_t year, unsigned month, unsigned day) {
  year -= month <= 2 ? 1 : 0;
  const std::int64_t era = (year >= 0 ? year : year - 399) / 400;
  const auto yearOfEra = static_cast<unsigned>(year - era * 400);
  const unsigned dayOfYear = (153 * (month > 2 ? month - 3 : month + 9) + 2) / 5 + day - 1;
  const unsigned dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
  return era * 146097 + static_cast<std::int64_t>(dayOfEra) - 719468;
}

// The files the metrics must not replace.
std::vector<OutputInput> NotReplaced(const std::vector<OutputInput>& records,
                                     const std::vector<OutputInput>& read,
                                     const std::optional<std::string>& page,
                                     const std::string& file) {
  std::vector<OutputInput> inputs = records;
  inputs.insert(inputs.end(), read.begin(), read.end());
  if (!page) return inputs;
  if (*page == file)
    throw CommandError(kUsageError, "--html and --metrics name one file, " + Escaped(file));
  inputs.push_back({"--html " + *page, platform::StatusOf(platform::ArgumentPath(*page))});
  return inputs;
}

}  // namespace

void AddMetricsOption(CLI::App& cmd, std::optional<std::string>& file, CLI::Option* each) {
  cmd.add_option("--metrics", file,
                 "also write each PATH's exit status, files, bad blocks and the time its record "
                 "last changed, in the node exporter's textfile format")
      ->type_name("FILE")
      ->needs(each);
}

std::string MetricLabel(std::string_view bytes) {
  std::string out;
  for (const char c : Escaped(bytes)) {
    if (c == '\\' || c == '"') out += '\\';
    out += c;
  }
  return out;
}

std::optional<std::int64_t> UnixTime(std::string_view text) {
  const auto year = Number(text, 0, 4), month = Number(text, 5, 2), day = Number(text, 8, 2),
             hour = Number(text, 11, 2), minute = Number(text, 14, 2), second = Number(text, 17, 2);
  if (!year || !month || !day || !hour || !minute || !second || text[4] != '-' || text[7] != '-' ||
      (text[10] != 'T' && text[10] != 't') || text[13] != ':' || text[16] != ':' || *month < 1 ||
      *month > 12 || *day < 1 || *day > 31 || *hour > 23 || *minute > 59 || *second > 60)
    return std::nullopt;
  std::size_t at = 19;
  if (at < text.size() && text[at] == '.') {
    do ++at;
    while (at < text.size() && std::isdigit(static_cast<unsigned char>(text[at])) != 0);
  }
  std::int64_t offset = 0;
  if (text.substr(at) != "Z" && text.substr(at) != "z") {
    const auto offsetHour = Number(text, at + 1, 2), offsetMinute = Number(text, at + 4, 2);
    if (text.size() != at + 6 || (text[at] != '+' && text[at] != '-') || text[at + 3] != ':' ||
        !offsetHour || !offsetMinute)
      return std::nullopt;
    offset = (*offsetHour * 60 + *offsetMinute) * 60 * (text[at] == '-' ? -1 : 1);
  }
  return DaysFromCivil(*year, unsigned(*month), unsigned(*day)) * 86400 + *hour * 3600 +
         *minute * 60 + *second - offset;
}

VerifyMetrics::VerifyMetrics(const std::string& file, const std::vector<OutputInput>& records,
                             const std::vector<OutputInput>& read,
                             const std::optional<std::string>& page)
    : file_("--metrics", file, NotReplaced(records, read, page, file)) {}

void VerifyMetrics::Add(const VerifyOutcome& outcome, int status) {
  Device device;
  device.path = outcome.path;
  device.status = status;
  if (qve_run* const run = outcome.get(); run != nullptr) {
    device.files = std::uint64_t(qve_run_total_files(run));
    std::uint64_t bad = 0;
    for (std::size_t i = 0; i < outcome.files(); ++i) bad += qve_run_file_bad_blocks(run, i);
    device.badBlocks = bad;
    if (outcome.record) {
      const int point = outcome.record->written ? QVE_POINT_NOW : QVE_POINT_RECORDED;
      if (qve_run_point_known(run, point) != 0)
        device.recordChanged = UnixTime(qve_run_point_time(run, point));
    }
  }
  devices_.push_back(std::move(device));
}

void VerifyMetrics::Commit() {
  file_.Write([&](std::ostream& out) {
    const auto family = [&](const Family& metric, auto value) {
      out << "# HELP " << metric.name << ' ' << metric.help << "\n# TYPE " << metric.name
          << " gauge\n";
      for (const Device& device : devices_) {
        if (const auto sample = value(device))
          out << metric.name << "{path=\"" << MetricLabel(device.path) << "\"} " << *sample << '\n';
      }
    };
    family(kStatus, [](const Device& device) { return std::optional<int>(device.status); });
    family(kFiles, [](const Device& device) { return device.files; });
    family(kBadBlocks, [](const Device& device) { return device.badBlocks; });
    family(kRecordChanged, [](const Device& device) { return device.recordChanged; });
  });
  file_.Commit();
}

}  // namespace qve::cli
