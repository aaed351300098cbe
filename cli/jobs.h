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

// Runs `job` for each number until all are done or a job gives false, after
// which no thread takes another (the ones running finish). Returns once
// every thread has; an exception a job throws is passed on then, the others
// stopping as after false.
// With `loan`, a thread that finds no job left is lent to the jobs still
// running through it (their decryptions' digests), until all are done: the
// `threads` are a budget for the jobs and their second threads together.
void RunJobs(std::size_t count, unsigned threads, const std::function<bool(std::size_t)>& job,
             qve_loan* loan = nullptr);

// A loan for RunJobs to lend its threads to, when there is more than one;
// else none, as when the library could not make one: the work keeps to
// its thread.
using Loan = std::unique_ptr<qve_loan, decltype(&qve_loan_free)>;
Loan LoanFor(unsigned threads);

}  // namespace qve::cli
