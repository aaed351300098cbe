// SPDX-License-Identifier: Apache-2.0
// verify --metrics: what each device of a --each run came to, in the
// Prometheus node exporter's textfile format, so that a monitoring system
// can alarm on a device that fails or whose record stopped changing. The
// file is replaced whole (OutputFile), never seen half written.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "cli/frame.h"
#include "cli/verify_outcome.h"
#include "command/output_file.h"

namespace qve::cli {

// Adds --metrics FILE to `cmd`, which needs `each`.
void AddMetricsOption(CLI::App& cmd, std::optional<std::string>& file, CLI::Option* each);

class VerifyMetrics {
 public:
  // FILE may be none of the records, the files read and the --html page.
  // Throws CommandError as OutputFile.
  VerifyMetrics(const std::string& file, const std::vector<command::OutputInput>& records,
                const std::vector<command::OutputInput>& read,
                const std::optional<std::string>& page);

  // A device as shown: its outcome (no run where it was not verified) and
  // its exit status.
  void Add(const VerifyOutcome& outcome, int status);

  // Writes the file and puts it in place. Throws CommandError as
  // OutputFile::Commit.
  void Commit();

 private:
  struct Device {
    std::string path;
    int status = 0;
    std::optional<std::uint64_t> files;
    std::optional<std::uint64_t> badBlocks;
    std::optional<std::int64_t> recordChanged;  // unix time
  };
  command::OutputFile file_;
  std::vector<Device> devices_;
};

// A label value as the textfile format writes it: the text output's escape,
// then backslash, double quote and line feed escaped.
std::string MetricLabel(std::string_view bytes);

}  // namespace qve::cli
