// SPDX-License-Identifier: Apache-2.0
// The one way the commands run work on threads: jobs numbered 0 to count-1,
// taken in order by up to `threads` threads, the calling one among them.
#pragma once

#include <cstddef>
#include <functional>
#include <memory>

#include "QVEHelper.h"

namespace qve::cli {

// The default of -j: the cores.
unsigned CoreCount();

// Runs `job` for each number until all are done or a job returns false,
// after which no thread starts another (running ones finish). Returns once
// every thread has finished, then rethrows the first exception a job threw;
// an exception stops the others as false does.
// With `pool`, a thread that finds no job left becomes a worker of the pool
// for the jobs still running (their decryptions' digests) until all are
// done: `threads` is the budget for the jobs and their workers together.
void RunJobs(std::size_t count, unsigned threads, const std::function<bool(std::size_t)>& job,
             qve_loan* pool = nullptr);

// The library's worker pool for RunJobs when there is more than one thread.
// None otherwise, or when the library could not make one: then each job
// runs on its own thread alone.
using WorkerPool = std::unique_ptr<qve_loan, decltype(&qve_loan_free)>;
WorkerPool WorkerPoolFor(unsigned threads);

}  // namespace qve::cli
