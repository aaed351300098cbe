// SPDX-License-Identifier: Apache-2.0
// qvehelper decrypt: decrypts a container and checks its seal. Unless asked
// otherwise, OUTPUT only ever receives plaintext whose signature verified:
// the library's safe output checks OUTPUT before any work, decrypts into a
// temporary file beside it and puts it in place only on Success. Standard
// output gets the plaintext from a scratch file of the command's own, once
// the result allows.
#include <CLI/CLI.hpp>

#include <functional>
#include <iostream>
#include <memory>
#include <new>
#include <optional>
#include <string>

#include "QVEHelper.h"
#include "cli/frame.h"
#include "cli/jobs.h"
#include "command/output_file.h"
#include "command/progress.h"
#include "command/standard_input.h"
#include "platform/file_status.h"
#include "platform/paths.h"

namespace qve::cli {

using command::DecryptionCounts;
using command::kStandardStream;
using command::OutputFile;
using command::OutputInput;
using command::Progress;
using command::ProgressStep;
using command::StandardInput;

namespace {

struct DecryptOptions {
  std::string input;
  std::string output;
  bool keepUnverified = false;
  unsigned jobs = CoreCount();
};

// The result line goes to standard error whenever standard output carries
// data; the cause follows it there.
int Report(int result, const std::string& cause, bool toStandardOutput) {
  std::ostream& line = toStandardOutput ? std::cerr : std::cout;
  line << qve_result_name(QVE_RESULT_OF_DECRYPTION, result) << " (" << result << ")\n";
  if (result != QVE_DECRYPT_SUCCESS) Say(cause);
  return result;
}

// The command's status for an error of the library, with its words.
CommandError ErrorOf(int code, const std::string& message) {
  switch (code) {
    case QVE_ERROR_WRONG_KIND:
      return {kDataError, message + "; give - to read a stream from standard input"};
    case QVE_ERROR_SAME_FILE:
      return {kUsageError, message};
    case QVE_ERROR_OUTPUT:
      return {kCannotCreate, message};
    case QVE_ERROR_NO_MEMORY:
      throw std::bad_alloc();
    default:
      return {kSoftwareError, qve_result_name(QVE_RESULT_OF_DECRYPTION, code) + (": " + message)};
  }
}

// What the decryption wrote, for standard output: not when it could not
// open both files.
bool Keeps(int result, bool keepUnverified) {
  return result == QVE_DECRYPT_SUCCESS ||
         (keepUnverified && result != QVE_DECRYPT_INPUT_OPEN_FAILED &&
          result != QVE_DECRYPT_OUTPUT_OPEN_FAILED);
}

// The decryption's two steps: the container read and decrypted, then the
// plaintext read back for the seal check.
std::vector<ProgressStep> Steps(const DecryptionCounts& counts) {
  const std::uint64_t size = counts.size;
  if (!counts.checking) return {{"decrypted", counts.decrypted, size}, {"seal checked", 0, size}};
  return {{"decrypted", size, size}, {"seal checked", counts.checked, counts.plaintext}};
}

int Run(const DecryptOptions& options) {
  if (options.input.empty() || options.output.empty())
    throw CommandError(kUsageError, "INPUT and OUTPUT must not be empty");
  std::optional<StandardInput> standardInput;
  std::wstring input;
  if (options.input == kStandardStream) {
    standardInput.emplace("INPUT", StandardInput::Reading::Once);
    input = standardInput->path();
  } else {
    input = platform::ArgumentPath(options.input);
  }
  DecryptionCounts counts;
  const WorkerPool pool = WorkerPoolFor(options.jobs);
  qve_decrypt_options settings{sizeof settings,
                               DecryptionCounts::Count,
                               &counts,
                               options.keepUnverified,
                               standardInput.has_value(),
                               false,
                               pool.get()};
  std::optional<OutputFile> standardOutput;
  std::wstring output = platform::ArgumentPath(options.output);
  if (OutputFile::NamesStandardOutput(options.output)) {
    const OutputInput read{"INPUT " + Escaped(options.input), platform::StatusOf(input)};
    standardOutput.emplace("OUTPUT", options.output, std::vector{read}, true);
    output = standardOutput->path();
    settings.write_directly = true;
  }
  int result = 0;
  std::string cause;
  {
    const Progress line(true, [&] { return Steps(counts); });
    // The seal check's digest can take one more thread, no more: it is one
    // pass in order. The message is the calling thread's.
    RunJobs(
        1, pool ? 2 : 1,
        [&](std::size_t) {
          result = qve_decrypt_w(input.c_str(), output.c_str(), &settings);
          cause = qve_last_message();
          return true;
        },
        pool.get());
  }
  if (result < 0) throw ErrorOf(result, cause);
  if (result == QVE_DECRYPT_INPUT_OPEN_FAILED) cause = Escaped(options.input) + ": " + cause;
  // Nothing is said to have succeeded before it is where it was asked to go.
  if (standardOutput && Keeps(result, options.keepUnverified)) standardOutput->Commit();
  return Report(result, cause, standardOutput.has_value());
}

const bool kRegistered = RegisterCommand(
    "decrypt", "Decrypt a sealed container and check its seal signature.", [](CLI::App& cmd) {
      auto options = std::make_shared<DecryptOptions>();
      cmd.add_option("INPUT", options->input, "Container to decrypt; - for standard input")
          ->required();
      cmd.add_option("OUTPUT", options->output,
                     "Where the verified plaintext goes; - for standard output")
          ->required();
      AddJobsOption(cmd, options->jobs,
                    "threads (default: the cores): 1 reads the plaintext back for the seal "
                    "check; more digest it on a second thread as it is written");
      cmd.add_flag("--keep-unverified", options->keepUnverified,
                   "Put whatever the library wrote in place as OUTPUT, even when the seal is "
                   "missing or does not verify");
      cmd.footer(ExitStatusHelp({
          {0, "OUTPUT holds the plaintext whose seal verified"},
          {1, 13,
           "the library's result: 1 NoSeal, 2 InputOpenFailed, 4 OutputOpenFailed, "
           "5 OutputWriteFailed, 6 HeaderInvalid, 7 SessionKeyUnavailable, 8 OutputSizeFailed, "
           "9 OutputTruncateFailed, 10 OutputReopenFailed, 11 VerifyInitFailed, "
           "12 VerifyUpdateFailed, 13 BadSignature; a line on standard error says why, and "
           "OUTPUT is left as it was unless --keep-unverified"},
          {kUsageError,
           "INPUT or OUTPUT empty, INPUT and OUTPUT the same file, or INPUT - on a terminal"},
          {kDataError, "INPUT is a FIFO, socket or device (- reads a stream)"},
          {kNoInput, "standard input, for INPUT -"},
          {kCannotCreate, std::string("OUTPUT ") + platform::RefusedOutputPlaces() +
                              "; no scratch file can be made"},
          {kOutputError, "standard output does not take the plaintext"},
      }));
      return std::function<int()>([options] { return Run(*options); });
    });

}  // namespace

}  // namespace qve::cli
