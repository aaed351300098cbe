// SPDX-License-Identifier: Apache-2.0
#include "cli/jobs.h"

#include <algorithm>
#include <atomic>
#include <exception>
#include <mutex>
#include <thread>
#include <vector>

namespace qve::cli {

unsigned CoreCount() { return std::max(1u, std::thread::hardware_concurrency()); }

void RunJobs(std::size_t count, unsigned threads, const std::function<bool(std::size_t)>& job,
             qve_loan* pool) {
  const std::size_t started = std::max<std::size_t>(
      1, pool != nullptr ? std::max(threads, 1u) : std::min<std::size_t>(threads, count));
  // Threads still taking jobs; the last one out shuts the pool down.
  std::atomic<std::size_t> taking{started};
  std::atomic<std::size_t> next{0};
  std::atomic<bool> stop{false};
  std::exception_ptr failure;
  std::mutex failureLock;
  const auto work = [&] {
    for (std::size_t i = next++; i < count && !stop; i = next++) {
      try {
        if (!job(i)) stop = true;
      } catch (...) {
        const std::lock_guard<std::mutex> lock(failureLock);
        if (!failure) failure = std::current_exception();
        stop = true;
      }
    }
    if (pool == nullptr) return;
    if (--taking == 0) qve_loan_end(pool);
    qve_loan_work(pool);
  };
  std::vector<std::thread> helpers;
  for (std::size_t i = 1; i < started; ++i) helpers.emplace_back(work);
  work();
  for (std::thread& helper : helpers) helper.join();
  if (failure) std::rethrow_exception(failure);
}

WorkerPool WorkerPoolFor(unsigned threads) {
  qve_loan* pool = nullptr;
  if (threads > 1 && qve_loan_create(&pool) != 0) pool = nullptr;
  return {pool, qve_loan_free};
}

}  // namespace qve::cli
