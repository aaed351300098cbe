// SPDX-License-Identifier: Apache-2.0
#include "decrypt/decrypt_to_place.h"

#include <array>
#include <new>
#include <system_error>

#include "decrypt/container_diagnosis.h"
#include "decrypt/decrypt_cause.h"
#include "format/container_format.h"
#include "platform/file_status.h"
#include "platform/files.h"
#include "platform/output_target.h"
#include "platform/paths.h"
#include "platform/temp_output.h"
#include "text/escape.h"

namespace qve {

namespace {

using namespace QVE_Helper;  // the results, by their names
using platform::FileKind;

std::string Shown(std::wstring_view path) { return text::EscapedText(platform::ShownText(path)); }

std::string Because(const std::error_code& error, const std::string& otherwise) {
  return error ? platform::ErrorText(error) : otherwise;
}

Outcome Failed(int code, int kind, std::wstring path, std::string reason, std::string message) {
  return {code, {kind, std::move(path), std::move(reason), std::move(message)}};
}

Outcome Cancelled() {
  return Failed(kCancelled, kCancelledProblem, {}, {}, "stopped: the progress callback asked to");
}

Problem InputProblem(const std::wstring& input, const std::error_code& error) {
  std::string reason = Because(error, "cannot be opened");
  return {kInputProblem, input, reason, reason};
}

// Header, key and the end of the payload only: no second pass over it.
std::optional<ContainerDiagnosis> Diagnose(const std::wstring& input) {
  platform::FileStream file;
  std::error_code error;
  const std::uint64_t size = platform::FileSize(input, error);
  if (error || !platform::OpenForReading(file, input)) return std::nullopt;
  try {
    return DiagnoseContainer(file, size, false);
  } catch (const std::bad_alloc&) {
    throw;
  } catch (const std::exception&) {
    return std::nullopt;  // changed meanwhile, or OpenSSL failed: the general cause
  }
}

// Why the seed's decryption gave `result`. `output` is the file it wrote,
// asked while it is still there, unless the write's own error is `known`;
// `input` is read again for the container's cause only when it `readsAgain`
// (never a pipe).
Problem CauseOf(DecryptResult result, const std::wstring& input, bool readsAgain,
                const std::wstring& output, const std::error_code& known = {}) {
  switch (result) {
    case Success:
      return {};
    case InputOpenFailed:
      return InputProblem(input, platform::ReadError(input));
    case OutputOpenFailed: {
      std::string reason =
          Because(platform::ReadError(output), "the output file could not be opened for writing");
      return {kWriteProblem, {}, reason, reason};
    }
    case OutputWriteFailed: {
      std::string reason =
          Because(known ? known : platform::WriteError(output),
                  "a write to the output failed, though writing there works again now");
      return {kWriteProblem, {}, reason, reason};
    }
    case OutputSizeFailed:
    case OutputTruncateFailed:
    case OutputReopenFailed:
      return {kChangedProblem, {}, {}, ContainerCause(result, nullptr)};
    case VerifyInitFailed:
    case VerifyUpdateFailed:
      return {kCryptoProblem, {}, {}, ContainerCause(result, nullptr)};
    default:
      break;
  }
  const auto diagnosis = readsAgain ? Diagnose(input) : std::nullopt;
  return {kContainerProblem, {}, {}, ContainerCause(result, diagnosis ? &*diagnosis : nullptr)};
}

// An INPUT that must not be opened or does not open, as its outcome; else
// nothing, and `status` says what it is.
std::optional<Outcome> RefuseInput(const std::wstring& input, bool readStream,
                                   platform::FileStatus& status) {
  status = platform::StatusOf(input);
  // The decryption would wait on a FIFO for good, or read a device as no
  // container at all.
  if (status.kind == FileKind::Other && !readStream)
    return Failed(kWrongKind, kInputProblem, input, status.what,
                  "INPUT " + Shown(input) + " is " + status.what + ", not a regular file");
  // What would not open ends as InputOpenFailed, nothing else touched. A
  // stream is opened once only: a trial open of a FIFO lets its writer in,
  // and closing it leaves that writer a broken pipe.
  if (status.kind == FileKind::Other) return std::nullopt;
  const std::error_code unreadable = platform::ReadError(input);
  if (status.kind == FileKind::Missing || status.kind == FileKind::Folder || unreadable)
    return Outcome{InputOpenFailed, InputProblem(input, unreadable)};
  return std::nullopt;
}

Outcome OutputFailed(const platform::OutputFault& fault, const std::wstring& input,
                     const std::wstring& output) {
  const bool same = fault.problem == platform::OutputProblem::SameFile;
  return Failed(same ? kSameFileFailed : kOutputFailed, static_cast<int>(fault.problem),
                same ? input : fault.path, fault.reason,
                platform::OutputFaultText("OUTPUT " + Shown(output), output, fault,
                                          "INPUT " + Shown(input), Shown));
}

// What the decryption leaves when it could not open both files is not its
// work.
bool Keeps(DecryptResult result, bool keepUnverified) {
  return result == Success ||
         (keepUnverified && result != InputOpenFailed && result != OutputOpenFailed);
}

// Results about the file the decryption wrote (here the scratch file), not
// about the container.
bool OfTheScratchFile(DecryptResult result) {
  return result == OutputOpenFailed || result == OutputWriteFailed || result == OutputSizeFailed ||
         result == OutputTruncateFailed || result == OutputReopenFailed;
}

}  // namespace

Outcome DecryptToPlace(const std::wstring& input, const std::wstring& output,
                       const DecryptSettings& settings) {
  platform::FileStatus status;
  if (auto refused = RefuseInput(input, settings.readStream, status)) return *refused;
  const bool regular = status.kind == FileKind::Regular;
  DecryptProgress progress(settings.report, regular ? status.size : 0);
  DecryptProgress* const progressOrNull = settings.report ? &progress : nullptr;
  const auto decrypted = [&](DecryptResult result, const std::wstring& written,
                             const std::error_code& writeError = {}) {
    return progress.stopped()
               ? Cancelled()
               : Outcome{result, CauseOf(result, input, regular, written, writeError)};
  };
  if (settings.writeDirectly) {
    // Creating the output would destroy the container.
    if (const auto identity = platform::IdentityOf(output);
        identity && identity == platform::IdentityOf(input))
      return OutputFailed({platform::OutputProblem::SameFile, {}, {}, 0}, input, output);
    // Opening a FIFO for writing waits for a reader for good, and what is
    // no regular file cannot have the seal cut off.
    if (const auto target = platform::StatusOf(output); target.kind == FileKind::Other)
      return OutputFailed({platform::OutputProblem::NotRegular, {}, target.what, 0}, input, output);
    return decrypted(DecryptFile(input, output, progressOrNull), output);
  }
  platform::OutputFault fault;
  const std::array inputs{status};
  const auto place = platform::CheckOutputPlace(output, inputs, fault);
  if (!place) return OutputFailed(fault, input, output);
  std::error_code error;
  const auto temporary = platform::TempOutput::Create(
      place->folder, error, platform::TempNaming::Unnamed,
      settings.pool != nullptr ? platform::TempAccess::HandleOnly : platform::TempAccess::ByPath);
  if (!temporary)
    return OutputFailed(
        {platform::OutputProblem::NoTemporary, place->folder, platform::ErrorText(error), 0}, input,
        output);
  std::error_code writeError;
  const Outcome outcome = decrypted(
      settings.pool != nullptr
          ? DecryptIntoTemporary(input, *temporary, settings.pool, progressOrNull, writeError)
          : DecryptFile(input, temporary->path(), progressOrNull),
      temporary->path(), writeError);
  // Nothing is called Success before it is where it was asked to go.
  if (outcome.code < 0 || !Keeps(DecryptResult(outcome.code), settings.keepUnverified))
    return outcome;
  temporary->Publish(place->target, error);
  if (error)
    return OutputFailed({platform::OutputProblem::NotPublished, {}, platform::ErrorText(error), 0},
                        input, output);
  return outcome;
}

Outcome CheckFile(const std::wstring& input, const std::optional<std::wstring>& scratchFolder,
                  const DecryptProgress::Report& report, platform::WorkerPool* pool) {
  platform::FileStatus status;
  if (auto refused = RefuseInput(input, false, status)) return *refused;
  DecryptProgress progress(report, status.size);
  DecryptProgress* const progressOrNull = report ? &progress : nullptr;
  if (!scratchFolder) {
    platform::FileStream file;
    if (!platform::OpenForReading(file, input))
      return {InputOpenFailed, InputProblem(input, platform::ReadError(input))};
    const DecryptResult result = CheckInMemory(file, progressOrNull, pool);
    if (progress.stopped()) return Cancelled();
    return {result, CauseOf(result, input, true, {})};
  }
  const std::string called = "the scratch file in " + Shown(*scratchFolder);
  std::error_code error;
  // Never published: the plaintext goes with the object.
  const auto scratch = platform::TempOutput::Create(
      *scratchFolder, error, platform::TempNaming::Unnamed,
      pool != nullptr ? platform::TempAccess::HandleOnly : platform::TempAccess::ByPath);
  if (!scratch)
    return Failed(kScratchFailed, kTemporaryProblem, *scratchFolder, platform::ErrorText(error),
                  called + " cannot be made: " + platform::ErrorText(error));
  std::error_code writeError;
  const DecryptResult result =
      pool != nullptr ? DecryptIntoTemporary(input, *scratch, pool, progressOrNull, writeError)
                      : DecryptFile(input, scratch->path(), progressOrNull);
  if (progress.stopped()) return Cancelled();
  // While the scratch file is there to ask why it took no more.
  Problem cause = CauseOf(result, input, true, scratch->path(), writeError);
  if (!OfTheScratchFile(result)) return {result, cause};
  cause.path = *scratchFolder;
  if (result == OutputOpenFailed) cause.kind = kTemporaryProblem;
  cause.message = called + (result == OutputWriteFailed ? " takes no more: " + cause.message
                                                        : " failed: " + cause.message + " (" +
                                                              DecryptResultName(result) + ")");
  return {kScratchFailed, cause};
}

}  // namespace qve
