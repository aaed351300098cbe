// SPDX-License-Identifier: Apache-2.0
// The extension interface's diagnosis of a container: the library's own
// ContainerDiagnosis behind an opaque handle, one accessor per fact.
#include <array>
#include <memory>
#include <string>

#include "QVEHelper.h"
#include "api/calls.h"
#include "decrypt/container_diagnosis.h"
#include "decrypt/decrypt_cause.h"
#include "format/container_format.h"
#include "platform/file_status.h"
#include "platform/files.h"

struct qve_diagnosis {
  qve::ContainerDiagnosis facts;
  std::string headerProblem;
  std::string sealProblem;
  std::array<std::string, QVE_DECRYPT_BAD_SIGNATURE + 1> causes;
};

namespace qve::interface {

namespace {

using platform::FileKind;

Outcome Unusable(int code, const std::wstring& path, const std::string& reason) {
  return {code, {QVE_PROBLEM_INPUT, path, reason, reason}};
}

template <typename Char>
int Diagnose(const Char* path, const qve_diagnose_options* options, qve_diagnosis** out) {
  return Guarded([&] {
    // Whatever else is wrong: a host that frees what it got on an error
    // frees nothing.
    if (out != nullptr) *out = nullptr;
    if (path == nullptr || out == nullptr || !Sized(options)) return Misuse();
    const auto file = PathOf(path);
    if (!file) return InvalidPath(NoPath(path));
    const platform::FileStatus status = platform::StatusOf(*file);
    // A FIFO would keep the reader waiting.
    if (status.kind == FileKind::Other || status.kind == FileKind::Folder)
      return Unusable(QVE_ERROR_WRONG_KIND, *file, status.what);
    platform::FileStream stream;
    std::error_code error;
    const std::uint64_t size = platform::FileSize(*file, error);
    if (error || !platform::OpenForReading(stream, *file)) {
      error = platform::ReadError(*file);
      return Unusable(platform::IsNotFound(error) ? QVE_ERROR_NOT_FOUND : QVE_ERROR_UNREADABLE,
                      *file, error ? platform::ErrorText(error) : "it does not open");
    }
    auto diagnosis = std::make_unique<qve_diagnosis>();
    diagnosis->facts = DiagnoseContainer(stream, size, options->decrypt != 0);
    const ContainerDiagnosis& facts = diagnosis->facts;
    if (facts.header.stop.status != HeaderStatus::Complete)
      diagnosis->headerProblem = HeaderProblem(facts.header.stop);
    if (facts.seal && facts.seal->stop.status != SealStatus::Found)
      diagnosis->sealProblem = SealProblem(facts.seal->stop);
    for (std::size_t result = 1; result < diagnosis->causes.size(); ++result)
      diagnosis->causes[result] = ContainerCause(QVE_Helper::DecryptResult(result), &facts);
    *out = diagnosis.release();
    return Outcome{};
  });
}

const SealDiagnosis* SealOf(const qve_diagnosis* d) {
  return d != nullptr && d->facts.seal ? &*d->facts.seal : nullptr;
}

const SealDiagnosis* FoundSealOf(const qve_diagnosis* d) {
  const SealDiagnosis* seal = SealOf(d);
  return seal != nullptr && seal->stop.status == SealStatus::Found ? seal : nullptr;
}

// An accessor given no diagnosis: a misuse, remembered; its value is the
// accessor's none.
void NoDiagnosis() noexcept { Fail(QVE_ERROR_MISUSE, "a NULL diagnosis"); }

const RecordDiagnosis* RecordOf(const qve_diagnosis* d, std::size_t index) {
  if (d != nullptr && index < d->facts.records.size()) return &d->facts.records[index];
  if (d != nullptr) Fail(QVE_ERROR_MISUSE, "no key record at that index");
  return nullptr;
}

const std::uint8_t* BytesOf(const Bytes* bytes, size_t* length) {
  if (length != nullptr) *length = bytes != nullptr ? bytes->size() : 0;
  return bytes != nullptr ? bytes->data() : nullptr;
}

const HeaderStop* StopOf(const qve_diagnosis* d) {
  return d != nullptr ? &d->facts.header.stop : nullptr;
}

bool Complete(const qve_diagnosis* d) {
  return d != nullptr && d->facts.header.stop.status == HeaderStatus::Complete;
}

}  // namespace

}  // namespace qve::interface

using namespace qve::interface;
using qve::HeaderStatus;

extern "C" {

int qve_diagnose_container(const char* path, const qve_diagnose_options* options,
                           qve_diagnosis** diagnosis) {
  return Diagnose(path, options, diagnosis);
}

int qve_diagnose_container_w(const wchar_t* path, const qve_diagnose_options* options,
                             qve_diagnosis** diagnosis) {
  return Diagnose(path, options, diagnosis);
}

void qve_diagnosis_free(qve_diagnosis* diagnosis) { delete diagnosis; }

uint64_t qve_diagnosis_size(const qve_diagnosis* d) {
  if (d == nullptr) NoDiagnosis();
  return d ? d->facts.size : 0;
}

int qve_diagnosis_header_status(const qve_diagnosis* d) {
  if (d == nullptr) NoDiagnosis();
  return d ? static_cast<int>(d->facts.header.stop.status) : 0;
}
const char* qve_diagnosis_header_status_name(const qve_diagnosis* d) {
  if (d == nullptr) NoDiagnosis();
  return d ? qve::HeaderStatusName(d->facts.header.stop.status) : "";
}
const char* qve_diagnosis_header_field(const qve_diagnosis* d) {
  if (d == nullptr) NoDiagnosis();
  return Complete(d) || d == nullptr ? "" : qve::HeaderFieldName(d->facts.header.stop.field);
}
uint32_t qve_diagnosis_header_record(const qve_diagnosis* d) {
  if (d == nullptr) NoDiagnosis();
  return d ? StopOf(d)->record : 0;
}
uint64_t qve_diagnosis_header_offset(const qve_diagnosis* d) {
  if (d == nullptr) NoDiagnosis();
  return d ? StopOf(d)->offset : 0;
}
uint64_t qve_diagnosis_header_value(const qve_diagnosis* d) {
  if (d == nullptr) NoDiagnosis();
  return d ? StopOf(d)->value : 0;
}
uint64_t qve_diagnosis_header_limit(const qve_diagnosis* d) {
  if (d == nullptr) NoDiagnosis();
  return d ? StopOf(d)->limit : 0;
}
int qve_diagnosis_header_cut(const qve_diagnosis* d) {
  if (d == nullptr) NoDiagnosis();
  return d && StopOf(d)->cut ? 1 : 0;
}
uint64_t qve_diagnosis_header_left(const qve_diagnosis* d) {
  if (d == nullptr) NoDiagnosis();
  return d ? StopOf(d)->left : 0;
}
const char* qve_diagnosis_header_problem(const qve_diagnosis* d) {
  if (d == nullptr) NoDiagnosis();
  return d ? d->headerProblem.c_str() : "";
}

int64_t qve_diagnosis_version(const qve_diagnosis* d) {
  if (d == nullptr) NoDiagnosis();
  return d && d->facts.header.version ? int64_t(*d->facts.header.version) : -1;
}
int64_t qve_diagnosis_recipient_count(const qve_diagnosis* d) {
  if (d == nullptr) NoDiagnosis();
  return d && d->facts.header.count ? int64_t(*d->facts.header.count) : -1;
}

size_t qve_diagnosis_record_count(const qve_diagnosis* d) {
  if (d == nullptr) NoDiagnosis();
  return d ? d->facts.records.size() : 0;
}
uint64_t qve_diagnosis_record_offset(const qve_diagnosis* d, size_t index) {
  if (d == nullptr) NoDiagnosis();
  const auto* record = RecordOf(d, index);
  return record ? record->offset : 0;
}
// A record is listed only once its tag was read and accepted.
int qve_diagnosis_record_tag(const qve_diagnosis* d, size_t index) {
  if (d == nullptr) NoDiagnosis();
  return RecordOf(d, index) ? qve::kRecipientTag : 0;
}
const uint8_t* qve_diagnosis_record_key_id(const qve_diagnosis* d, size_t index, size_t* length) {
  if (d == nullptr) NoDiagnosis();
  const auto* record = RecordOf(d, index);
  return BytesOf(record ? &record->keyId : nullptr, length);
}
size_t qve_diagnosis_record_wrapped_key_length(const qve_diagnosis* d, size_t index) {
  if (d == nullptr) NoDiagnosis();
  const auto* record = RecordOf(d, index);
  return record ? record->wrappedKeyLength : 0;
}
int qve_diagnosis_record_used(const qve_diagnosis* d, size_t index) {
  if (d == nullptr) NoDiagnosis();
  return RecordOf(d, index) && d->facts.sessionKey.record == index ? 1 : 0;
}

const uint8_t* qve_diagnosis_iv(const qve_diagnosis* d, size_t* length) {
  if (d == nullptr) NoDiagnosis();
  return BytesOf(Complete(d) ? &d->facts.iv : nullptr, length);
}
uint64_t qve_diagnosis_payload_length(const qve_diagnosis* d) {
  if (d == nullptr) NoDiagnosis();
  return Complete(d) ? d->facts.payloadLength : 0;
}
size_t qve_diagnosis_block_size(const qve_diagnosis* d) {
  if (d == nullptr) NoDiagnosis();
  return Complete(d) ? d->facts.blockSize : 0;
}
int qve_diagnosis_whole_blocks(const qve_diagnosis* d) {
  if (d == nullptr) NoDiagnosis();
  return Complete(d) && d->facts.wholeBlocks ? 1 : 0;
}
int qve_diagnosis_cut_short(const qve_diagnosis* d) {
  if (d == nullptr) NoDiagnosis();
  return Complete(d) && d->facts.cutShort ? 1 : 0;
}

int64_t qve_diagnosis_key_record(const qve_diagnosis* d) {
  if (d == nullptr) NoDiagnosis();
  return d && d->facts.sessionKey.record ? int64_t(*d->facts.sessionKey.record) : -1;
}
int qve_diagnosis_key_unwraps(const qve_diagnosis* d) {
  if (d == nullptr) NoDiagnosis();
  return d && d->facts.sessionKey.unwraps ? 1 : 0;
}
int qve_diagnosis_key_crc_matches(const qve_diagnosis* d) {
  if (d == nullptr) NoDiagnosis();
  return d && d->facts.sessionKey.crcMatches ? 1 : 0;
}
size_t qve_diagnosis_key_material_length(const qve_diagnosis* d) {
  if (d == nullptr) NoDiagnosis();
  return d ? d->facts.sessionKey.keyMaterialLength : 0;
}
int qve_diagnosis_key_ready(const qve_diagnosis* d) {
  if (d == nullptr) NoDiagnosis();
  return d && d->facts.sessionKey.ready ? 1 : 0;
}

int qve_diagnosis_last_block_padding(const qve_diagnosis* d) {
  if (d == nullptr) NoDiagnosis();
  if (d == nullptr || !d->facts.tail) return -1;
  return d->facts.tail->paddingValid ? 1 : 0;
}

int qve_diagnosis_seal_reached(const qve_diagnosis* d) {
  if (d == nullptr) NoDiagnosis();
  return SealOf(d) ? 1 : 0;
}
int qve_diagnosis_seal_decrypts(const qve_diagnosis* d) {
  if (d == nullptr) NoDiagnosis();
  return SealOf(d) && SealOf(d)->decrypted == QVE_Helper::Success ? 1 : 0;
}
uint64_t qve_diagnosis_seal_plaintext_length(const qve_diagnosis* d) {
  if (d == nullptr) NoDiagnosis();
  return SealOf(d) ? SealOf(d)->plaintextLength : 0;
}
int qve_diagnosis_seal_found(const qve_diagnosis* d) {
  if (d == nullptr) NoDiagnosis();
  return FoundSealOf(d) ? 1 : 0;
}
uint32_t qve_diagnosis_seal_length(const qve_diagnosis* d) {
  if (d == nullptr) NoDiagnosis();
  return FoundSealOf(d) ? FoundSealOf(d)->stop.length : 0;
}
const uint8_t* qve_diagnosis_seal_key_id(const qve_diagnosis* d, size_t* length) {
  if (d == nullptr) NoDiagnosis();
  return BytesOf(FoundSealOf(d) ? &FoundSealOf(d)->keyId : nullptr, length);
}
int qve_diagnosis_seal_names_built_in_key(const qve_diagnosis* d) {
  if (d == nullptr) NoDiagnosis();
  return FoundSealOf(d) && FoundSealOf(d)->namesBuiltInKey ? 1 : 0;
}
size_t qve_diagnosis_seal_signature_length(const qve_diagnosis* d) {
  if (d == nullptr) NoDiagnosis();
  return FoundSealOf(d) ? FoundSealOf(d)->signatureLength : 0;
}
int qve_diagnosis_seal_result(const qve_diagnosis* d) {
  if (d == nullptr) NoDiagnosis();
  if (d == nullptr) return Fail(QVE_ERROR_MISUSE, "a NULL diagnosis");
  if (!Complete(d)) return QVE_DECRYPT_HEADER_INVALID;
  if (!d->facts.sessionKey.ready) return QVE_DECRYPT_SESSION_KEY_UNAVAILABLE;
  // Without the decrypt option the seal was not looked at.
  return SealOf(d) ? static_cast<int>(SealOf(d)->result)
                   : Fail(QVE_ERROR_MISUSE, "a diagnosis made without the decrypt option");
}
const char* qve_diagnosis_seal_stop(const qve_diagnosis* d) {
  if (d == nullptr) NoDiagnosis();
  return SealOf(d) ? qve::SealStatusName(SealOf(d)->stop.status) : "";
}
uint64_t qve_diagnosis_seal_stop_offset(const qve_diagnosis* d) {
  if (d == nullptr) NoDiagnosis();
  return SealOf(d) ? SealOf(d)->stop.offset : 0;
}
const char* qve_diagnosis_seal_problem(const qve_diagnosis* d) {
  if (d == nullptr) NoDiagnosis();
  return d ? d->sealProblem.c_str() : "";
}

const char* qve_diagnosis_cause(const qve_diagnosis* d, int result) {
  if (d == nullptr) NoDiagnosis();
  if (d == nullptr || result < 0 || std::size_t(result) >= d->causes.size()) return "";
  return d->causes[std::size_t(result)].c_str();
}

}  // extern "C"
