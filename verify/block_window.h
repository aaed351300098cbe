// SPDX-License-Identifier: Apache-2.0
// A queue of signed blocks checked by worker threads while the reader reads
// on. A block's check (the digest of its lines, its signature) needs only
// its own bytes and the link it must carry. The reader knows that link once
// it has read the previous signature line, so any worker can check any
// block. Checked blocks are published in the order they were added, on the
// reader's thread. The number of blocks and bytes in flight is bounded. When
// the queue is full or the workers fall behind, the reader checks the oldest
// waiting block itself, so the result never depends on the workers, only
// the time taken.
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
#include "platform/worker_pool.h"
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

class BlockWindow final : public platform::WorkItem {
 public:
  using Publisher = std::function<void(WindowBlock&)>;

  // `pool` may be null: then only the threads that call Work are workers.
  explicit BlockWindow(platform::WorkerPool* pool);
  ~BlockWindow();
  BlockWindow(const BlockWindow&) = delete;
  BlockWindow& operator=(const BlockWindow&) = delete;

  // Whether blocks go through the window: with a pool, or once a thread has
  // called Work. Until then the reader checks each block itself, as a run
  // without workers does.
  bool hasWorkers() const { return hasWorkers_; }

  // The reader's side. Adds `block` and passes every checked block to
  // `publish`, in order; returns once the window is below its bound.
  void Add(WindowBlock block, const Publisher& publish);
  // Returns once every block added is published.
  void Drain(const Publisher& publish);
  // After a failure: blocks not taken are dropped, and the call returns once
  // no thread works on one.
  void Abandon();

  // A worker's side: checks waiting blocks until none is left.
  void Work();
  // Checks waiting blocks and sleeps while there is none, until Close or
  // the window's end.
  void WorkUntilClosed();
  // No more blocks will come: the threads in WorkUntilClosed return.
  void Close();

  bool HasPending() const override { return started_ < entries_.size(); }
  void RunOne(std::unique_lock<std::mutex>& lock) override;

 private:
  struct Entry {
    WindowBlock block;
    std::size_t bytes = 0;
    bool done = false;
  };

  bool Full() const;
  // Publishes the checked blocks at the front, the lock released meanwhile.
  void PublishChecked(std::unique_lock<std::mutex>& lock, const Publisher& publish);

  platform::WorkerPool own_;  // when no pool is given
  platform::WorkerPool& pool_;
  std::atomic<bool> hasWorkers_;
  // In order; the first started_ are taken (or done), the rest wait.
  std::deque<Entry> entries_;
  std::size_t started_ = 0;
  std::size_t bytes_ = 0;
  bool closed_ = false;
  std::size_t workers_ = 0;
};

}  // namespace qve
