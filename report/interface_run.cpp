// SPDX-License-Identifier: Apache-2.0
// The extension interface's verification run: a handle over
// VerificationRun, with one accessor per fact and no exception let out.
#include <QVEHelper.h>

#include <deque>
#include <new>
#include <optional>
#include <stdexcept>
#include <string>

#include "decrypt/interface_calls.h"
#include "report/escape.h"
#include "report/verification_run.h"

struct qve_run {
  explicit qve_run(qve::VerificationRunOptions options) : run(options) {}
  qve::VerificationRun run;
  // The current event's text, as the accessors give it.
  std::string eventPath;
  std::string warningPath;
  std::string warningText;
  std::string blockText;
  // The files' names and paths, as the accessors give them; a deque, so
  // that a text given out stays where it is as files are added.
  std::deque<std::string> names;
  std::deque<std::string> paths;
  bool failed = false;  // an error ended the run
};

namespace {

// Memory running out is QVE_ERROR_NO_MEMORY, a path with no narrow form
// QVE_ERROR_INVALID_PATH; anything else can only be OpenSSL refusing.
template <typename Call>
int Guarded(Call&& call) noexcept {
  try {
    return call();
  } catch (const std::bad_alloc&) {
    return QVE_ERROR_NO_MEMORY;
  } catch (const std::invalid_argument&) {
    return QVE_ERROR_INVALID_PATH;
  } catch (const std::exception&) {
    return QVE_ERROR_CRYPTO;
  }
}

bool Open(const qve_run* run) { return run != nullptr && !run->run.started() && !run->failed; }

const qve::RunEvent* Event(const qve_run* run, qve::RunEventKind kind) {
  if (run == nullptr || !run->run.started() || run->failed) return nullptr;
  const qve::RunEvent& event = run->run.current();
  return event.kind == kind ? &event : nullptr;
}

const qve::VerifiedFile* FileAt(const qve_run* run, std::size_t index) {
  if (run == nullptr || index >= run->run.outcome().files.size()) return nullptr;
  return &run->run.outcome().files[index];
}

const qve::VerifyOutcome* Finished(const qve_run* run) {
  return run != nullptr && run->run.done() ? &run->run.outcome() : nullptr;
}

const uint8_t* BytesOut(const std::optional<qve::Bytes>& bytes, size_t* length) {
  if (length != nullptr) *length = bytes ? bytes->size() : 0;
  return bytes ? bytes->data() : nullptr;
}

int Add(qve_run* run, const std::optional<std::wstring>& path) {
  if (!Open(run)) return QVE_ERROR_MISUSE;
  if (!path) return QVE_ERROR_INVALID_PATH;
  return Guarded([&] {
    qve::ChainFiles& files = run->run.files();
    const std::size_t problems = files.problems.size(), empty = files.empty.size();
    const std::string shown = qve::Narrow(*path);
    qve::CollectPath(files, *path, shown);
    if (files.problems.size() > problems) return files.problems.back().code;
    // Found again after the run, to tell a rotation meanwhile.
    files.sources.emplace_back(*path, shown);
    return files.empty.size() > empty ? QVE_ERROR_NO_LOG : 0;
  });
}

}  // namespace

extern "C" {

int qve_run_create(const qve_run_options* options, qve_run** run) {
  if (run != nullptr) *run = nullptr;
  if (run == nullptr || !qve::interface::Sized(options)) return QVE_ERROR_MISUSE;
  if (options->order != QVE_ORDER_LINKS && options->order != QVE_ORDER_NAME)
    return QVE_ERROR_MISUSE;
  return Guarded([&] {
    *run = new qve_run({options->order == QVE_ORDER_LINKS, options->strict != 0});
    return 0;
  });
}

void qve_run_free(qve_run* run) { delete run; }

int qve_run_add(qve_run* run, const char* path) {
  if (path == nullptr) return QVE_ERROR_MISUSE;
  return Guarded([&] { return Add(run, qve::interface::PathOf(path)); });
}

int qve_run_add_w(qve_run* run, const wchar_t* path) {
  if (path == nullptr) return QVE_ERROR_MISUSE;
  return Guarded([&] { return Add(run, qve::interface::PathOf(path)); });
}

int qve_run_set_record(qve_run* run, const void* bytes, size_t length, int flags) {
  if (!Open(run) || (flags & ~QVE_RECORD_INIT) != 0) return QVE_ERROR_MISUSE;
  if ((flags & QVE_RECORD_INIT) != 0) {
    return Guarded([&] {
      run->run.SetRecord(std::nullopt);
      return 0;
    });
  }
  if (bytes == nullptr && length > 0) return QVE_ERROR_MISUSE;
  return Guarded([&] {
    try {
      const char* text = static_cast<const char*>(bytes);
      run->run.SetRecord(qve::ParseCheckpointRecord(std::string_view(text, length)));
      return 0;
    } catch (const qve::RecordRefused& refused) {
      return refused.code;
    }
  });
}

int qve_run_next(qve_run* run) {
  if (run == nullptr || run->run.done() || run->failed) return QVE_ERROR_MISUSE;
  const int code = Guarded([&] {
    const qve::RunEvent& event = run->run.Next();
    run->eventPath = event.kind == qve::RunEventKind::FileStart ? qve::Narrow(event.path) : "";
    run->warningPath = event.warning.path;
    run->warningText = event.warning.message;
    run->blockText = event.block.text;
    if (event.kind == qve::RunEventKind::Restart) {
      run->names.clear();
      run->paths.clear();
    }
    for (const auto& files = run->run.outcome().files; run->names.size() < files.size();) {
      run->names.push_back(files[run->names.size()].name);
      run->paths.push_back(files[run->paths.size()].path);
    }
    return static_cast<int>(event.kind);
  });
  if (code < 0) run->failed = true;
  return code;
}

int qve_run_work(qve_run* run) { return run == nullptr ? QVE_ERROR_MISUSE : 0; }

size_t qve_run_event_file(const qve_run* run) {
  if (run == nullptr || !run->run.started() || run->failed) return 0;
  return run->run.current().file;
}

int qve_run_event_reading(const qve_run* run) {
  const qve::RunEvent* event = Event(run, qve::RunEventKind::FileStart);
  return event != nullptr ? event->reading : 0;
}

const char* qve_run_event_path(const qve_run* run) {
  return Event(run, qve::RunEventKind::FileStart) != nullptr ? run->eventPath.c_str() : "";
}

int qve_run_block_verdict(const qve_run* run) {
  const qve::RunEvent* event = Event(run, qve::RunEventKind::Block);
  return event != nullptr ? event->block.verdict : QVE_ERROR_MISUSE;
}

uint32_t qve_run_block_first_line(const qve_run* run) {
  const qve::RunEvent* event = Event(run, qve::RunEventKind::Block);
  return event != nullptr ? event->block.lines.first : 0;
}

uint32_t qve_run_block_last_line(const qve_run* run) {
  const qve::RunEvent* event = Event(run, qve::RunEventKind::Block);
  return event != nullptr ? event->block.lines.last : 0;
}

uint64_t qve_run_block_offset(const qve_run* run) {
  const qve::RunEvent* event = Event(run, qve::RunEventKind::Block);
  return event != nullptr ? event->block.offset : 0;
}

uint32_t qve_run_block_id(const qve_run* run) {
  const qve::RunEvent* event = Event(run, qve::RunEventKind::Block);
  return event != nullptr ? event->block.id : 0;
}

const char* qve_run_block_text(const qve_run* run, size_t* length) {
  const bool block = Event(run, qve::RunEventKind::Block) != nullptr;
  if (length != nullptr) *length = block ? run->blockText.size() : 0;
  return block ? run->blockText.c_str() : "";
}

int qve_run_block_link_matched(const qve_run* run) {
  const qve::RunEvent* event = Event(run, qve::RunEventKind::Block);
  if (event == nullptr || event->block.isUnsignedTail()) return 0;
  return event->block.link == event->block.expectedLink ? 1 : 0;
}

int qve_run_warning_code(const qve_run* run) {
  const qve::RunEvent* event = Event(run, qve::RunEventKind::Warning);
  return event != nullptr ? event->warning.code : 0;
}

const char* qve_run_warning_path(const qve_run* run) {
  return Event(run, qve::RunEventKind::Warning) != nullptr ? run->warningPath.c_str() : "";
}

const char* qve_run_warning_text(const qve_run* run) {
  return Event(run, qve::RunEventKind::Warning) != nullptr ? run->warningText.c_str() : "";
}

int qve_run_warning_unverified(const qve_run* run) {
  const qve::RunEvent* event = Event(run, qve::RunEventKind::Warning);
  return event != nullptr && event->warning.unverified ? 1 : 0;
}

size_t qve_run_file_count(const qve_run* run) {
  return run != nullptr ? run->run.outcome().files.size() : 0;
}

const char* qve_run_file_name(const qve_run* run, size_t index) {
  return FileAt(run, index) != nullptr ? run->names[index].c_str() : nullptr;
}

const char* qve_run_file_path(const qve_run* run, size_t index) {
  return FileAt(run, index) != nullptr ? run->paths[index].c_str() : nullptr;
}

int qve_run_file_verdict(const qve_run* run, size_t index) {
  const qve::VerifiedFile* file = FileAt(run, index);
  return file != nullptr ? int(file->verdict) : QVE_ERROR_MISUSE;
}

uint32_t qve_run_file_blocks(const qve_run* run, size_t index) {
  const qve::VerifiedFile* file = FileAt(run, index);
  return file != nullptr ? file->detail.counts.blockCount : 0;
}

uint32_t qve_run_file_bad_blocks(const qve_run* run, size_t index) {
  const qve::VerifiedFile* file = FileAt(run, index);
  return file != nullptr ? file->detail.counts.badBlockCount : 0;
}

uint32_t qve_run_file_lines(const qve_run* run, size_t index) {
  const qve::VerifiedFile* file = FileAt(run, index);
  return file != nullptr ? file->detail.lines : 0;
}

const uint8_t* qve_run_file_first_link(const qve_run* run, size_t index, size_t* length) {
  const qve::VerifiedFile* file = FileAt(run, index);
  return BytesOut(file != nullptr ? file->detail.firstLink : std::nullopt, length);
}

const uint8_t* qve_run_file_last_chain_value(const qve_run* run, size_t index, size_t* length) {
  const qve::VerifiedFile* file = FileAt(run, index);
  return BytesOut(file != nullptr ? file->detail.lastChainValue : std::nullopt, length);
}

uint32_t qve_run_file_unsigned_first(const qve_run* run, size_t index) {
  const qve::VerifiedFile* file = FileAt(run, index);
  return file != nullptr && file->detail.unsignedTail ? file->detail.unsignedTail->first : 0;
}

uint32_t qve_run_file_unsigned_last(const qve_run* run, size_t index) {
  const qve::VerifiedFile* file = FileAt(run, index);
  return file != nullptr && file->detail.unsignedTail ? file->detail.unsignedTail->last : 0;
}

uint32_t qve_run_file_nul_first_line(const qve_run* run, size_t index) {
  const qve::VerifiedFile* file = FileAt(run, index);
  return file != nullptr ? file->detail.afterNul.firstLine : 0;
}

uint32_t qve_run_file_nul_lines(const qve_run* run, size_t index) {
  const qve::VerifiedFile* file = FileAt(run, index);
  return file != nullptr ? file->detail.afterNul.lines : 0;
}

uint32_t qve_run_file_end_of_input_line(const qve_run* run, size_t index) {
  const qve::VerifiedFile* file = FileAt(run, index);
  return file != nullptr && file->detail.endOfInput ? file->detail.endOfInput->line : 0;
}

int qve_run_status(const qve_run* run) {
  return Finished(run) != nullptr ? run->run.status() : QVE_ERROR_MISUSE;
}

int qve_run_result(const qve_run* run) {
  const qve::VerifyOutcome* outcome = Finished(run);
  return outcome != nullptr ? int(outcome->result) : QVE_ERROR_MISUSE;
}

int qve_run_total_files(const qve_run* run) {
  const qve::VerifyOutcome* outcome = Finished(run);
  return outcome != nullptr ? int(outcome->totalFiles) : QVE_ERROR_MISUSE;
}

int qve_run_bad_files(const qve_run* run) {
  const qve::VerifyOutcome* outcome = Finished(run);
  return outcome != nullptr ? int(outcome->badFiles) : QVE_ERROR_MISUSE;
}

int qve_run_order(const qve_run* run) {
  const qve::VerifyOutcome* outcome = Finished(run);
  if (outcome == nullptr) return QVE_ERROR_MISUSE;
  if (!outcome->linkOrder) return QVE_ORDER_NAME;
  return outcome->seams ? QVE_ORDER_LINKS_WITH_SEAMS : QVE_ORDER_LINKS;
}

size_t qve_run_strict_count(const qve_run* run) {
  const qve::VerifyOutcome* outcome = Finished(run);
  return outcome != nullptr && outcome->strict ? outcome->strict->size() : 0;
}

static const qve::StrictFinding* StrictAt(const qve_run* run, size_t index) {
  return index < qve_run_strict_count(run) ? &(*run->run.outcome().strict)[index] : nullptr;
}

int qve_run_strict_reason(const qve_run* run, size_t index) {
  const qve::StrictFinding* finding = StrictAt(run, index);
  return finding != nullptr ? static_cast<int>(finding->reason) + 1 : QVE_ERROR_MISUSE;
}

const char* qve_run_strict_path(const qve_run* run, size_t index) {
  const qve::StrictFinding* finding = StrictAt(run, index);
  return finding != nullptr ? finding->path.c_str() : nullptr;
}

const char* qve_run_strict_text(const qve_run* run, size_t index) {
  const qve::StrictFinding* finding = StrictAt(run, index);
  return finding != nullptr ? finding->message.c_str() : nullptr;
}

int qve_run_checkpoint(const qve_run* run) {
  const qve::VerifyOutcome* outcome = Finished(run);
  if (outcome == nullptr) return QVE_ERROR_MISUSE;
  if (!outcome->checkpoint) return QVE_CHECKPOINT_NONE;
  switch (outcome->checkpoint->status) {
    case qve::CheckpointStatus::New:
      return QVE_CHECKPOINT_NEW;
    case qve::CheckpointStatus::Extended:
      return QVE_CHECKPOINT_EXTENDED;
    case qve::CheckpointStatus::Lost:
      return QVE_CHECKPOINT_LOST;
  }
  return QVE_ERROR_MISUSE;
}

const uint8_t* qve_run_record(const qve_run* run, size_t* length) {
  if (length != nullptr) *length = 0;
  if (Finished(run) == nullptr || !run->run.record()) return nullptr;
  const std::string& record = *run->run.record();
  if (length != nullptr) *length = record.size();
  return reinterpret_cast<const uint8_t*>(record.data());
}

}  // extern "C"
