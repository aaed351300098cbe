// SPDX-License-Identifier: Apache-2.0
// A pool of worker threads that the host provides. The library starts no
// thread of its own, so the host calls Work on each thread it wants to give.
// A worker runs pending work from every attached item until Shutdown. Any
// number of workers and items may share one pool. An item's owner runs what
// no worker took, so the results never depend on how many workers there are.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <functional>
#include <mutex>
#include <vector>

namespace qve::platform {

// Work that workers run one piece at a time. Both calls are made with the
// pool's lock held.
class WorkItem {
 public:
  virtual bool HasPending() const = 0;
  // Runs one piece with the lock released meanwhile; never throws.
  virtual void RunOne(std::unique_lock<std::mutex>& lock) = 0;

 protected:
  ~WorkItem() = default;
};

class WorkerPool {
 public:
  // A worker's loop: runs pending pieces of the attached items until Shutdown.
  void Work();
  void Shutdown();

  // An item is visible to the workers from Attach to Detach. Detach is
  // called with the lock held, once no worker runs a piece of the item, so
  // it never waits.
  void Attach(WorkItem& item);
  void Detach(WorkItem& item, const std::unique_lock<std::mutex>& held);

  std::mutex& lock() { return lock_; }
  // Called with the lock held after any change a waiting thread may need:
  // new work, a piece done, or the shutdown.
  void Changed() { changed_.notify_all(); }
  void Wait(std::unique_lock<std::mutex>& lock) { changed_.wait(lock); }

 private:
  std::mutex lock_;
  std::condition_variable changed_;
  std::vector<WorkItem*> items_;
  bool shutDown_ = false;
};

// Runs task(0) to task(count - 1) on the calling thread and on any idle
// workers of `pool` (may be null), and returns once all are done. It then
// rethrows the first exception a task threw; tasks not yet started are
// skipped after a failure.
void ForEach(WorkerPool* pool, std::size_t count, const std::function<void(std::size_t)>& task);

}  // namespace qve::platform
