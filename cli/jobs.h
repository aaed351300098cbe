// SPDX-License-Identifier: Apache-2.0
// The one way the commands run work on threads: jobs numbered 0 to count-1,
// taken in order by up to `threads` threads, the calling one among them.
#pragma once

#include <cstddef>
#include <functional>
#include <thread>
#include <vector>

#include "QVEHelper.h"

namespace qve::cli {

// The default of -j: the cores.
unsigned CoreCount();

// Runs `job` for each number until all are done or a job gives false, after
// which no thread takes another (the ones running finish). Returns once
// every thread has; an exception a job throws is passed on then, the others
// stopping as after false.
// With `loan`, a thread that finds no job left is lent to the jobs still
// running through it (their decryptions' digests), until all are done: the
// `threads` are a budget for the jobs and their second threads together.
void RunJobs(std::size_t count, unsigned threads, const std::function<bool(std::size_t)>& job,
             qve_loan* loan = nullptr);

// A loan with `count` threads of this command working for it (or none: for
// RunJobs to lend its own), from construction to destruction. loan() is
// null when the library could not make one: the work keeps to one thread.
class LentThreads {
 public:
  explicit LentThreads(unsigned count);
  ~LentThreads();
  LentThreads(const LentThreads&) = delete;
  LentThreads& operator=(const LentThreads&) = delete;

  qve_loan* loan() const { return loan_; }

 private:
  void Release();

  qve_loan* loan_ = nullptr;
  std::vector<std::thread> threads_;
};

}  // namespace qve::cli
