// SPDX-License-Identifier: Apache-2.0
// qvehelper decrypt: decrypts a container and checks its seal. Unless asked
// otherwise, OUTPUT only ever receives plaintext whose signature verified:
// the library writes into the output's temporary file, which is put in place
// on Success and discarded on every other path. Everything that can be
// checked before the work is checked before it.
#include <CLI/CLI.hpp>

#include <functional>
#include <iostream>
#include <memory>
#include <optional>
#include <string>

#include "QVEHelper.h"
#include "cli/command_line.h"
#include "cli/decrypt_cause.h"
#include "cli/escape.h"
#include "cli/output_file.h"
#include "cli/progress.h"
#include "cli/standard_input.h"
#include "decrypt/decrypt_file.h"
#include "format/container_format.h"
#include "platform/file_status.h"
#include "platform/paths.h"

namespace {

using qve::platform::FileKind;
using QVE_Helper::DecryptResult;

struct DecryptOptions {
  std::string input;
  std::string output;
  bool keepUnverified = false;
};

// The result line goes to standard error whenever standard output carries
// data; the cause follows it there.
int Report(DecryptResult result, const std::string& cause, bool toStandardOutput) {
  std::ostream& line = toStandardOutput ? std::cerr : std::cout;
  line << qve::DecryptResultName(result) << " (" << static_cast<int>(result) << ")\n";
  if (result != QVE_Helper::Success)
    std::cerr << qve::cli::ProgramName() << " decrypt: " << cause << '\n';
  return static_cast<int>(result);
}

// What the library leaves when it could not open both files is not its work.
bool Keeps(DecryptResult result, bool keepUnverified) {
  return result == QVE_Helper::Success ||
         (keepUnverified && result != QVE_Helper::InputOpenFailed &&
          result != QVE_Helper::OutputOpenFailed);
}

// The decryption's two steps: the payload into the output, then the output
// read back for the seal check.
std::vector<qve::cli::ProgressStep> Steps(const qve::DecryptProgress& progress,
                                          std::uint64_t inputSize, std::uint64_t written) {
  if (!progress.checkingSeal)
    return {{"decrypted", written, inputSize}, {"seal checked", 0, inputSize}};
  return {{"decrypted", inputSize, inputSize},
          {"seal checked", progress.readBack, progress.plaintext}};
}

int Run(const DecryptOptions& options) {
  using qve::cli::CommandError;
  if (options.input.empty() || options.output.empty())
    throw CommandError(qve::cli::kUsageError, "INPUT and OUTPUT must not be empty");
  std::optional<qve::cli::StandardInput> standardInput;
  std::wstring input;
  if (options.input == qve::cli::kStandardStream) {
    standardInput.emplace("INPUT", qve::cli::StandardInput::Reading::Once);
    input = standardInput->path();
  } else {
    input = qve::platform::ArgumentPath(options.input);
  }
  const qve::platform::FileStatus inputStatus = qve::platform::StatusOf(input);
  // The library would wait on a FIFO for good, or read a device as no
  // container at all.
  if (!standardInput && inputStatus.kind == FileKind::Other)
    throw CommandError(qve::cli::kDataError, "INPUT " + qve::cli::Escaped(options.input) + " is " +
                                                 qve::cli::SpecialFileText(inputStatus, true));
  const bool readsAgain = standardInput ? standardInput->readsAgain() : true;
  const bool toStandardOutput = options.output == qve::cli::kStandardStream;
  // Anything the library would not open ends as InputOpenFailed with its
  // cause, OUTPUT untouched.
  if (inputStatus.kind == FileKind::Missing || inputStatus.kind == FileKind::Folder ||
      qve::platform::ReadError(input)) {
    const std::string cause = qve::cli::DecryptCause(QVE_Helper::InputOpenFailed, input, false, {});
    return Report(QVE_Helper::InputOpenFailed, qve::cli::Escaped(options.input) + ": " + cause,
                  toStandardOutput);
  }
  qve::cli::OutputFile output("OUTPUT", options.output,
                              {{"INPUT " + qve::cli::Escaped(options.input), inputStatus}}, true);
  qve::DecryptProgress progress;
  DecryptResult result;
  {
    const qve::cli::Progress line(true,
                                  [&] { return Steps(progress, inputStatus.size, output.Size()); });
    result = qve::DecryptFile(input, output.path(), &progress);
  }
  const std::string cause = qve::cli::DecryptCause(result, input, readsAgain, output.path());
  // Nothing is said to have succeeded before it is where it was asked to go.
  if (Keeps(result, options.keepUnverified)) output.Commit();
  return Report(result, cause, output.toStandardOutput());
}

const bool kRegistered = qve::cli::RegisterCommand(
    "decrypt", "Decrypt a sealed container and check its seal signature.", [](CLI::App& cmd) {
      auto options = std::make_shared<DecryptOptions>();
      cmd.add_option("INPUT", options->input, "Container to decrypt; - for standard input")
          ->required();
      cmd.add_option("OUTPUT", options->output,
                     "Where the verified plaintext goes; - for standard output")
          ->required();
      cmd.add_flag("--keep-unverified", options->keepUnverified,
                   "Put whatever the library wrote in place as OUTPUT, even when the seal is "
                   "missing or does not verify");
      using qve::cli::ExitStatus;
      cmd.footer(qve::cli::ExitStatusHelp({
          {0, "OUTPUT holds the plaintext whose seal verified"},
          {1, 13,
           "the library's result: 1 NoSeal, 2 InputOpenFailed, 4 OutputOpenFailed, "
           "5 OutputWriteFailed, 6 HeaderInvalid, 7 SessionKeyUnavailable, 8 OutputSizeFailed, "
           "9 OutputTruncateFailed, 10 OutputReopenFailed, 11 VerifyInitFailed, "
           "12 VerifyUpdateFailed, 13 BadSignature; a line on standard error says why, and "
           "OUTPUT is left as it was unless --keep-unverified"},
          {qve::cli::kUsageError,
           "INPUT or OUTPUT empty, INPUT and OUTPUT the same file, or INPUT - on a terminal"},
          {qve::cli::kDataError, "INPUT is a FIFO, socket or device (- reads a stream)"},
          {qve::cli::kNoInput, "standard input, for INPUT -"},
          {qve::cli::kCannotCreate,
           "OUTPUT is not a regular file, its folder is missing, it cannot be replaced, or "
           "it leads through another user's link in a sticky folder; no scratch file can be "
           "made"},
          {qve::cli::kOutputError, "standard output does not take the plaintext"},
      }));
      return std::function<int()>([options] { return Run(*options); });
    });

}  // namespace
