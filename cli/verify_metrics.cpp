// SPDX-License-Identifier: Apache-2.0
#include "cli/verify_metrics.h"

#include <cctype>
#include <utility>

#include "platform/paths.h"
#include "platform/utc_time.h"

namespace qve::cli {

using command::OutputInput;

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
// When the chain last grew: a device that stops logging keeps this still.
constexpr Family kRecordChanged{"qvehelper_checkpoint_grew_timestamp_seconds",
                                "When the device's chain last grew past its checkpoint record, as "
                                "a unix time"};

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
        device.recordChanged = platform::Rfc3339Seconds(qve_run_point_grew(run, point));
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
