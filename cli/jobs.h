// SPDX-License-Identifier: Apache-2.0
// The one way the commands run work on threads: jobs numbered 0 to count-1,
// taken in order by up to `threads` threads, the calling one among them.
#pragma once

#include <cstddef>
#include <functional>

namespace qve::cli {

// Runs `job` for each number until all are done or a job gives false, after
// which no thread takes another (the ones running finish). Returns once
// every thread has; an exception a job throws is passed on then, the others
// stopping as after false.
void RunJobs(std::size_t count, unsigned threads, const std::function<bool(std::size_t)>& job);

}  // namespace qve::cli
