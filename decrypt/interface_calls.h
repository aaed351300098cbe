// SPDX-License-Identifier: Apache-2.0
// What every container call of the extension interface does around its
// work: checks its arguments, turns paths into the library's, keeps why it
// ended as it did for qve_last_problem, and lets no exception out.
#pragma once

#include <cstddef>
#include <new>
#include <optional>
#include <string>

#include "QVEHelper.h"
#include "decrypt/decrypt_to_place.h"
#include "decrypt/plaintext_digest.h"

namespace qve::interface {

// Kept for qve_last_problem and the others until the next call on the thread.
void Remember(const Problem& problem) noexcept;

// An option struct the caller sized for this version, or for an older one
// that ended before a member added since (`older`, its offset).
template <typename Options>
bool Sized(const Options* options, std::size_t older = sizeof(Options)) {
  return options != nullptr && (options->size == sizeof(Options) || options->size == older);
}

// The options' loan; none in a struct sized before it.
template <typename Options>
platform::Loan* LoanOf(const Options& options) {
  return options.size == sizeof(Options) && options.loan != nullptr ? &options.loan->loan : nullptr;
}

std::optional<std::wstring> PathOf(const char* path);
std::optional<std::wstring> PathOf(const wchar_t* path);

Outcome Misuse();
Outcome InvalidPath();

// Runs `call`, which gives an Outcome, as one interface call: its code, its
// problem remembered. Memory running out is QVE_ERROR_NO_MEMORY; any other
// exception can only be OpenSSL refusing an operation, QVE_ERROR_CRYPTO.
template <typename Call>
int Guarded(Call&& call) noexcept {
  try {
    const Outcome outcome = call();
    Remember(outcome.problem);
    return outcome.code;
  } catch (const std::bad_alloc&) {
    Remember({});
    return QVE_ERROR_NO_MEMORY;
  } catch (const std::exception& e) {
    Problem problem{QVE_PROBLEM_CRYPTO, {}, {}, {}};
    try {
      problem.message = e.what();
    } catch (...) {
    }
    Remember(problem);
    return QVE_ERROR_CRYPTO;
  }
}

}  // namespace qve::interface
