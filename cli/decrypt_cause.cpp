// SPDX-License-Identifier: Apache-2.0
#include "cli/decrypt_cause.h"

#include <optional>
#include <system_error>

#include "cli/inspect.h"
#include "decrypt/container_diagnosis.h"
#include "format/container_format.h"
#include "platform/file_status.h"
#include "platform/files.h"

namespace qve::cli {

namespace {

using namespace QVE_Helper;  // the results, by their names

std::string Because(const std::error_code& error, const std::string& otherwise) {
  return error ? platform::ErrorText(error) : otherwise;
}

// Header, key and the end of the payload only: no second pass over it.
std::optional<ContainerDiagnosis> Diagnose(const std::wstring& input, bool readsAgain) {
  if (!readsAgain) return std::nullopt;
  platform::FileStream file;
  std::error_code error;
  const std::uint64_t size = platform::FileSize(input, error);
  if (error || !platform::OpenForReading(file, input)) return std::nullopt;
  try {
    return DiagnoseContainer(file, size, false);
  } catch (const std::exception&) {
    return std::nullopt;  // changed meanwhile, or OpenSSL failed: the general cause
  }
}

std::string HeaderCause(const HeaderStop& stop) {
  if (stop.field == HeaderField::Magic) return "not a QVES container (" + HeaderProblem(stop) + ")";
  if (stop.status == HeaderStatus::VersionUnsupported && !stop.cut)
    return "version " + std::to_string(stop.value) + " is not supported (this tool reads version " +
           std::to_string(kContainerVersion) + ")";
  return "the header is damaged at offset " + std::to_string(stop.offset) + ": " +
         HeaderProblem(stop);
}

std::string KeyCause(const SessionKeyCheck& key) {
  if (!key.record)
    return "no recipient record names the built-in key " + Hex(KeyIdOf(kDecryptionKeyNumber));
  const std::string record = "record " + std::to_string(*key.record + 1) + ", the built-in key's,";
  if (!key.unwraps) return record + " does not unwrap with it";
  if (!key.crcMatches) return record + " holds a key block whose CRC does not match";
  return record + " holds " + std::to_string(key.keyMaterialLength) +
         " bytes of key material, fewer than the cipher's key";
}

}  // namespace

std::string DecryptCause(DecryptResult result, const std::wstring& input, bool readsAgain,
                         const std::wstring& output) {
  switch (result) {
    case Success:
      return "";
    case InputOpenFailed:
      return Because(platform::ReadError(input), "cannot be opened");
    case OutputOpenFailed:
      return Because(platform::ReadError(output),
                     "the output file could not be opened for writing");
    case OutputWriteFailed:
      return Because(platform::WriteError(output),
                     "a write to the output failed, though writing there works again now");
    case OutputSizeFailed:
    case OutputTruncateFailed:
    case OutputReopenFailed:
      return "the output file changed or vanished while it was written";
    case VerifyInitFailed:
    case VerifyUpdateFailed:
      return "the cryptographic library failed while checking the seal";
    default:
      break;
  }
  const auto diagnosis = Diagnose(input, readsAgain);
  const TailDiagnosis* tail = diagnosis && diagnosis->tail ? &*diagnosis->tail : nullptr;
  switch (result) {
    case HeaderInvalid:
      return diagnosis && diagnosis->header.stop.status != HeaderStatus::Complete
                 ? HeaderCause(diagnosis->header.stop)
                 : "not a QVES container, or its header is damaged";
    case SessionKeyUnavailable:
      return diagnosis ? KeyCause(diagnosis->sessionKey)
                       : "no recipient record opens with this program's key";
    case NoSeal:
      if (diagnosis && diagnosis->sessionKey.ready && diagnosis->cutShort)
        return diagnosis->payloadLength == 0
                   ? "the container looks cut short: it ends right after its IV, with no payload"
                   : "the container looks cut short: its payload is not a whole number of " +
                         std::to_string(diagnosis->blockSize) + "-byte cipher blocks";
      if (tail != nullptr && !tail->paddingValid)
        return "the container looks cut short or damaged: the padding of its last cipher block "
               "is invalid";
      return "the plaintext ends in no seal trailer";
    case BadSignature:
      if (tail != nullptr && tail->stop.status == SealStatus::Found && !tail->namesBuiltInKey)
        return OtherKey(Hex(tail->keyId));
      return "the seal's signature does not match the plaintext";
    default:
      return "";
  }
}

}  // namespace qve::cli
