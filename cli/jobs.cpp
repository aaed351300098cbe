// SPDX-License-Identifier: Apache-2.0
#include "cli/jobs.h"

#include <algorithm>
#include <atomic>
#include <exception>
#include <mutex>
#include <thread>
#include <vector>

namespace qve::cli {

void RunJobs(std::size_t count, unsigned threads, const std::function<bool(std::size_t)>& job) {
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
  };
  std::vector<std::thread> helpers;
  for (std::size_t i = 1; i < std::min<std::size_t>(std::max(threads, 1u), count); ++i)
    helpers.emplace_back(work);
  work();
  for (std::thread& helper : helpers) helper.join();
  if (failure) std::rethrow_exception(failure);
}

}  // namespace qve::cli
