// SPDX-License-Identifier: Apache-2.0
#include "verify/block_window.h"

#include <utility>

namespace qve {

namespace {

// In flight at most: enough to keep many workers busy on short blocks, and
// few enough bytes that memory stays flat however long the blocks are.
constexpr std::size_t kMaxBlocks = 256;
constexpr std::size_t kMaxBytes = 16 << 20;
// Blocks left waiting before the reader checks one itself: past this, the
// workers are behind or none is working for the run right now.
constexpr std::size_t kBacklog = 4;

}  // namespace

BlockWindow::BlockWindow(platform::WorkerPool* pool)
    : pool_(pool != nullptr ? *pool : own_), hasWorkers_(pool != nullptr) {
  pool_.Attach(*this);
}

BlockWindow::~BlockWindow() {
  Abandon();
  std::unique_lock<std::mutex> lock(pool_.lock());
  // The threads still waiting leave before the window goes.
  closed_ = true;
  pool_.Changed();
  while (workers_ > 0) pool_.Wait(lock);
  pool_.Detach(*this, lock);
}

bool BlockWindow::Full() const { return entries_.size() >= kMaxBlocks || bytes_ >= kMaxBytes; }

void BlockWindow::RunOne(std::unique_lock<std::mutex>& lock) {
  // A deque keeps this entry in place while others are added or published.
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
  pool_.Changed();
}

void BlockWindow::PublishChecked(std::unique_lock<std::mutex>& lock, const Publisher& publish) {
  while (!entries_.empty() && entries_.front().done) {
    lock.unlock();
    publish(entries_.front().block);
    lock.lock();
    bytes_ -= entries_.front().bytes;
    entries_.pop_front();
    --started_;
  }
}

void BlockWindow::Add(WindowBlock block, const Publisher& publish) {
  std::unique_lock<std::mutex> lock(pool_.lock());
  const std::size_t bytes = block.covered.size();
  entries_.push_back({std::move(block), bytes});
  bytes_ += bytes;
  pool_.Changed();
  for (;;) {
    PublishChecked(lock, publish);
    const std::size_t waiting = entries_.size() - started_;
    if (waiting > 0 && (waiting > kBacklog || Full())) {
      RunOne(lock);
    } else if (Full()) {
      pool_.Wait(lock);
    } else {
      return;
    }
  }
}

void BlockWindow::Drain(const Publisher& publish) {
  std::unique_lock<std::mutex> lock(pool_.lock());
  for (;;) {
    PublishChecked(lock, publish);
    if (entries_.empty()) return;
    if (HasPending()) {
      RunOne(lock);
    } else {
      pool_.Wait(lock);
    }
  }
}

void BlockWindow::Abandon() {
  std::unique_lock<std::mutex> lock(pool_.lock());
  entries_.resize(started_);
  for (;;) {
    while (!entries_.empty() && entries_.front().done) {
      entries_.pop_front();
      --started_;
    }
    if (entries_.empty()) break;
    pool_.Wait(lock);
  }
  bytes_ = 0;
}

void BlockWindow::Work() {
  hasWorkers_ = true;
  std::unique_lock<std::mutex> lock(pool_.lock());
  while (HasPending()) RunOne(lock);
}

void BlockWindow::WorkUntilClosed() {
  hasWorkers_ = true;
  std::unique_lock<std::mutex> lock(pool_.lock());
  ++workers_;
  while (!closed_) {
    if (HasPending()) {
      RunOne(lock);
    } else {
      pool_.Wait(lock);
    }
  }
  --workers_;
  // Notified with the lock held: the destructor may be waiting to free it.
  pool_.Changed();
}

void BlockWindow::Close() {
  const std::lock_guard<std::mutex> lock(pool_.lock());
  closed_ = true;
  pool_.Changed();
}

}  // namespace qve
