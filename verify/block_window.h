// SPDX-License-Identifier: Apache-2.0
// Blocks whose checks run on threads a host lends while the reader reads
// on. A block's check (the digest of its lines, its signature) depends on
// its own bytes and the link it must carry alone, and the reader knows that
// link as soon as it has read the signature line before: any thread may
// take any block. The blocks come back out in the order they went in, on
// the reader's thread. At most a fixed number of blocks and bytes are in
// flight; a reader that meets the bound, or finds the lent threads behind,
// checks the oldest waiting block itself, so that nothing depends on the
// lending but the time.
#pragma once

#include <atomic>
#include <cstddef>
#include <deque>
#include <exception>
#include <functional>
#include <mutex>
#include <optional>

#include "crypto/block_check.h"
#include "format/bytes.h"
#include "platform/work_loan.h"
#include "verify/details.h"

namespace qve {

struct WindowBlock {
  std::optional<BlockCheck> check;  // parsed, its own fields digested
  Bytes covered;                    // its lines, each followed by 0x00
  Bytes expectedLink;
  // Once checked:
  BlockCheckResult result = BlockCheckResult::NoSignature;
  std::exception_ptr failure;  // what the check threw, for the reader to throw
  // What the reader knew of it besides: all but its verdict.
  BlockDetail detail;
  bool firstOfRun = false;
};

class BlockWindow final : public platform::LoanJob {
 public:
  using Deliver = std::function<void(WindowBlock&)>;

  // `loan` may be null: the threads that call Work are the only lent ones.
  explicit BlockWindow(platform::Loan* loan);
  ~BlockWindow();
  BlockWindow(const BlockWindow&) = delete;
  BlockWindow& operator=(const BlockWindow&) = delete;

  // Whether blocks go through the window: with a loan, or once a thread
  // has come to work. Until then the reader checks each block as it comes,
  // as a run with no lent thread does.
  bool lent() const { return lent_; }

  // The reader's side. Adds `block` and hands `deliver` every block whose
  // check is done, in order; returns once the window is below its bound.
  void Add(WindowBlock block, const Deliver& deliver);
  // Returns once every block added is delivered.
  void Drain(const Deliver& deliver);
  // After a failure: blocks not taken are dropped, and the call returns once
  // no thread works on one.
  void Abandon();

  // A lent thread's side: checks waiting blocks until none is left.
  void Work();
  // Checks waiting blocks and sleeps while there is none, until Close or
  // the window's end.
  void WorkUntilClosed();
  // No more blocks will come: the threads in WorkUntilClosed return.
  void Close();

  bool Takeable() const override { return started_ < entries_.size(); }
  void TakeOne(std::unique_lock<std::mutex>& lock) override;

 private:
  struct Entry {
    WindowBlock block;
    std::size_t bytes = 0;
    bool done = false;
  };

  bool Full() const;
  // Delivers the done blocks at the front, the lock released meanwhile.
  void DeliverDone(std::unique_lock<std::mutex>& lock, const Deliver& deliver);

  platform::Loan own_;  // when no loan is given
  platform::Loan& loan_;
  std::atomic<bool> lent_;
  // In order; the first started_ are taken (or done), the rest wait.
  std::deque<Entry> entries_;
  std::size_t started_ = 0;
  std::size_t bytes_ = 0;
  bool closed_ = false;
  std::size_t workers_ = 0;
};

}  // namespace qve
