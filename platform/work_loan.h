// SPDX-License-Identifier: Apache-2.0
// Threads a host lends to the library's work: the library starts no thread,
// but a thread lent to a loan takes pending work from every job that joined
// it and waits for more, until the loan ends. Any number of threads and jobs
// may share one loan; a job's owner takes what no lent thread took, so the
// results never depend on the lending.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <functional>
#include <mutex>
#include <vector>

namespace qve::platform {

// Work that lent threads may take a piece at a time. Both calls come with
// the loan's lock held.
class LoanJob {
 public:
  virtual bool Takeable() const = 0;
  // Does one piece of the work, the lock released meanwhile; never throws.
  virtual void TakeOne(std::unique_lock<std::mutex>& lock) = 0;

 protected:
  ~LoanJob() = default;
};

class Loan {
 public:
  // A lent thread's work: what the joined jobs have pending, until End.
  void Work();
  void End();

  // A job takes part from Join to Leave. Leave comes with the lock held and
  // once no lent thread works on the job: it waits for nothing.
  void Join(LoanJob& job);
  void Leave(LoanJob& job, const std::unique_lock<std::mutex>& held);

  std::mutex& lock() { return lock_; }
  // Called with the lock held, after any change a waiting thread may await:
  // work pending, a piece done, the loan ended.
  void Changed() { changed_.notify_all(); }
  void Wait(std::unique_lock<std::mutex>& lock) { changed_.wait(lock); }

 private:
  std::mutex lock_;
  std::condition_variable changed_;
  std::vector<LoanJob*> jobs_;
  bool ended_ = false;
};

// Runs task(0) to task(count - 1) on the calling thread and on the threads
// of `loan` (may be null) free meanwhile, and returns once all are done; then
// throws what a task threw first, the tasks not begun skipped.
void ForEach(Loan* loan, std::size_t count, const std::function<void(std::size_t)>& task);

}  // namespace qve::platform
