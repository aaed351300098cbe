// SPDX-License-Identifier: Apache-2.0
#include "decrypt/decrypt_cause.h"

#include "format/container_format.h"
#include "format/stop_words.h"
#include "text/escape.h"

namespace qve {

namespace {

using namespace QVE_Helper;  // the results, by their names

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
    return "no recipient record names the built-in key " + text::Hex(KeyIdOf(kDecryptionKeyNumber));
  const std::string record = "record " + std::to_string(*key.record + 1) + ", the built-in key's,";
  if (!key.unwraps) return record + " does not unwrap with it";
  if (!key.crcMatches) return record + " holds a key block whose CRC does not match";
  return record + " holds " + std::to_string(key.keyMaterialLength) +
         " bytes of key material, fewer than the cipher's key";
}

std::string NoSealCause(const ContainerDiagnosis* diagnosis) {
  const TailDiagnosis* tail = diagnosis && diagnosis->tail ? &*diagnosis->tail : nullptr;
  if (diagnosis && diagnosis->sessionKey.ready && diagnosis->cutShort)
    return diagnosis->payloadLength == 0
               ? "the container looks cut short: it ends right after its IV, with no payload"
               : "the container looks cut short: its payload is not a whole number of " +
                     std::to_string(diagnosis->blockSize) + "-byte cipher blocks";
  if (tail != nullptr && !tail->paddingValid)
    return "the container looks cut short or damaged: the padding of its last cipher block "
           "is invalid";
  return "the plaintext ends in no seal trailer";
}

}  // namespace

std::string ContainerCause(DecryptResult result, const ContainerDiagnosis* diagnosis) {
  switch (result) {
    case HeaderInvalid:
      return diagnosis && diagnosis->header.stop.status != HeaderStatus::Complete
                 ? HeaderCause(diagnosis->header.stop)
                 : "not a QVES container, or its header is damaged";
    case SessionKeyUnavailable:
      return diagnosis ? KeyCause(diagnosis->sessionKey)
                       : "no recipient record opens with this program's key";
    case NoSeal:
      return NoSealCause(diagnosis);
    case BadSignature: {
      const TailDiagnosis* tail = diagnosis && diagnosis->tail ? &*diagnosis->tail : nullptr;
      if (tail != nullptr && tail->stop.status == SealStatus::Found && !tail->namesBuiltInKey)
        return OtherKey(tail->keyId);
      return "the seal's signature does not match the plaintext";
    }
    case OutputSizeFailed:
    case OutputTruncateFailed:
    case OutputReopenFailed:
      return "the output file changed or vanished while it was written";
    case VerifyInitFailed:
    case VerifyUpdateFailed:
      return "the cryptographic library failed while checking the seal";
    default:
      return "";
  }
}

std::string HeaderProblem(const HeaderStop& stop) {
  using F = HeaderField;
  std::string field = HeaderFieldName(stop.field);
  if (stop.record != 0) field += " of record " + std::to_string(stop.record);
  const bool isTag = stop.field == F::Magic || stop.field == F::Tag;
  return Problem(stop, field, isTag, stop.field == F::Magic ? kContainerMagic.size() : 1,
                 stop.field == F::KeyId || stop.field == F::WrappedKey || stop.field == F::Iv,
                 isTag || stop.field == F::Version);
}

std::string SealProblem(const SealStop& stop) {
  using F = SealField;
  if (stop.field == F::None) return "fewer than " + std::to_string(stop.limit) + " bytes";
  const bool isTag = stop.field == F::ClosingTag || stop.field == F::OpeningTag;
  return Problem(stop, SealFieldName(stop.field), isTag, kSealTag.size(),
                 stop.field == F::KeyId || stop.field == F::Signature,
                 isTag || stop.field == F::Version);
}

std::string OtherKey(const Bytes& keyId) {
  return "the seal names key " + text::Hex(keyId) + ", not the built-in verification key " +
         text::Hex(KeyIdOf(kVerificationKeyNumber));
}

}  // namespace qve
