// SPDX-License-Identifier: Apache-2.0
#include "platform/worker_pool.h"

#include <algorithm>
#include <exception>

namespace qve::platform {

void WorkerPool::Work() {
  std::unique_lock<std::mutex> lock(lock_);
  for (;;) {
    const auto item = std::find_if(items_.begin(), items_.end(), [](const WorkItem* candidate) {
      return candidate->HasPending();
    });
    if (item != items_.end()) {
      (*item)->RunOne(lock);
    } else if (shutDown_) {
      return;
    } else {
      changed_.wait(lock);
    }
  }
}

void WorkerPool::Shutdown() {
  const std::lock_guard<std::mutex> lock(lock_);
  shutDown_ = true;
  changed_.notify_all();
}

void WorkerPool::Attach(WorkItem& item) {
  const std::lock_guard<std::mutex> lock(lock_);
  items_.push_back(&item);
}

void WorkerPool::Detach(WorkItem& item, const std::unique_lock<std::mutex>&) {
  items_.erase(std::find(items_.begin(), items_.end(), &item));
}

namespace {

class Tasks final : public WorkItem {
 public:
  Tasks(WorkerPool& pool, std::size_t count, const std::function<void(std::size_t)>& task)
      : pool_(pool), count_(count), task_(task) {}

  bool HasPending() const override { return next_ < count_ && !failure_; }
  void RunOne(std::unique_lock<std::mutex>& lock) override {
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
    pool_.Changed();
  }
  bool Running() const { return running_ > 0; }
  const std::exception_ptr& failure() const { return failure_; }

 private:
  WorkerPool& pool_;
  const std::size_t count_;
  const std::function<void(std::size_t)>& task_;
  std::size_t next_ = 0;
  std::size_t running_ = 0;
  std::exception_ptr failure_;
};

}  // namespace

void ForEach(WorkerPool* pool, std::size_t count, const std::function<void(std::size_t)>& task) {
  WorkerPool own;
  WorkerPool& shared = pool != nullptr ? *pool : own;
  Tasks tasks(shared, count, task);
  shared.Attach(tasks);
  std::unique_lock<std::mutex> lock(shared.lock());
  while (tasks.HasPending() || tasks.Running()) {
    if (tasks.HasPending()) {
      tasks.RunOne(lock);
    } else {
      shared.Wait(lock);
    }
  }
  shared.Detach(tasks, lock);
  lock.unlock();
  if (tasks.failure()) std::rethrow_exception(tasks.failure());
}

}  // namespace qve::platform
