// SPDX-License-Identifier: Apache-2.0
// The extension interface's verification run: a handle over
// VerificationRun, with one accessor per fact and no exception let out.
#include <QVEHelper.h>

#include <cstddef>
#include <cstdint>
#include <deque>
#include <new>
#include <optional>
#include <stdexcept>
#include <string>
#include <utility>

#include "api/calls.h"
#include "api/codes.h"
#include "platform/paths.h"
#include "report/verification_run.h"
#include "text/escape.h"

struct qve_run {
  explicit qve_run(qve::VerificationRunOptions options) : run(options) {}
  qve::VerificationRun run;
  // The current event's text that the event holds in another form; the
  // rest the accessors give from the event itself, copying nothing.
  std::string eventPath;
  // The files' names and paths, as the accessors give them; a deque, so
  // that a text given out stays where it is as files are added.
  std::deque<std::string> names;
  std::deque<std::string> paths;
  std::deque<std::string> breaks;
  // Signature lines of the current file's reading, the current block's
  // included: the first links to what came before the file.
  std::uint32_t signatureLines = 0;
  bool failed = false;  // an error ended the run
  std::string refusal;  // why the last add or record failed
};

namespace {

// The verdicts a host names are the report's own.
constexpr int kBlockVerdicts[] = {qve::BlockOk,      qve::BlockUnsigned,   qve::BlockNoSignature,
                                  qve::BlockInvalid, qve::BlockChainBreak, qve::BlockUnexpected};
static_assert(kBlockVerdicts[QVE_BLOCK_OK] == QVE_BLOCK_OK &&
              kBlockVerdicts[QVE_BLOCK_UNSIGNED] == QVE_BLOCK_UNSIGNED &&
              kBlockVerdicts[QVE_BLOCK_NO_SIGNATURE] == QVE_BLOCK_NO_SIGNATURE &&
              kBlockVerdicts[QVE_BLOCK_INVALID] == QVE_BLOCK_INVALID &&
              kBlockVerdicts[QVE_BLOCK_CHAIN_BREAK] == QVE_BLOCK_CHAIN_BREAK &&
              kBlockVerdicts[QVE_BLOCK_UNEXPECTED] == QVE_BLOCK_UNEXPECTED);
static_assert(int(qve::BlockParseResult::Parsed) == QVE_PARSE_OK &&
              int(qve::BlockParseResult::Empty) == QVE_PARSE_EMPTY);

using qve::interface::Fail;
using qve::interface::Guarded;
using qve::interface::PathFaultCode;
using qve::interface::RecordFaultCode;
using qve::interface::WarningCode;

// A misuse of a run, remembered with what was wrong.
int Misused(const qve_run* run, const char* what) noexcept {
  return Fail(QVE_ERROR_MISUSE, run == nullptr ? "a NULL run" : what);
}

constexpr const char* kNotDone = "the run is not done";

// A run that has not started: paths and the record can still be set.
bool Pending(const qve_run* run) { return run != nullptr && !run->run.started() && !run->failed; }

// The lookups of the accessors: none, with the misuse remembered, for a
// fact asked out of order or of an index at or past its count.
const qve::RunEvent* Event(const qve_run* run, qve::RunEventKind kind) {
  if (run == nullptr || !run->run.started() || run->failed) {
    Misused(run, "no current event");
    return nullptr;
  }
  const qve::RunEvent& event = run->run.current();
  if (event.kind == kind) return &event;
  Misused(run, "the current event is of another kind");
  return nullptr;
}

const qve::VerifiedFile* FileAt(const qve_run* run, std::size_t index) {
  if (run == nullptr || index >= run->run.outcome().files.size()) {
    Misused(run, "no file at that index");
    return nullptr;
  }
  return &run->run.outcome().files[index];
}

// A fact of the file at `index`; 0 for an index at or past the count.
template <typename T, typename Fact>
T FileFact(const qve_run* run, size_t index, Fact fact) {
  const qve::VerifiedFile* file = FileAt(run, index);
  return file != nullptr ? static_cast<T>(fact(*file)) : T{};
}

const qve::VerifyOutcome* Finished(const qve_run* run) {
  if (run != nullptr && run->run.done()) return &run->run.outcome();
  Misused(run, kNotDone);
  return nullptr;
}

const uint8_t* BytesOut(const qve::Bytes* bytes, size_t* length) {
  if (length != nullptr) *length = bytes != nullptr ? bytes->size() : 0;
  return bytes != nullptr ? bytes->data() : nullptr;
}

const uint8_t* BytesOut(const std::optional<qve::Bytes>& bytes, size_t* length) {
  return BytesOut(bytes ? &*bytes : nullptr, length);
}

int Add(qve_run* run, const std::optional<std::wstring>& path, std::string_view why) {
  if (!Pending(run)) return Misused(run, "a path added once the run began");
  run->refusal.clear();
  if (!path) {
    run->refusal = why;
    return Fail(QVE_ERROR_INVALID_PATH, why, {}, why);
  }
  return Guarded([&] {
    qve::ChainFiles& files = run->run.files();
    const std::size_t problems = files.problems.size(), empty = files.empty.size();
    const std::string shown = qve::platform::ShownText(*path);
    qve::CollectPath(files, *path, shown);
    if (files.problems.size() > problems) {
      const qve::PathProblem& problem = files.problems.back();
      run->refusal = problem.reason;
      return Fail(PathFaultCode(problem.code), shown + ": " + problem.reason, *path, problem.reason,
                  QVE_PROBLEM_INPUT);
    }
    // Found again after the run, to tell a rotation meanwhile.
    files.sources.emplace_back(*path, shown);
    if (files.empty.size() > empty)
      return Fail(QVE_ERROR_NO_LOG, shown + " holds no log (system.log or System_*.log)", *path, {},
                  QVE_PROBLEM_INPUT);
    return 0;
  });
}

}  // namespace

extern "C" {

int qve_run_create(const qve_run_options* options, qve_run** run) {
  if (run != nullptr) *run = nullptr;
  // Hosts built before the excerpts, or before the loan, give the size up to them.
  constexpr size_t kFirstSize = offsetof(qve_run_options, excerpt_lines);
  constexpr size_t kBeforeLoan = offsetof(qve_run_options, loan);
  constexpr size_t kBeforePolicy = offsetof(qve_run_options, max_unsigned_lines);
  if (run == nullptr) return Fail(QVE_ERROR_MISUSE, "a NULL result pointer");
  if (!qve::interface::Sized(options, kFirstSize, kBeforeLoan, kBeforePolicy))
    return Fail(QVE_ERROR_MISUSE, qve::interface::Unsized(options));
  if (options->order != QVE_ORDER_LINKS && options->order != QVE_ORDER_NAME)
    return Fail(QVE_ERROR_MISUSE, "no such order");
  qve::VerificationRunOptions chosen{options->order == QVE_ORDER_LINKS, options->strict != 0};
  if (options->size != kFirstSize) {
    chosen.excerptLines = options->excerpt_lines;
    if (options->excerpt_line_bytes != 0) chosen.excerptLineBytes = options->excerpt_line_bytes;
    chosen.once = options->once != 0;
  }
  chosen.pool = qve::interface::PoolOf(*options);
  if (options->size == sizeof(qve_run_options)) {
    chosen.maxUnsigned = options->max_unsigned_lines;
    chosen.record.staleAfterDays = options->stale_after_days;
    chosen.record.accept = options->accept != 0;
  }
  return Guarded([&] {
    *run = new qve_run(chosen);
    return 0;
  });
}

void qve_run_free(qve_run* run) { delete run; }

int qve_run_add(qve_run* run, const char* path) {
  if (path == nullptr) return Fail(QVE_ERROR_MISUSE, "a NULL path");
  return Guarded(
      [&] { return Add(run, qve::interface::PathOf(path), qve::interface::NoPath(path)); });
}

int qve_run_add_w(qve_run* run, const wchar_t* path) {
  if (path == nullptr) return Fail(QVE_ERROR_MISUSE, "a NULL path");
  return Guarded(
      [&] { return Add(run, qve::interface::PathOf(path), qve::interface::NoPath(path)); });
}

const char* qve_run_refusal(const qve_run* run) {
  if (run != nullptr) return run->refusal.c_str();
  Misused(run, "");
  return "";
}

size_t qve_run_input_count(const qve_run* run) {
  if (run != nullptr) return run->run.files().read.size();
  Misused(run, "");
  return 0;
}

const char* qve_run_input_path(const qve_run* run, size_t index) {
  if (index >= qve_run_input_count(run)) {
    Misused(run, "no input at that index");
    return nullptr;
  }
  return run->run.files().read[index].first.c_str();
}

int qve_run_set_record(qve_run* run, const void* bytes, size_t length, int flags) {
  if (!Pending(run)) return Misused(run, "a record set once the run began");
  if ((flags & ~QVE_RECORD_INIT) != 0) return Fail(QVE_ERROR_MISUSE, "no such flag");
  run->refusal.clear();
  if ((flags & QVE_RECORD_INIT) != 0) {
    return Guarded([&] {
      run->run.SetRecord(std::nullopt);
      return 0;
    });
  }
  if (bytes == nullptr && length > 0) return Fail(QVE_ERROR_MISUSE, "NULL bytes of a length");
  return Guarded([&] {
    try {
      const char* text = static_cast<const char*>(bytes);
      run->run.SetRecord(qve::ParseCheckpointRecord(std::string_view(text, length)));
      return 0;
    } catch (const qve::RecordRefused& refused) {
      run->refusal = refused.what();
      return Fail(RecordFaultCode(refused.code), "the checkpoint record " + run->refusal, {},
                  run->refusal);
    }
  });
}

int qve_run_next(qve_run* run) {
  if (run == nullptr || run->run.done() || run->failed) return Misused(run, "the run is over");
  const int code = Guarded([&] {
    const qve::RunEvent& event = run->run.Next();
    run->eventPath =
        event.kind == qve::RunEventKind::FileStart ? qve::platform::ShownText(event.path) : "";
    if (event.kind == qve::RunEventKind::FileStart) run->signatureLines = 0;
    if (event.kind == qve::RunEventKind::Block && !event.block.isUnsignedTail())
      ++run->signatureLines;
    if (event.kind == qve::RunEventKind::Restart) {
      run->names.clear();
      run->paths.clear();
    }
    if (event.kind == qve::RunEventKind::Done) {
      for (const qve::VerifiedFile& file : run->run.outcome().files)
        run->breaks.push_back(file.breakFollows);
    }
    for (const auto& files = run->run.outcome().files; run->names.size() < files.size();) {
      run->names.push_back(files[run->names.size()].name);
      run->paths.push_back(files[run->paths.size()].path);
    }
    return static_cast<int>(event.kind);
  });
  if (code < 0) {
    run->failed = true;
    run->run.Close();
  }
  return code;
}

int qve_run_work(qve_run* run) {
  if (run == nullptr) return Misused(run, "");
  run->run.Work();
  return 0;
}

int qve_run_work_wait(qve_run* run) {
  if (run == nullptr) return Misused(run, "");
  run->run.WorkUntilOver();
  return 0;
}

int qve_run_stop_work(qve_run* run) {
  if (run == nullptr) return Misused(run, "");
  run->run.Close();
  return 0;
}

size_t qve_run_event_file(const qve_run* run) {
  if (run == nullptr || !run->run.started() || run->failed) {
    Misused(run, "no current event");
    return 0;
  }
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
  return event != nullptr ? event->block.verdict : Misused(run, "the current event is no block");
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
  const qve::RunEvent* event = Event(run, qve::RunEventKind::Block);
  if (length != nullptr) *length = event != nullptr ? event->block.text.size() : 0;
  return event != nullptr ? event->block.text.c_str() : "";
}

int qve_run_block_link_matched(const qve_run* run) {
  const qve::RunEvent* event = Event(run, qve::RunEventKind::Block);
  if (event == nullptr || event->block.isUnsignedTail()) return 0;
  return event->block.link == event->block.expectedLink ? 1 : 0;
}

int qve_run_block_chain(const qve_run* run) {
  const qve::RunEvent* event = Event(run, qve::RunEventKind::Block);
  if (event == nullptr) return Misused(run, "the current event is no block");
  if (event->block.isUnsignedTail()) return QVE_LINK_UNSIGNED_TAIL;
  if (event->block.parse != qve::BlockParseResult::Parsed) return QVE_LINK_UNPARSED;
  if (run->signatureLines == 1) return QVE_LINK_FIRST;
  return qve_run_block_link_matched(run) != 0 ? QVE_LINK_MATCHES : QVE_LINK_DIFFERS;
}

int qve_run_block_covers_no_line(const qve_run* run) {
  const qve::RunEvent* event = Event(run, qve::RunEventKind::Block);
  return event != nullptr && event->block.coversNoLine ? 1 : 0;
}

int qve_run_block_parse(const qve_run* run) {
  const qve::RunEvent* event = Event(run, qve::RunEventKind::Block);
  return event != nullptr ? static_cast<int>(event->block.parse)
                          : Misused(run, "the current event is no block");
}

const char* qve_run_block_stop(const qve_run* run) {
  return Event(run, qve::RunEventKind::Block) != nullptr ? run->run.currentStop().c_str() : "";
}

const uint8_t* qve_run_block_link(const qve_run* run, size_t* length) {
  const qve::RunEvent* event = Event(run, qve::RunEventKind::Block);
  const bool linked = event != nullptr && event->block.parse == qve::BlockParseResult::Parsed;
  return BytesOut(linked ? &event->block.link : nullptr, length);
}

uint64_t qve_run_block_signature_length(const qve_run* run) {
  const qve::RunEvent* event = Event(run, qve::RunEventKind::Block);
  return event != nullptr ? event->block.signatureLength : 0;
}

static const qve::CoveredLine* ExcerptAt(const qve_run* run, size_t index) {
  const qve::RunEvent* event = Event(run, qve::RunEventKind::Block);
  if (event == nullptr) return nullptr;
  if (index < event->block.excerpt.size()) return &event->block.excerpt[index];
  Misused(run, "no excerpt line at that index");
  return nullptr;
}

size_t qve_run_block_excerpt_count(const qve_run* run) {
  const qve::RunEvent* event = Event(run, qve::RunEventKind::Block);
  return event != nullptr ? event->block.excerpt.size() : 0;
}

uint32_t qve_run_block_excerpt_line(const qve_run* run, size_t index) {
  const qve::CoveredLine* line = ExcerptAt(run, index);
  return line != nullptr ? line->number : 0;
}

const char* qve_run_block_excerpt_text(const qve_run* run, size_t index, size_t* length) {
  const qve::CoveredLine* line = ExcerptAt(run, index);
  if (length != nullptr) *length = line != nullptr ? line->shown.size() : 0;
  return line != nullptr ? line->shown.c_str() : "";
}

uint64_t qve_run_block_excerpt_covered(const qve_run* run, size_t index) {
  const qve::CoveredLine* line = ExcerptAt(run, index);
  return line != nullptr ? line->coveredBytes : 0;
}

int qve_run_block_excerpt_nul(const qve_run* run, size_t index) {
  const qve::CoveredLine* line = ExcerptAt(run, index);
  return line != nullptr && line->nul ? 1 : 0;
}

int qve_run_warning_code(const qve_run* run) {
  const qve::RunEvent* event = Event(run, qve::RunEventKind::Warning);
  return event != nullptr ? WarningCode(event->warning.code) : 0;
}

const char* qve_run_warning_path(const qve_run* run) {
  const qve::RunEvent* event = Event(run, qve::RunEventKind::Warning);
  return event != nullptr ? event->warning.path.c_str() : "";
}

const char* qve_run_warning_text(const qve_run* run) {
  const qve::RunEvent* event = Event(run, qve::RunEventKind::Warning);
  return event != nullptr ? event->warning.message.c_str() : "";
}

int qve_run_warning_unverified(const qve_run* run) {
  const qve::RunEvent* event = Event(run, qve::RunEventKind::Warning);
  return event != nullptr && event->warning.unverified ? 1 : 0;
}

size_t qve_run_file_count(const qve_run* run) {
  if (run != nullptr) return run->run.outcome().files.size();
  Misused(run, "");
  return 0;
}

const char* qve_run_file_name(const qve_run* run, size_t index) {
  return FileAt(run, index) != nullptr ? run->names[index].c_str() : nullptr;
}

const char* qve_run_file_path(const qve_run* run, size_t index) {
  return FileAt(run, index) != nullptr ? run->paths[index].c_str() : nullptr;
}

int qve_run_file_verdict(const qve_run* run, size_t index) {
  const qve::VerifiedFile* file = FileAt(run, index);
  return file != nullptr ? int(file->verdict) : Misused(run, "no file at that index");
}

uint32_t qve_run_file_blocks(const qve_run* run, size_t index) {
  return FileFact<uint32_t>(run, index,
                            [](const qve::VerifiedFile& f) { return f.detail.counts.blockCount; });
}

uint32_t qve_run_file_bad_blocks(const qve_run* run, size_t index) {
  return FileFact<uint32_t>(
      run, index, [](const qve::VerifiedFile& f) { return f.detail.counts.badBlockCount; });
}

uint32_t qve_run_file_lines(const qve_run* run, size_t index) {
  return FileFact<uint32_t>(run, index, [](const qve::VerifiedFile& f) { return f.detail.lines; });
}

const uint8_t* qve_run_file_first_link(const qve_run* run, size_t index, size_t* length) {
  const qve::VerifiedFile* file = FileAt(run, index);
  // Never a conditional of optionals: that would copy into a temporary.
  if (file == nullptr) return BytesOut(nullptr, length);
  return BytesOut(file->detail.firstLink, length);
}

const uint8_t* qve_run_file_last_chain_value(const qve_run* run, size_t index, size_t* length) {
  const qve::VerifiedFile* file = FileAt(run, index);
  if (file == nullptr) return BytesOut(nullptr, length);
  return BytesOut(file->detail.lastChainValue, length);
}

uint32_t qve_run_file_unsigned_first(const qve_run* run, size_t index) {
  return FileFact<uint32_t>(run, index, [](const qve::VerifiedFile& f) {
    return f.detail.unsignedTail ? f.detail.unsignedTail->first : 0;
  });
}

uint32_t qve_run_file_unsigned_last(const qve_run* run, size_t index) {
  return FileFact<uint32_t>(run, index, [](const qve::VerifiedFile& f) {
    return f.detail.unsignedTail ? f.detail.unsignedTail->last : 0;
  });
}

uint32_t qve_run_file_nul_first_line(const qve_run* run, size_t index) {
  return FileFact<uint32_t>(run, index,
                            [](const qve::VerifiedFile& f) { return f.detail.afterNul.firstLine; });
}

uint32_t qve_run_file_nul_lines(const qve_run* run, size_t index) {
  return FileFact<uint32_t>(run, index,
                            [](const qve::VerifiedFile& f) { return f.detail.afterNul.lines; });
}

uint32_t qve_run_file_end_of_input_line(const qve_run* run, size_t index) {
  return FileFact<uint32_t>(run, index, [](const qve::VerifiedFile& f) {
    return f.detail.endOfInput ? f.detail.endOfInput->line : 0;
  });
}

int qve_run_file_opened(const qve_run* run, size_t index) {
  return FileFact<int>(run, index,
                       [](const qve::VerifiedFile& f) { return f.detail.opened ? 1 : 0; });
}

uint32_t qve_run_file_signature_lines(const qve_run* run, size_t index) {
  return FileFact<uint32_t>(run, index,
                            [](const qve::VerifiedFile& f) { return f.detail.signatureLines; });
}

int qve_run_file_changed_while_read(const qve_run* run, size_t index) {
  return FileFact<int>(
      run, index, [](const qve::VerifiedFile& f) { return f.detail.changedWhileRead ? 1 : 0; });
}

const char* qve_run_file_read_fault(const qve_run* run, size_t index) {
  const qve::VerifiedFile* file = FileAt(run, index);
  if (file == nullptr) return nullptr;
  return file->detail.fault == qve::platform::ReadFault::None
             ? ""
             : qve::ReadFaultText(file->detail.fault);
}

uint64_t qve_run_file_nul_bytes(const qve_run* run, size_t index) {
  return FileFact<uint64_t>(run, index,
                            [](const qve::VerifiedFile& f) { return f.detail.afterNul.bytes; });
}

uint64_t qve_run_file_end_of_input_offset(const qve_run* run, size_t index) {
  return FileFact<uint64_t>(run, index, [](const qve::VerifiedFile& f) {
    return f.detail.endOfInput ? f.detail.endOfInput->offset : 0;
  });
}

uint64_t qve_run_file_end_of_input_bytes(const qve_run* run, size_t index) {
  return FileFact<uint64_t>(run, index, [](const qve::VerifiedFile& f) {
    return f.detail.endOfInput ? f.detail.endOfInput->bytesAfter : 0;
  });
}

const char* qve_run_file_break_follows(const qve_run* run, size_t index) {
  if (FileAt(run, index) == nullptr) return nullptr;
  return index < run->breaks.size() ? run->breaks[index].c_str() : "";
}

int qve_run_status(const qve_run* run) {
  return Finished(run) != nullptr ? run->run.status() : Misused(run, kNotDone);
}

int qve_run_result(const qve_run* run) {
  const qve::VerifyOutcome* outcome = Finished(run);
  return outcome != nullptr ? int(outcome->result) : Misused(run, kNotDone);
}

int qve_run_total_files(const qve_run* run) {
  const qve::VerifyOutcome* outcome = Finished(run);
  return outcome != nullptr ? int(outcome->totalFiles) : Misused(run, kNotDone);
}

int qve_run_bad_files(const qve_run* run) {
  const qve::VerifyOutcome* outcome = Finished(run);
  return outcome != nullptr ? int(outcome->badFiles) : Misused(run, kNotDone);
}

int qve_run_order(const qve_run* run) {
  const qve::VerifyOutcome* outcome = Finished(run);
  if (outcome == nullptr) return Misused(run, kNotDone);
  if (!outcome->linkOrder) return QVE_ORDER_NAME;
  return outcome->seams ? QVE_ORDER_LINKS_WITH_SEAMS : QVE_ORDER_LINKS;
}

size_t qve_run_strict_count(const qve_run* run) {
  const qve::VerifyOutcome* outcome = Finished(run);
  return outcome != nullptr && outcome->strict ? outcome->strict->size() : 0;
}

static const qve::StrictFinding* StrictAt(const qve_run* run, size_t index) {
  if (index < qve_run_strict_count(run)) return &(*run->run.outcome().strict)[index];
  if (run != nullptr && run->run.done()) Misused(run, "no strict reason at that index");
  return nullptr;
}

uint32_t qve_run_longest_block(const qve_run* run) {
  const qve::VerifyOutcome* outcome = Finished(run);
  return outcome != nullptr ? outcome->longestBlock : 0;
}

int qve_run_strict_reason(const qve_run* run, size_t index) {
  const qve::StrictFinding* finding = StrictAt(run, index);
  return finding != nullptr ? static_cast<int>(finding->reason) + 1
                            : Misused(run, "no strict reason at that index");
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
  if (outcome == nullptr) return Misused(run, kNotDone);
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

static const qve::CheckpointOutcome* CheckpointOf(const qve_run* run) {
  const qve::VerifyOutcome* outcome = Finished(run);
  return outcome != nullptr && outcome->checkpoint ? &*outcome->checkpoint : nullptr;
}

// The point asked for, and the record it belongs to (none for HELD).
static std::pair<const qve::ChainPoint*, const qve::CheckpointRecord*> PointOf(const qve_run* run,
                                                                               int point) {
  if (point < QVE_POINT_RECORDED || point > QVE_POINT_OLDEST) {
    Misused(run, "no such point");
    return {};
  }
  const qve::CheckpointOutcome* checkpoint = CheckpointOf(run);
  if (checkpoint == nullptr) return {};
  const std::optional<qve::CheckpointRecord>* record = nullptr;
  if (point == QVE_POINT_RECORDED) record = &checkpoint->recorded;
  if (point == QVE_POINT_NOW) record = &checkpoint->now;
  if (record != nullptr)
    return {*record ? &(*record)->block : nullptr, *record ? &**record : nullptr};
  if (point == QVE_POINT_HELD && checkpoint->held) return {&*checkpoint->held, nullptr};
  if (point == QVE_POINT_OLDEST && checkpoint->recorded && checkpoint->recorded->history)
    return {&checkpoint->recorded->history->oldest, nullptr};
  return {};
}

int qve_run_point_known(const qve_run* run, int point) {
  return PointOf(run, point).first != nullptr ? 1 : 0;
}

const char* qve_run_point_file(const qve_run* run, int point) {
  const qve::ChainPoint* at = PointOf(run, point).first;
  return at != nullptr ? at->file.c_str() : "";
}

uint32_t qve_run_point_line(const qve_run* run, int point) {
  const qve::ChainPoint* at = PointOf(run, point).first;
  return at != nullptr ? at->line : 0;
}

uint32_t qve_run_point_id(const qve_run* run, int point) {
  const qve::ChainPoint* at = PointOf(run, point).first;
  return at != nullptr ? at->id : 0;
}

size_t qve_run_point_file_index(const qve_run* run, int point) {
  const qve::ChainPoint* at = PointOf(run, point).first;
  return at != nullptr && point != QVE_POINT_RECORDED ? at->position : 0;
}

const uint8_t* qve_run_point_chain_value(const qve_run* run, int point, size_t* length) {
  const qve::ChainPoint* at = PointOf(run, point).first;
  return BytesOut(at != nullptr ? &at->chainValue : nullptr, length);
}

const uint8_t* qve_run_point_start(const qve_run* run, int point, size_t* length) {
  const qve::CheckpointRecord* record = PointOf(run, point).second;
  return BytesOut(record != nullptr ? &record->start : nullptr, length);
}

const char* qve_run_point_time(const qve_run* run, int point) {
  const qve::CheckpointRecord* record = PointOf(run, point).second;
  return record != nullptr ? record->time.c_str() : "";
}

const char* qve_run_point_grew(const qve_run* run, int point) {
  const qve::CheckpointRecord* record = PointOf(run, point).second;
  return record != nullptr ? record->grew.c_str() : "";
}

int qve_run_checkpoint_history_left(const qve_run* run, uint32_t* files, uint32_t* lines) {
  const qve::CheckpointOutcome* checkpoint = CheckpointOf(run);
  const bool known = checkpoint != nullptr && checkpoint->left;
  if (files != nullptr) *files = known ? checkpoint->left->files : 0;
  if (lines != nullptr) *lines = known ? checkpoint->left->lines : 0;
  return known ? 1 : 0;
}

int qve_run_checkpoint_shrunk(const qve_run* run) {
  const qve::CheckpointOutcome* checkpoint = CheckpointOf(run);
  return checkpoint != nullptr && checkpoint->shrunk ? 1 : 0;
}

int qve_run_checkpoint_stale(const qve_run* run) {
  const qve::CheckpointOutcome* checkpoint = CheckpointOf(run);
  return checkpoint != nullptr && checkpoint->stale ? 1 : 0;
}

int qve_run_checkpoint_starts_later(const qve_run* run) {
  const qve::CheckpointOutcome* checkpoint = CheckpointOf(run);
  return checkpoint != nullptr && checkpoint->startsLater ? 1 : 0;
}

const char* qve_run_checkpoint_not_recorded(const qve_run* run) {
  const qve::CheckpointOutcome* checkpoint = CheckpointOf(run);
  return checkpoint != nullptr ? checkpoint->notWritten.c_str() : "";
}

const uint8_t* qve_run_record(const qve_run* run, size_t* length) {
  if (length != nullptr) *length = 0;
  if (Finished(run) == nullptr || !run->run.record()) return nullptr;
  const std::string& record = *run->run.record();
  if (length != nullptr) *length = record.size();
  return reinterpret_cast<const uint8_t*>(record.data());
}

}  // extern "C"
