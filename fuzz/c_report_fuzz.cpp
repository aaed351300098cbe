// SPDX-License-Identifier: Apache-2.0
// The report's C functions over hostile log files, as a host calls them: the
// files added one by one or found in their folder, verified, read back and
// cleared. The input is split into files as the verify target splits it; its
// first byte also says how they are added. Whatever the files hold, the
// counts agree with the records and a second run gives the same.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <string>
#include <vector>

#include "QVEHelper.h"
#include "format/signed_log_format.h"
#include "fuzz/scratch_files.h"

namespace {

std::wstring Wide(const std::string& path) { return {path.begin(), path.end()}; }

bool IsBad(std::uint32_t verdict) {
  return verdict == QVE_FILE_CHAIN_BREAK || verdict == QVE_FILE_INVALID;
}

// The slips a host may make are no crash and no result.
void Slips() {
  if (VerifyReport(nullptr, true) != QVE_NO_RESULT ||
      TotalFilesInVerificationReport(nullptr) != 0 ||
      NumberOfBadFilesInVerificationReport(nullptr) != 0 ||
      GetFileReportCountInVerificationReport(nullptr) != 0 ||
      GetFileReportNameInVerificationReport(nullptr, 0) != nullptr ||
      GetFileReportVerditInVerificationReport(nullptr, 0) != QVE_NO_RESULT)
    std::abort();
  ClearVerificationReport(nullptr);
  AddFileToVerificationReport(nullptr, L"system.log");
  AddFileInFolderToVerificationReport(nullptr, L".");
  DeleteVerificationReport(nullptr);
}

// The entry points beside the report, with codes and keys from the input.
void Names(const std::uint8_t* data) {
  const int code = static_cast<std::int8_t>(data[1]);
  // Every kind of result, each code near its range and the input's.
  for (int of = 0; of <= QVE_RESULT_OF_BLOCK + 1; ++of) {
    if (qve_result_name(of, code) == nullptr || qve_result_name(of, data[2]) == nullptr)
      std::abort();
    for (int known = -16; known <= 16; ++known)
      if (qve_result_name(of, known) == nullptr) std::abort();
  }
  std::uint8_t id[4], sha256[32];
  const int key = data[2] % 4 + QVE_KEY_DECRYPTION - 1;
  const int identity = qve_key_identity(key, id, sha256);
  if ((identity == 0) != (key == QVE_KEY_DECRYPTION || key == QVE_KEY_VERIFICATION)) std::abort();
  if (qve_key_identity(QVE_KEY_DECRYPTION, nullptr, sha256) != QVE_ERROR_MISUSE) std::abort();
  if (qve_version() == nullptr || qve_crypto_library_version() == nullptr ||
      qve_development_keys() > 1 || qve_version_number() != QVE_VERSION_NUMBER ||
      qve_has("run-work-wait") != 1 || qve_has(nullptr) != 0)
    std::abort();
  // Any bytes are a name here, or none; never a crash. Three are no feature.
  const std::string bytes(reinterpret_cast<const char*>(data), 3);
  if (qve_has(bytes.c_str()) != 0) std::abort();
  if (qve_path_w(nullptr) != nullptr) std::abort();
  if (const wchar_t* wide = qve_path_w(bytes.c_str())) (void)std::wcslen(wide);
}

struct Run {
  std::uint32_t result, total, bad;
  std::vector<std::pair<std::wstring, std::uint32_t>> records;
  bool operator==(const Run&) const = default;
};

Run Verify(QVE_VerificationReport* report, bool includeOk, std::uint32_t files) {
  Run run{VerifyReport(report, includeOk),
          TotalFilesInVerificationReport(report),
          NumberOfBadFilesInVerificationReport(report),
          {}};
  if (run.result > QVE_REPORT_ALL_INVALID || run.total != files || run.bad > run.total)
    std::abort();
  // The format's name of the result is the interface's.
  if (std::strcmp(qve::ReportResultName(run.result),
                  qve_result_name(QVE_RESULT_OF_RUN, int(run.result))) != 0)
    std::abort();
  const std::size_t count = GetFileReportCountInVerificationReport(report);
  if (count > run.total || (includeOk && count != run.total)) std::abort();
  std::uint32_t bad = 0;
  for (std::uint32_t i = 0; i < count; ++i) {
    const wchar_t* name = GetFileReportNameInVerificationReport(report, i);
    const std::uint32_t verdict = GetFileReportVerditInVerificationReport(report, i);
    if (name == nullptr || verdict > QVE_FILE_INVALID || (!includeOk && verdict == QVE_FILE_OK))
      std::abort();
    bad += IsBad(verdict);
    run.records.emplace_back(name, verdict);
  }
  const auto past = static_cast<std::uint32_t>(count);
  if (GetFileReportNameInVerificationReport(report, past) != nullptr ||
      GetFileReportVerditInVerificationReport(report, past) != QVE_NO_RESULT)
    std::abort();
  if (bad != run.bad) std::abort();
  if ((run.result == QVE_REPORT_ALL_INVALID) != (run.bad > 0 && run.bad == run.total) ||
      (run.result == QVE_REPORT_SOME_INVALID) != (run.bad > 0 && run.bad < run.total))
    std::abort();
  return run;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 3) return 0;
  static const std::string folder = [] {
    std::string name = qve::fuzz::ScratchFolder("c-report");
    qve::fuzz::WriteBytes(name + "/notes.txt", nullptr, 0);  // no log: the walk passes it over
    return name;
  }();
  static const char* const kNames[] = {"System_1.log", "System_2.log", "system.log"};
  Slips();
  Names(data);

  const std::size_t fileCount = 1 + data[0] % 3;
  const bool includeOk = (data[0] / 3) & 1;
  const bool byFolder = (data[0] / 6) & 1;
  const bool missing = (data[0] / 12) & 1;
  const std::vector<std::string> written =
      qve::fuzz::WriteCutInto(folder, {kNames + 3 - fileCount, kNames + 3}, data, size);

  for (const auto& path : written) {
    const wchar_t* wide = qve_path_w(path.c_str());
    if (wide == nullptr || Wide(path) != wide) std::abort();
  }

  QVE_VerificationReport* report = CreateVerificationReport();
  if (report == nullptr) std::abort();
  std::uint32_t files = static_cast<std::uint32_t>(fileCount);
  if (byFolder) {
    AddFileInFolderToVerificationReport(report, Wide(folder).c_str());
  } else {
    // Backwards: the report puts them in the order of their names.
    for (auto path = written.rbegin(); path != written.rend(); ++path)
      AddFileToVerificationReport(report, Wide(*path).c_str());
  }
  if (missing) {
    // A file that is gone is a verdict, not a fault.
    AddFileToVerificationReport(report, Wide(folder + "/System_0.log").c_str());
    ++files;
  }
  const Run first = Verify(report, includeOk, files);
  if (!(Verify(report, includeOk, files) == first)) std::abort();
  ClearVerificationReport(report);
  if (TotalFilesInVerificationReport(report) != 0 ||
      GetFileReportCountInVerificationReport(report) != 0)
    std::abort();
  if (VerifyReport(report, true) > QVE_REPORT_ALL_INVALID ||
      TotalFilesInVerificationReport(report) != 0)
    std::abort();
  DeleteVerificationReport(report);
  for (const auto& path : written) std::remove(path.c_str());
  return 0;
}
