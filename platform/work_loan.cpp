// SPDX-License-Identifier: Apache-2.0
#include "platform/work_loan.h"

#include <algorithm>

namespace qve {

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

}  // namespace qve
