// SPDX-License-Identifier: Apache-2.0
#include "report/verification_run.h"

#include <utility>

#include "report/chain_links.h"

namespace qve {

// Turns what the run's observers are handed into events, in order.
class VerificationRun::Queue final : public VerifyObserver {
 public:
  explicit Queue(VerificationRun& run) : run_(run) {}
  void OnFileStart(const FileDetail& file) override {
    RunEvent event;
    event.kind = RunEventKind::FileStart;
    event.file = files_;
    event.reading = file.reading;
    event.path = file.path;
    run_.events_.push_back(std::move(event));
  }
  void OnBlock(const FileDetail&, const BlockDetail& block) override {
    RunEvent event;
    event.kind = RunEventKind::Block;
    event.file = files_;
    event.block = block;
    run_.events_.push_back(std::move(event));
  }
  void OnFileEnd(const FileDetail&) override {
    // The file's warnings come before its end.
    run_.QueueWarnings();
    RunEvent event;
    event.kind = RunEventKind::FileEnd;
    event.file = files_++;
    run_.events_.push_back(std::move(event));
  }

 private:
  VerificationRun& run_;
  std::size_t files_ = 0;
};

VerificationRun::VerificationRun(VerificationRunOptions options)
    : options_(options), window_(options.loan) {}

VerificationRun::~VerificationRun() = default;

void VerificationRun::SetRecord(std::optional<CheckpointRecord> record) {
  recordGiven_ = true;
  recorded_ = std::move(record);
}

void VerificationRun::QueueWarnings() {
  for (; warningsQueued_ < outcome_.warnings.size(); ++warningsQueued_) {
    RunEvent event;
    event.kind = RunEventKind::Warning;
    event.warning = outcome_.warnings[warningsQueued_];
    events_.push_back(std::move(event));
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
          {empty, "holds no log (system.log or System_*.log)", true, QVE_WARNING_NO_LOG});
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
  for (const auto& path : options_.linkOrder ? SortByLinks(std::move(files), options_.loan) : files)
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
    RunEvent restart;
    restart.kind = RunEventKind::Restart;
    events_.push_back(std::move(restart));
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
         true, QVE_WARNING_KEPT_CHANGING});
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
  RunEvent done;
  done.kind = RunEventKind::Done;
  events_.push_back(std::move(done));
}

const RunEvent& VerificationRun::Next() {
  if (!started_) {
    started_ = true;
    Begin();
  }
  while (events_.empty()) {
    if (!steps_->Step()) Finish();
  }
  current_ = std::move(events_.front());
  events_.pop_front();
  if (current_.kind == RunEventKind::Done) {
    done_ = true;
    window_.Close();
  }
  return current_;
}

}  // namespace qve
