// qvehelper decrypt: decrypts a container and checks its seal. Unless asked
// otherwise, OUTPUT only ever receives plaintext whose signature verified:
// the library writes into a temporary file that is put in place on Success
// and discarded on every other path. Everything that can be checked before
// the work is checked before it.
#include <CLI/CLI.hpp>

#include <array>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iostream>
#include <memory>
#include <string>

#include "QVEHelper.h"
#include "cli/command_line.h"
#include "cli/progress.h"
#include "decrypt/container_header.h"
#include "platform/file_status.h"
#include "platform/files.h"
#include "platform/paths.h"
#include "platform/temp_output.h"

namespace {

namespace fs = std::filesystem;
using qve::platform::FileKind;
using qve::platform::FileStatus;
using QVE_Helper::DecryptResult;

struct DecryptOptions {
  std::string input;
  std::string output;
  bool keepUnverified = false;
};

// One run: what the command learnt about its paths before the work.
struct Job {
  std::wstring input;
  std::wstring output;  // the file to replace, links followed
  std::string shownOutput;
  FileStatus inputStatus;
  bool toStandardOutput = false;
};

std::ostream& Message() { return std::cerr << qve::cli::ProgramName() << " decrypt: "; }

int Refuse(int status, const std::string& text) {
  Message() << text << '\n';
  return status;
}

// A payload that is not a whole number of cipher blocks was cut short.
bool LooksTruncated(const Job& job) {
  qve::platform::FileStream in;
  if (!qve::platform::OpenForReading(in, job.input)) return false;
  qve::Bytes iv(qve::PayloadIvLength());
  std::vector<qve::RecipientEntry> recipients;
  if (qve::ReadHeader(in, iv, recipients) != qve::HeaderStatus::Complete) return false;
  const auto payloadStart = static_cast<std::uint64_t>(in.tellg());
  return job.inputStatus.size < payloadStart ||
         (job.inputStatus.size - payloadStart) % qve::PayloadBlockSize() != 0;
}

std::string CauseOf(DecryptResult result, const Job& job, const std::wstring& written) {
  switch (result) {
    case QVE_Helper::Success:
      return "";
    case QVE_Helper::NoSeal:
      return LooksTruncated(job) ? "the container looks truncated"
                                 : "the plaintext ends in no seal trailer";
    case QVE_Helper::InputOpenFailed: {
      const std::string why = qve::platform::WhyUnreadable(job.input);
      return qve::platform::ToNarrow(job.input).value_or("INPUT") + ": " +
             (why.empty() ? "cannot be opened" : why);
    }
    case QVE_Helper::OutputOpenFailed: {
      const std::string why = qve::platform::WhyUnreadable(written);
      return why.empty() ? "the output file could not be opened for writing" : why;
    }
    case QVE_Helper::OutputWriteFailed: {
      const std::string why = qve::platform::WhyWritesFail(written);
      return why.empty() ? "a write to the output failed, though writing there works again now"
                         : why;
    }
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
int Report(DecryptResult result, const Job& job, const std::wstring& written) {
  std::ostream& line = job.toStandardOutput ? std::cerr : std::cout;
  line << qve::DecryptResultName(result) << " (" << static_cast<int>(result) << ")\n";
  if (result != QVE_Helper::Success) Message() << CauseOf(result, job, written) << '\n';
  return static_cast<int>(result);
}

DecryptResult DecryptWatched(const Job& job, const std::wstring& into,
                             const std::function<std::uint64_t()>& done) {
  const qve::cli::Progress progress(true, qve::cli::Progress::Unit::Bytes, job.inputStatus.size,
                                    done);
  return QVE_Helper::Decrypt(job.input, into);
}

int DecryptThroughTemporary(const Job& job, bool keepUnverified) {
  const std::wstring folder = job.toStandardOutput ? fs::temp_directory_path().wstring()
                                                   : qve::platform::FolderOf(job.output);
  std::error_code error;
  const auto temporary = qve::platform::TempOutput::Create(folder, error);
  if (!temporary) {
    return Refuse(qve::cli::kCannotCreate, "cannot create a file in " +
                                               qve::platform::ToNarrow(folder).value_or("?") +
                                               ": " + qve::cli::Reason(error));
  }
  const DecryptResult result =
      DecryptWatched(job, temporary->path(), [&] { return temporary->Size(); });
  if (result == QVE_Helper::Success || (keepUnverified && job.toStandardOutput)) {
    if (job.toStandardOutput) {
      temporary->CopyToStandardOutput(error);
    } else {
      temporary->Publish(job.output, error);
    }
    if (error) {
      Report(result, job, temporary->path());
      return Refuse(job.toStandardOutput ? qve::cli::kOutputError : qve::cli::kCannotCreate,
                    (job.toStandardOutput ? "cannot write standard output: "
                                          : "cannot replace " + job.shownOutput + ": ") +
                        qve::cli::Reason(error));
    }
  }
  return Report(result, job, temporary->path());
}

// Every check that needs no decryption, in the order a user would fix them.
int Prepare(const DecryptOptions& options, Job& job) {
  if (options.input.empty() || options.output.empty())
    return Refuse(qve::cli::kUsageError, "INPUT and OUTPUT must not be empty");
  const auto input = qve::platform::ToWide(options.input);
  const auto output = qve::platform::ToWide(options.output);
  if (!input || !output) return Refuse(qve::cli::kUsageError, "paths must be valid UTF-8");
  job.input = *input;
  job.shownOutput = options.output;
  job.inputStatus = qve::platform::StatusOf(job.input);
  const FileStatus standardOutput = qve::platform::StatusOfStandardOutput();
  job.toStandardOutput = options.output == "-";
  FileStatus outputStatus;
  if (!job.toStandardOutput) {
    job.output = qve::platform::FinalPath(*output);
    outputStatus = qve::platform::StatusOf(job.output);
    job.toStandardOutput = outputStatus.SameFileAs(standardOutput);
  }
  const FileStatus& destination = job.toStandardOutput ? standardOutput : outputStatus;
  if (job.inputStatus.SameFileAs(destination))
    return Refuse(qve::cli::kUsageError, "INPUT and OUTPUT are the same file");
  // Anything the library would not open ends as InputOpenFailed with its cause.
  if (job.inputStatus.kind == FileKind::Missing || job.inputStatus.kind == FileKind::Folder ||
      !qve::platform::WhyUnreadable(job.input).empty())
    return -1;
  if (job.toStandardOutput) return 0;
  if (outputStatus.kind == FileKind::Folder || outputStatus.kind == FileKind::Other) {
    return Refuse(qve::cli::kCannotCreate, "OUTPUT " + options.output + " is " + outputStatus.what +
                                               "; only a regular file is replaced");
  }
  const std::wstring folder = qve::platform::FolderOf(job.output);
  const FileStatus folderStatus = qve::platform::StatusOf(folder);
  if (folderStatus.kind != FileKind::Folder) {
    const std::string shown = qve::platform::ToNarrow(folder).value_or("?");
    return Refuse(qve::cli::kCannotCreate,
                  "the folder " + shown + " of OUTPUT " +
                      (folderStatus.kind == FileKind::Missing ? "does not exist"
                                                              : "is " + folderStatus.what));
  }
  return 0;
}

int Run(const DecryptOptions& options) {
  Job job;
  const int prepared = Prepare(options, job);
  if (prepared == -1) return Report(QVE_Helper::InputOpenFailed, job, job.output);
  if (prepared != 0) return prepared;
  if (options.keepUnverified && !job.toStandardOutput) {
    const DecryptResult result =
        DecryptWatched(job, job.output, [&] { return qve::platform::StatusOf(job.output).size; });
    return Report(result, job, job.output);
  }
  return DecryptThroughTemporary(job, options.keepUnverified);
}

const bool kRegistered = qve::cli::RegisterCommand(
    "decrypt", "Decrypt a sealed container and check its seal signature.", [](CLI::App& cmd) {
      auto options = std::make_shared<DecryptOptions>();
      cmd.add_option("INPUT", options->input, "Container to decrypt")->required();
      cmd.add_option("OUTPUT", options->output,
                     "Where the verified plaintext goes; - for standard output")
          ->required();
      cmd.add_flag("--keep-unverified", options->keepUnverified,
                   "Decrypt straight to OUTPUT and leave whatever the library wrote there, "
                   "even when the seal is missing or does not verify");
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
