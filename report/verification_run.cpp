// SPDX-License-Identifier: Apache-2.0
#include "report/verification_run.h"

#include <algorithm>
#include <utility>

#include "report/chain_links.h"

namespace qve {

// Turns what the run's observers are handed into events, in order.
class VerificationRun::Queue final : public VerifyObserver {
 public:
  explicit Queue(VerificationRun& run) : run_(run) {}
  void OnFileStart(const FileDetail& file) override {
    RunEvent& event = run_.events_.Add(RunEventKind::FileStart, files_);
    event.reading = file.reading;
    event.path = file.path;
  }
  void OnBlock(const FileDetail&, const BlockDetail& block) override {
    // The block's storage is the checker's again once this returns.
    run_.events_.Add(RunEventKind::Block, files_).block = block;
  }
  void OnFileEnd(const FileDetail&) override {
    // The file's warnings come before its end.
    run_.QueueWarnings();
    run_.events_.Add(RunEventKind::FileEnd, files_++);
  }

 private:
  VerificationRun& run_;
  std::size_t files_ = 0;
};

VerificationRun::VerificationRun(VerificationRunOptions options)
    : options_(options), window_(options.pool) {}

VerificationRun::~VerificationRun() = default;

void VerificationRun::SetRecord(std::optional<CheckpointRecord> record) {
  recordGiven_ = true;
  recorded_ = std::move(record);
}

void VerificationRun::QueueWarnings() {
  for (; warningsQueued_ < outcome_.warnings.size(); ++warningsQueued_) {
    events_.Add(RunEventKind::Warning).warning = outcome_.warnings[warningsQueued_];
  }
}

void VerificationRun::Begin() {
  ++settledReadings_;
  outcome_ = VerifyOutcome{};
  outcome_.linkOrder = options_.linkOrder;
  outcome_.warnings = files_.warnings;
  outcome_.caseOnly = files_.caseOnly;
  // A folder that holds no log loses the blocks a record says it held.
  if (recorded_) {
    for (const std::string& empty : files_.empty) {
      outcome_.warnings.push_back(
          {empty, "holds no log (system.log or System_*.log)", true, WarningKind::NoLog});
    }
  }
  std::vector<std::wstring> files = files_.files;
  LeaveOutGzipCopies(files, outcome_.warnings);
  warningsQueued_ = 0;
  QueueWarnings();
  report_ = std::make_unique<VerificationReport>();
  queue_ = std::make_unique<Queue>(*this);
  std::vector<VerifyObserver*> next;
  if (recordGiven_) {
    watch_ = std::make_unique<CheckpointWatch>(recorded_);
    next.push_back(watch_.get());
  }
  next.push_back(queue_.get());
  builder_ = std::make_unique<OutcomeBuilder>(outcome_, next, files_.alreadyWarned);
  counter_ = std::make_unique<ReportCounter>(true, *builder_);
  for (const auto& path : options_.linkOrder ? SortByLinks(std::move(files), options_.pool) : files)
    report_->AddFile(path);
  RunOptions options;
  options.gunzip = true;
  options.excerptLines = options_.excerptLines;
  options.excerptLineBytes = options_.excerptLineBytes;
  if (options_.once) options.readings = 1;
  options.window = &window_;
  steps_ = std::make_unique<ChainSteps>(
      report_->PrepareRun(options_.linkOrder ? RunOrder::AsListed : RunOrder::ByName), *counter_,
      options);
}

void VerificationRun::Finish() {
  outcome_.result = report_->TakeRun(*counter_);
  outcome_.totalFiles = report_->TotalFiles();
  outcome_.badFiles = report_->NumberOfBadFiles();
  // A rotation during the run would show its files half renamed, as a break
  // or as lost evidence: the run is done again, three times at most.
  constexpr int kReadings = 3;
  ChainFiles again = options_.once ? files_ : FoundAgain(files_);
  if (again.problems.empty() && again.listed != files_.listed && settledReadings_ < kReadings) {
    files_ = std::move(again);
    events_.Add(RunEventKind::Restart);
    Begin();
    return;
  }
  if (!again.problems.empty() || again.listed != files_.listed) {
    const std::string source = files_.sources.empty() ? "" : files_.sources.front().second;
    outcome_.warnings.push_back(
        {source,
         !again.problems.empty()
             ? "changed while it was verified: " + again.problems.front().argument + ": " +
                   again.problems.front().reason
             : "its files kept changing while they were verified (" + std::to_string(kReadings) +
                   " times); the last verification stands",
         true, WarningKind::KeptChanging});
  }
  WarnAboutLinks(outcome_);
  LeaveOutBreaksThatFollow(outcome_);
  if (options_.strict) outcome_.strict = StrictFindings(outcome_, options_.maxUnsigned);
  if (recordGiven_) {
    CheckpointOutcome& checkpoint = outcome_.checkpoint.emplace(
        JudgeCheckpoint("", recorded_, watch_->seen(), FailingReason(outcome_), false,
                        options_.record, FirstUnread(outcome_)));
    if (outcome_.strict) {
      const std::size_t before = outcome_.strict->size();
      const std::string source = files_.sources.empty() ? "" : files_.sources.front().second;
      StrictRecordFindings(outcome_, source, *outcome_.strict);
      if (outcome_.strict->size() > before && checkpoint.notWritten.empty() && !checkpoint.accepted)
        checkpoint.notWritten = FailingReason(outcome_);
    }
    if (checkpoint.accepted ||
        (checkpoint.status != CheckpointStatus::Lost && checkpoint.notWritten.empty()))
      record_ = CheckpointRecordText(*checkpoint.now);
  }
  QueueWarnings();
  steps_.reset();
  events_.Add(RunEventKind::Done);
}

RunEvent& VerificationRun::Events::Add(RunEventKind kind, std::size_t file) {
  if (count_ == slots_.size()) {
    // Full: the events in order, and as many slots again.
    std::vector<RunEvent> more(std::max<std::size_t>(8, 2 * slots_.size()));
    for (std::size_t i = 0; i < count_; ++i)
      more[i] = std::move(slots_[(head_ + i) % slots_.size()]);
    slots_.swap(more);
    head_ = 0;
  }
  RunEvent& event = slots_[(head_ + count_++) % slots_.size()];
  event.kind = kind;
  event.file = file;
  event.reading = 1;
  return event;
}

void VerificationRun::Events::PopFront() {
  head_ = (head_ + 1) % slots_.size();
  --count_;
}

const std::string& VerificationRun::currentStop() const {
  if (!currentStop_) {
    const RunEvent& event = current();
    currentStop_ =
        event.kind == RunEventKind::Block ? WhereParsingStops(event.block) : std::string();
  }
  return *currentStop_;
}

const RunEvent& VerificationRun::Next() {
  if (!started_) {
    started_ = true;
    Begin();
  }
  // The event given out last is done with; its slot takes a later one.
  if (hasCurrent_) {
    events_.PopFront();
    hasCurrent_ = false;
    currentStop_.reset();
  }
  while (events_.empty()) {
    if (!steps_->Step()) Finish();
  }
  hasCurrent_ = true;
  const RunEvent& current = events_.front();
  if (current.kind == RunEventKind::Done) {
    done_ = true;
    window_.Close();
  }
  return current;
}

}  // namespace qve
