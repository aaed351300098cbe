// SPDX-License-Identifier: Apache-2.0
// What every call of the extension interface does around its work, the
// container calls and the run's alike: checks its options, turns paths into
// the library's, keeps why it failed for qve_last_problem and
// qve_last_message, and lets no exception out.
#pragma once

#include <cstddef>
#include <new>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>

#include "QVEHelper.h"
#include "decrypt/decrypt_to_place.h"
#include "decrypt/plaintext_digest.h"
#include "platform/worker_pool.h"

namespace qve::interface {

// Kept for qve_last_problem and the others until the next call on the
// thread that sets them.
void Remember(const Problem& problem) noexcept;

// Remembers why a call fails and gives its code, for `return Fail(...)`.
int Fail(int code, std::string_view message, const std::wstring& path = {},
         std::string_view reason = {}, int kind = QVE_PROBLEM_NONE) noexcept;

// An option struct the caller sized for this version, or for an older one
// that ended before a member added since (each `older` its offset).
template <typename Options, typename... Older>
bool Sized(const Options* options, Older... older) {
  return options != nullptr &&
         (options->size == sizeof(Options) || ((options->size == std::size_t(older)) || ...));
}

// Why options fail Sized, in words.
template <typename Options>
const char* Unsized(const Options* options) {
  return options == nullptr ? "a NULL options struct" : "options of another size";
}

// The worker pool behind the options' qve_loan; none when the caller's
// struct ends before that member.
template <typename Options>
platform::WorkerPool* PoolOf(const Options& options) {
  return options.size == sizeof(Options) && options.loan != nullptr ? &options.loan->pool : nullptr;
}

std::optional<std::wstring> PathOf(const char* path);
std::optional<std::wstring> PathOf(const wchar_t* path);

inline constexpr std::string_view kInvalidPath = "a path with no form on this system";
// Narrow (char) paths are UTF-8 whatever the code page. Text in another
// encoding is no path at all, and the message says so plainly.
inline constexpr std::string_view kNotUtf8 =
    "a path that is not UTF-8 (the narrow functions take UTF-8 whatever the code page)";
inline std::string_view NoPath(const char*) { return kNotUtf8; }
inline std::string_view NoPath(const wchar_t*) { return kInvalidPath; }

Outcome Misuse();
Outcome InvalidPath(std::string_view why = kInvalidPath);

// A call that gives an Outcome (the container calls) has it remembered
// whatever it is, as 1.0 did; one that gives a code has reported its own
// failure through Fail.
inline int Settle(const Outcome& outcome) noexcept {
  Remember(outcome.problem);
  return outcome.code;
}
inline int Settle(int code) noexcept { return code; }

// Runs `call` as one interface call. Memory running out is
// QVE_ERROR_NO_MEMORY, a path with no narrow form QVE_ERROR_INVALID_PATH;
// any other exception is `otherwise`: for a call that does cryptography it
// can only be OpenSSL refusing an operation, QVE_ERROR_CRYPTO; a call that
// does none keeps the code 1.0 gave it, its words saying what it was.
template <typename Call>
int Guarded(Call&& call, int otherwise = QVE_ERROR_CRYPTO) noexcept {
  const int kind = otherwise == QVE_ERROR_CRYPTO ? QVE_PROBLEM_CRYPTO : QVE_PROBLEM_NONE;
  try {
    return Settle(call());
  } catch (const std::bad_alloc&) {
    return Fail(QVE_ERROR_NO_MEMORY, "memory ran out");
  } catch (const std::invalid_argument&) {
    return Fail(QVE_ERROR_INVALID_PATH, kInvalidPath);
  } catch (const std::exception& e) {
    return Fail(otherwise, e.what(), {}, {}, kind);
  } catch (...) {
    return Fail(otherwise, "the call failed", {}, {}, kind);
  }
}

}  // namespace qve::interface

// The C interface's handle for a worker pool.
struct qve_loan {
  qve::platform::WorkerPool pool;
};
