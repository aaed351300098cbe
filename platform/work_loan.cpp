// SPDX-License-Identifier: Apache-2.0
#include "platform/work_loan.h"

#include <algorithm>
#include <exception>

namespace qve::platform {

void Loan::Work() {
  std::unique_lock<std::mutex> lock(lock_);
  for (;;) {
    const auto job = std::find_if(jobs_.begin(), jobs_.end(),
                                  [](const LoanJob* job) { return job->Takeable(); });
    if (job != jobs_.end()) {
      (*job)->TakeOne(lock);
    } else if (ended_) {
      return;
    } else {
      changed_.wait(lock);
    }
  }
}

void Loan::End() {
  const std::lock_guard<std::mutex> lock(lock_);
  ended_ = true;
  changed_.notify_all();
}

void Loan::Join(LoanJob& job) {
  const std::lock_guard<std::mutex> lock(lock_);
  jobs_.push_back(&job);
}

void Loan::Leave(LoanJob& job, const std::unique_lock<std::mutex>&) {
  jobs_.erase(std::find(jobs_.begin(), jobs_.end(), &job));
}

namespace {

class Tasks final : public LoanJob {
 public:
  Tasks(Loan& loan, std::size_t count, const std::function<void(std::size_t)>& task)
      : loan_(loan), count_(count), task_(task) {}

  bool Takeable() const override { return next_ < count_ && !failure_; }
  void TakeOne(std::unique_lock<std::mutex>& lock) override {
    const std::size_t i = next_++;
    ++running_;
    lock.unlock();
    std::exception_ptr failure;
    try {
      task_(i);
    } catch (...) {
      failure = std::current_exception();
    }
    lock.lock();
    if (failure && !failure_) failure_ = failure;
    --running_;
    loan_.Changed();
  }
  bool Running() const { return running_ > 0; }
  const std::exception_ptr& failure() const { return failure_; }

 private:
  Loan& loan_;
  const std::size_t count_;
  const std::function<void(std::size_t)>& task_;
  std::size_t next_ = 0;
  std::size_t running_ = 0;
  std::exception_ptr failure_;
};

}  // namespace

void ForEach(Loan* loan, std::size_t count, const std::function<void(std::size_t)>& task) {
  Loan own;
  Loan& shared = loan != nullptr ? *loan : own;
  Tasks tasks(shared, count, task);
  shared.Join(tasks);
  std::unique_lock<std::mutex> lock(shared.lock());
  while (tasks.Takeable() || tasks.Running()) {
    if (tasks.Takeable()) {
      tasks.TakeOne(lock);
    } else {
      shared.Wait(lock);
    }
  }
  shared.Leave(tasks, lock);
  lock.unlock();
  if (tasks.failure()) std::rethrow_exception(tasks.failure());
}

}  // namespace qve::platform
