// SPDX-License-Identifier: Apache-2.0
// The extension interface's decryption and check, and why the last call
// ended as it did.
#include <cstddef>
#include <string>

#include "QVEHelper.h"
#include "api/calls.h"
#include "api/codes.h"
#include "decrypt/decrypt_to_place.h"
#include "format/container_format.h"
#include "platform/output_target.h"
#include "platform/paths.h"
#include "platform/temp_output.h"
#include "platform/utf8.h"

namespace qve::interface {

namespace {

struct LastProblem {
  int kind = QVE_PROBLEM_NONE;
  std::string path, reason, message;
};
thread_local LastProblem last;

DecryptProgress::Report ReportTo(qve_progress_fn progress, void* context) {
  if (progress == nullptr) return {};
  return [progress, context](DecryptStep step, std::uint64_t done, std::uint64_t total) {
    return progress(done, total, StepCode(step), context) == 0;
  };
}

template <typename Char>
int Decrypt(const Char* input, const Char* output, const qve_decrypt_options* options) {
  return Guarded([&] {
    if (input == nullptr || output == nullptr ||
        !Sized(options, offsetof(qve_decrypt_options, loan)))
      return Misuse();
    const auto in = PathOf(input), out = PathOf(output);
    if (!in || !out) return InvalidPath(NoPath(input));
    return DecryptToPlace(
        *in, *out,
        {ReportTo(options->progress, options->context), options->keep_unverified != 0,
         options->read_stream != 0, options->write_directly != 0, PoolOf(*options)});
  });
}

template <typename Char>
int Check(const Char* input, const qve_check_options* options) {
  return Guarded([&] {
    if (input == nullptr || !Sized(options, offsetof(qve_check_options, loan)) ||
        (options->scratch_folder != nullptr && options->scratch_folder_w != nullptr))
      return Misuse();
    const auto in = PathOf(input);
    std::optional<std::wstring> folder;
    if (options->scratch_folder != nullptr) folder = PathOf(options->scratch_folder);
    if (options->scratch_folder_w != nullptr) folder = PathOf(options->scratch_folder_w);
    const bool scratch = options->scratch_folder != nullptr || options->scratch_folder_w != nullptr;
    if (!in || (scratch && !folder)) return InvalidPath(NoPath(input));
    return CheckFile(*in, folder, ReportTo(options->progress, options->context), PoolOf(*options));
  });
}

}  // namespace

void Remember(const Problem& problem) noexcept {
  try {
    last = {problem.kind, platform::ShownText(problem.path), problem.reason, problem.message};
  } catch (...) {
    last = {};  // memory ran out: at least nothing stale
  }
}

int Fail(int code, std::string_view message, const std::wstring& path, std::string_view reason,
         int kind) noexcept {
  try {
    Remember({kind, path, std::string(reason), std::string(message)});
  } catch (...) {
    Remember({});
  }
  return code;
}

std::optional<std::wstring> PathOf(const char* path) { return platform::InterfacePath(path); }
std::optional<std::wstring> PathOf(const wchar_t* path) { return platform::InterfacePath(path); }

Outcome Misuse() {
  return {QVE_ERROR_MISUSE,
          {QVE_PROBLEM_NONE, {}, {}, "a NULL path or options, or options of another size"}};
}

Outcome InvalidPath(std::string_view why) {
  return {QVE_ERROR_INVALID_PATH, {QVE_PROBLEM_NONE, {}, {}, std::string(why)}};
}

}  // namespace qve::interface

using namespace qve::interface;

extern "C" {

int qve_decrypt(const char* input, const char* output, const qve_decrypt_options* options) {
  return Decrypt(input, output, options);
}

int qve_decrypt_w(const wchar_t* input, const wchar_t* output, const qve_decrypt_options* options) {
  return Decrypt(input, output, options);
}

int qve_check(const char* input, const qve_check_options* options) { return Check(input, options); }

int qve_check_w(const wchar_t* input, const qve_check_options* options) {
  return Check(input, options);
}

int qve_loan_create(qve_loan** loan) {
  if (loan == nullptr) return Fail(QVE_ERROR_MISUSE, "a NULL result pointer");
  *loan = new (std::nothrow) qve_loan;
  return *loan == nullptr ? Fail(QVE_ERROR_NO_MEMORY, "memory ran out") : 0;
}

void qve_loan_free(qve_loan* loan) { delete loan; }

int qve_loan_work(qve_loan* loan) {
  if (loan == nullptr) return Fail(QVE_ERROR_MISUSE, "a NULL loan");
  loan->pool.Work();
  return 0;
}

int qve_loan_end(qve_loan* loan) {
  if (loan == nullptr) return Fail(QVE_ERROR_MISUSE, "a NULL loan");
  loan->pool.Shutdown();
  return 0;
}

int qve_last_problem(void) { return last.kind; }
const char* qve_last_problem_path(void) { return last.path.c_str(); }
const char* qve_last_problem_reason(void) { return last.reason.c_str(); }
const char* qve_last_message(void) { return last.message.c_str(); }

int qve_starts_container(const void* bytes, size_t length) {
  if (bytes == nullptr) return 0;
  return qve::StartsWithContainerMagic({static_cast<const std::uint8_t*>(bytes), length}) ? 1 : 0;
}

int qve_remove_temporaries_on_signals(void) {
  qve::platform::TempOutput::RemoveOnSignals();
  return 0;
}

}  // extern "C"
