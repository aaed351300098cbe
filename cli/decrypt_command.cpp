// qvehelper decrypt: decrypts a container and checks its seal. Unless asked
// otherwise, OUTPUT only ever receives plaintext whose signature verified:
// the library writes into the output's temporary file, which is put in place
// on Success and discarded on every other path. Everything that can be
// checked before the work is checked before it.
#include <CLI/CLI.hpp>

#include <cstdint>
#include <functional>
#include <iostream>
#include <memory>
#include <string>

#include "QVEHelper.h"
#include "cli/command_line.h"
#include "cli/escape.h"
#include "cli/output_file.h"
#include "cli/progress.h"
#include "decrypt/container_diagnosis.h"
#include "platform/file_status.h"
#include "platform/files.h"
#include "platform/paths.h"

namespace {

using qve::platform::FileKind;
using QVE_Helper::DecryptResult;

struct DecryptOptions {
  std::string input;
  std::string output;
  bool keepUnverified = false;
};

// One run: what the command learnt about INPUT before the work.
struct Job {
  std::wstring input;
  qve::platform::FileStatus inputStatus;
};

std::ostream& Message() { return std::cerr << qve::cli::ProgramName() << " decrypt: "; }

// A payload that is not a whole number of cipher blocks was cut short.
bool LooksTruncated(const Job& job) {
  qve::platform::FileStream in;
  if (!qve::platform::OpenForReading(in, job.input)) return false;
  const qve::ContainerDiagnosis diagnosis = qve::DiagnoseContainer(in, job.inputStatus.size, false);
  return diagnosis.header.stop.status == qve::HeaderStatus::Complete && !diagnosis.wholeBlocks;
}

std::string Because(const std::error_code& error, const std::string& otherwise) {
  return error ? qve::platform::ErrorText(error) : otherwise;
}

std::string CauseOf(DecryptResult result, const Job& job, const std::wstring& written) {
  switch (result) {
    case QVE_Helper::Success:
      return "";
    case QVE_Helper::NoSeal:
      return LooksTruncated(job) ? "the container looks truncated"
                                 : "the plaintext ends in no seal trailer";
    case QVE_Helper::InputOpenFailed:
      return qve::cli::Escaped(qve::platform::ShownText(job.input)) + ": " +
             Because(qve::platform::ReadError(job.input), "cannot be opened");
    case QVE_Helper::OutputOpenFailed:
      return Because(qve::platform::ReadError(written),
                     "the output file could not be opened for writing");
    case QVE_Helper::OutputWriteFailed:
      return Because(qve::platform::WriteError(written),
                     "a write to the output failed, though writing there works again now");
    case QVE_Helper::HeaderInvalid:
      return "INPUT is not a QVES container, or its header is damaged";
    case QVE_Helper::SessionKeyUnavailable:
      return "no recipient record of INPUT opens with this program's key";
    case QVE_Helper::OutputSizeFailed:
    case QVE_Helper::OutputTruncateFailed:
    case QVE_Helper::OutputReopenFailed:
      return "the output file changed or vanished while it was written";
    case QVE_Helper::VerifyInitFailed:
    case QVE_Helper::VerifyUpdateFailed:
      return "the cryptographic library failed while checking the seal";
    case QVE_Helper::BadSignature:
      return "the seal's signature does not match the plaintext";
  }
  return "";
}

// The result line goes to standard error whenever standard output carries data.
int Report(DecryptResult result, const Job& job, const std::wstring& written,
           bool toStandardOutput) {
  std::ostream& line = toStandardOutput ? std::cerr : std::cout;
  line << qve::DecryptResultName(result) << " (" << static_cast<int>(result) << ")\n";
  if (result != QVE_Helper::Success) Message() << CauseOf(result, job, written) << '\n';
  return static_cast<int>(result);
}

// What the library leaves when it could not open both files is not its work.
bool Keeps(DecryptResult result, bool keepUnverified) {
  return result == QVE_Helper::Success ||
         (keepUnverified && result != QVE_Helper::InputOpenFailed &&
          result != QVE_Helper::OutputOpenFailed);
}

int Run(const DecryptOptions& options) {
  using qve::cli::CommandError;
  if (options.input.empty() || options.output.empty())
    throw CommandError(qve::cli::kUsageError, "INPUT and OUTPUT must not be empty");
  const std::wstring input = qve::platform::ArgumentPath(options.input);
  Job job{input, qve::platform::StatusOf(input)};
  // Anything the library would not open ends as InputOpenFailed with its
  // cause, OUTPUT untouched.
  if (job.inputStatus.kind == FileKind::Missing || job.inputStatus.kind == FileKind::Folder ||
      qve::platform::ReadError(job.input))
    return Report(QVE_Helper::InputOpenFailed, job, {}, options.output == "-");
  qve::cli::OutputFile output("OUTPUT", options.output,
                              {{"INPUT " + qve::cli::Escaped(options.input), job.inputStatus}},
                              true);
  DecryptResult result;
  {
    const qve::cli::Progress progress(true, qve::cli::Progress::Unit::Bytes, job.inputStatus.size,
                                      [&] { return output.Size(); });
    result = QVE_Helper::Decrypt(job.input, output.path());
  }
  // Nothing is said to have succeeded before it is where it was asked to go.
  if (Keeps(result, options.keepUnverified)) output.Commit();
  return Report(result, job, output.path(), output.toStandardOutput());
}

const bool kRegistered = qve::cli::RegisterCommand(
    "decrypt", "Decrypt a sealed container and check its seal signature.", [](CLI::App& cmd) {
      auto options = std::make_shared<DecryptOptions>();
      cmd.add_option("INPUT", options->input, "Container to decrypt")->required();
      cmd.add_option("OUTPUT", options->output,
                     "Where the verified plaintext goes; - for standard output")
          ->required();
      cmd.add_flag("--keep-unverified", options->keepUnverified,
                   "Put whatever the library wrote in place as OUTPUT, even when the seal is "
                   "missing or does not verify");
      cmd.footer(qve::cli::ExitStatusHelp(
          "  0   Success: OUTPUT holds the plaintext whose seal verified\n"
          "  1-13 the library's result: 1 NoSeal, 2 InputOpenFailed, 4 OutputOpenFailed,\n"
          "      5 OutputWriteFailed, 6 HeaderInvalid, 7 SessionKeyUnavailable,\n"
          "      8 OutputSizeFailed, 9 OutputTruncateFailed, 10 OutputReopenFailed,\n"
          "      11 VerifyInitFailed, 12 VerifyUpdateFailed, 13 BadSignature; OUTPUT is\n"
          "      left as it was unless --keep-unverified\n"
          "  64  a usage error: INPUT or OUTPUT empty, or INPUT and OUTPUT the same file\n"
          "  70  an internal failure\n"
          "  73  OUTPUT is not a regular file, its folder is missing, or it cannot be replaced\n"
          "  74  standard output does not take the plaintext or the result line\n"));
      return std::function<int()>([options] { return Run(*options); });
    });

}  // namespace
