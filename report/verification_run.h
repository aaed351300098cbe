// SPDX-License-Identifier: Apache-2.0
// One chain verified as the verify command verifies it, taken as a stream
// of events: its files found, ordered by their links or names, read a step
// at a time, judged by the strict policy and a checkpoint record, and
// verified again where a rotation renamed files meanwhile. It holds per
// file totals, never every block.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "report/chain_files.h"
#include "report/chain_outcome.h"
#include "report/checkpoint_record.h"
#include "report/checkpoint_rules.h"
#include "report/verification_report.h"
#include "verify/block_window.h"
#include "verify/chain_steps.h"

namespace qve {

enum class RunEventKind { FileStart = 1, Block, Warning, FileEnd, Restart, Done };

struct RunEvent {
  RunEventKind kind = RunEventKind::Done;
  std::size_t file = 0;   // FileStart, Block, FileEnd: the file's index in the run
  int reading = 1;        // FileStart: above 1 when the file is read again
  std::wstring path;      // FileStart
  BlockDetail block;      // Block
  VerifyWarning warning;  // Warning
};

struct VerificationRunOptions {
  bool linkOrder = true;
  bool strict = false;
  // Covered lines each block event carries, and bytes of each.
  std::uint32_t excerptLines = 0;
  std::size_t excerptLineBytes = 4000;
  // Each file read once, the run never done again.
  bool once = false;
  // The host's workers for the run's block checks, or none.
  platform::WorkerPool* pool = nullptr;
  // The strict policy's longest unsigned tail of the newest file; 0: the
  // longest signed block.
  std::uint32_t maxUnsigned = 0;
  CheckpointPolicy record{};
};

class VerificationRun {
 public:
  explicit VerificationRun(VerificationRunOptions options);
  ~VerificationRun();

  ChainFiles& files() { return files_; }
  const ChainFiles& files() const { return files_; }
  // A record to hold the run to; nothing for one that is made anew.
  void SetRecord(std::optional<CheckpointRecord> record);

  // The next event; the run goes on as far as it takes to have one.
  // Throws as VerifyFiles.
  const RunEvent& Next();
  // The event Next gave last.
  const RunEvent& current() const { return hasCurrent_ ? events_.front() : none_; }
  // Where the current block's parsing stopped, in words; "" for a block
  // that parsed or is empty, and for any other event. Made when first asked
  // for, on the thread that takes the events.
  const std::string& currentStop() const;
  bool started() const { return started_; }
  bool done() const { return done_; }

  // A worker given to this run alone: checks the waiting blocks. Any thread
  // may call it at any time while the run lives.
  void Work() { window_.Work(); }
  // The same, asleep while no block waits, until the run is over (done, or
  // Close after a failure) or freed.
  void WorkUntilOver() { window_.WorkUntilClosed(); }
  void Close() { window_.Close(); }

  const VerifyOutcome& outcome() const { return outcome_; }
  int status() const { return ChainStatusOf(outcome_); }
  // The new record's text, when the run passed and recorded a block.
  const std::optional<std::string>& record() const { return record_; }

 private:
  class Queue;
  // The events not yet taken, the current one first, in slots used again
  // and again: a block's text, link and chain values are copied into the
  // buffers an earlier block left, so a run under way allocates none.
  class Events {
   public:
    // A slot at the back for an event of `kind` about `file`; its other
    // members hold what the slot's last event left, for the caller to set.
    RunEvent& Add(RunEventKind kind, std::size_t file = 0);
    bool empty() const { return count_ == 0; }
    const RunEvent& front() const { return slots_[head_]; }
    void PopFront();

   private:
    std::vector<RunEvent> slots_;
    std::size_t head_ = 0;
    std::size_t count_ = 0;
  };
  void Begin();
  void Finish();
  void QueueWarnings();

  VerificationRunOptions options_;
  ChainFiles files_;
  bool recordGiven_ = false;
  std::optional<CheckpointRecord> recorded_;
  bool started_ = false;
  bool done_ = false;
  int settledReadings_ = 0;

  VerifyOutcome outcome_;
  // Outlives every reading of the run, since its workers may still be in it.
  BlockWindow window_;
  std::unique_ptr<VerificationReport> report_;
  std::unique_ptr<Queue> queue_;
  std::unique_ptr<OutcomeBuilder> builder_;
  std::unique_ptr<CheckpointWatch> watch_;
  std::unique_ptr<ReportCounter> counter_;
  std::unique_ptr<ChainSteps> steps_;
  Events events_;
  bool hasCurrent_ = false;
  RunEvent none_;
  mutable std::optional<std::string> currentStop_;
  std::size_t warningsQueued_ = 0;
  std::optional<std::string> record_;
};

}  // namespace qve
