// SPDX-License-Identifier: Apache-2.0
// The one implementation of QVE_Helper::IVerificationReport.
//
// Error style of report/, the library's edge: what the contract raises leaves
// from here (std::invalid_argument for a path with no narrow form, the
// digest's std::runtime_error, std::bad_alloc) and the report is left as the
// contract says; the qve_ calls catch every exception and return a code.
#pragma once

#include "qvehelper/contract.h"

#include <cstdint>
#include <string>
#include <vector>

#include "verify/details.h"
#include "verify/verify_files.h"

namespace qve {

enum class RunOrder {
  ByName,    // as Verify takes the files
  AsListed,  // in the order they were added
};

// A run's records and counters, a file at a time, from its block counts:
// the one rule by which a verifier's FileCheckResult and a streamed file's
// details become the report's.
struct ReportTally {
  explicit ReportTally(bool includeOkFiles) : includeOkFiles(includeOkFiles) {}
  void Add(const std::wstring& name, const BlockCounts& counts);

  bool includeOkFiles;
  std::uint32_t totalFiles = 0;
  std::uint32_t badFiles = 0;
  std::uint32_t unsignedFiles = 0;
  std::vector<QVE_Helper::FileReport> records;
};

// Tallies each file as it ends, for a run that keeps no FileCheckResult, and
// passes everything on.
class ReportCounter final : public VerifyObserver {
 public:
  ReportCounter(bool includeOkFiles, VerifyObserver& next) : tally(includeOkFiles), next_(next) {}

  void OnFileStart(const FileDetail& file) override { next_.OnFileStart(file); }
  void OnBlock(const FileDetail& file, const BlockDetail& block) override {
    next_.OnBlock(file, block);
  }
  void OnFileEnd(const FileDetail& file) override;

  ReportTally tally;

 private:
  VerifyObserver& next_;
};

class VerificationReport final : public QVE_Helper::IVerificationReport {
 public:
  VerificationReport() = default;
  ~VerificationReport() override = default;

  void Clear() override;
  void AddFile(const std::wstring& path) override;
  void AddFileInFolder(const std::wstring& folder) override;
  std::uint32_t Verify(bool includeOkFiles) override;
  std::uint32_t TotalFiles() override { return totalFiles_; }
  std::uint32_t NumberOfBadFiles() override { return badFiles_; }
  std::size_t GetFileReportCount() override { return fileReports_.size(); }
  QVE_Helper::FileReport& GetFileReport(std::uint32_t index) override {
    return fileReports_[index];
  }

  // A run in steps: the files in the run's order, then, once a
  // ReportCounter has seen them all, its records and counters taken as
  // Verify takes its own; gives the result. Details go to the counter's
  // observer as the run goes instead of growing in the verifier.
  const std::vector<std::wstring>& PrepareRun(RunOrder order);
  std::uint32_t TakeRun(ReportCounter& counter) { return Take(counter.tally); }

  // The paths, in the order of the last run.
  const std::vector<std::wstring>& files() const { return files_; }

 private:
  std::uint32_t Take(ReportTally& tally);

  std::vector<std::wstring> files_;
  std::uint32_t totalFiles_ = 0;
  std::uint32_t badFiles_ = 0;
  std::vector<QVE_Helper::FileReport> fileReports_;
  FileVerifier verifier_;
};

}  // namespace qve
