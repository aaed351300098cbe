// SPDX-License-Identifier: Apache-2.0
// The command frame (command/) that qvehelper shares with qvehelper-dev.
// Every command uses these names, so they are declared here once instead of
// in each file.
#pragma once

#include "command/command_line.h"
#include "command/escape.h"

namespace qve::cli {

using command::AddJobsOption;
using command::CommandError;
using command::CommandLineArguments;
using command::CommandSetup;
using command::Counted;
using command::Escaped;
using command::EscapedHtml;
using command::ExitStatus;
using command::ExitStatusHelp;
using command::ExpandPathArguments;
using command::FromHex;
using command::Hex;
using command::kBusy;
using command::kCannotCreate;
using command::kDataError;
using command::kMaxJobs;
using command::kNoInput;
using command::kOutputError;
using command::kSoftwareError;
using command::kUsageError;
using command::LinesText;
using command::ProgramName;
using command::RangeText;
using command::RegisterCommand;
using command::RunCommandLine;
using command::Say;
using command::ShownText;
using command::SkippedText;
using command::Warn;

}  // namespace qve::cli
