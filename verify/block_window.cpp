// SPDX-License-Identifier: Apache-2.0
#include "verify/block_window.h"

#include <utility>

namespace qve {

namespace {

// In flight at most: enough to keep many lent threads busy on short blocks,
// few enough bytes that memory stays flat whatever the blocks' length.
constexpr std::size_t kMaxBlocks = 256;
constexpr std::size_t kMaxBytes = 16 << 20;
// Blocks left waiting before the reader checks one itself: the lent
// threads are behind, or none works for the run at the moment.
constexpr std::size_t kBacklog = 4;

}  // namespace

BlockWindow::BlockWindow(platform::Loan* loan)
    : loan_(loan != nullptr ? *loan : own_), lent_(loan != nullptr) {
  loan_.Join(*this);
}

BlockWindow::~BlockWindow() {
  Abandon();
  std::unique_lock<std::mutex> lock(loan_.lock());
  // The threads still waiting leave before the window goes.
  closed_ = true;
  loan_.Changed();
  while (workers_ > 0) loan_.Wait(lock);
  loan_.Leave(*this, lock);
}

bool BlockWindow::Full() const { return entries_.size() >= kMaxBlocks || bytes_ >= kMaxBytes; }

void BlockWindow::TakeOne(std::unique_lock<std::mutex>& lock) {
  // Entries stay where they are while others are added or delivered.
  Entry& entry = entries_[started_++];
  lock.unlock();
  WindowBlock& block = entry.block;
  try {
    block.check->Add(block.covered);
    block.result = block.check->Finish(block.expectedLink);
  } catch (...) {
    block.failure = std::current_exception();
  }
  Bytes().swap(block.covered);
  lock.lock();
  entry.done = true;
  loan_.Changed();
}

void BlockWindow::DeliverDone(std::unique_lock<std::mutex>& lock, const Deliver& deliver) {
  while (!entries_.empty() && entries_.front().done) {
    lock.unlock();
    deliver(entries_.front().block);
    lock.lock();
    bytes_ -= entries_.front().bytes;
    entries_.pop_front();
    --started_;
  }
}

void BlockWindow::Add(WindowBlock block, const Deliver& deliver) {
  std::unique_lock<std::mutex> lock(loan_.lock());
  const std::size_t bytes = block.covered.size();
  entries_.push_back({std::move(block), bytes});
  bytes_ += bytes;
  loan_.Changed();
  for (;;) {
    DeliverDone(lock, deliver);
    const std::size_t waiting = entries_.size() - started_;
    if (waiting > 0 && (waiting > kBacklog || Full())) {
      TakeOne(lock);
    } else if (Full()) {
      loan_.Wait(lock);
    } else {
      return;
    }
  }
}

void BlockWindow::Drain(const Deliver& deliver) {
  std::unique_lock<std::mutex> lock(loan_.lock());
  for (;;) {
    DeliverDone(lock, deliver);
    if (entries_.empty()) return;
    if (Takeable()) {
      TakeOne(lock);
    } else {
      loan_.Wait(lock);
    }
  }
}

void BlockWindow::Abandon() {
  std::unique_lock<std::mutex> lock(loan_.lock());
  entries_.resize(started_);
  for (;;) {
    while (!entries_.empty() && entries_.front().done) {
      entries_.pop_front();
      --started_;
    }
    if (entries_.empty()) break;
    loan_.Wait(lock);
  }
  bytes_ = 0;
}

void BlockWindow::Work() {
  lent_ = true;
  std::unique_lock<std::mutex> lock(loan_.lock());
  while (Takeable()) TakeOne(lock);
}

void BlockWindow::WorkUntilClosed() {
  lent_ = true;
  std::unique_lock<std::mutex> lock(loan_.lock());
  ++workers_;
  while (!closed_) {
    if (Takeable()) {
      TakeOne(lock);
    } else {
      loan_.Wait(lock);
    }
  }
  --workers_;
  // Notified with the lock held: the destructor may be waiting to free it.
  loan_.Changed();
}

void BlockWindow::Close() {
  const std::lock_guard<std::mutex> lock(loan_.lock());
  closed_ = true;
  loan_.Changed();
}

}  // namespace qve
