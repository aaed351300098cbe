// SPDX-License-Identifier: Apache-2.0
#include "report/verification_report.h"

#include "platform/files.h"
#include "platform/folder_walk.h"
#include "platform/paths.h"
#include "report/verdicts.h"
#include "verify/system_log_name.h"

namespace QVE_Helper {

// The exported class: the only way to make and destroy a report.
IVerificationReport* IVerificationReport::Create() { return new qve::VerificationReport(); }

void IVerificationReport::Delete(IVerificationReport* report) { delete report; }

IVerificationReport::IVerificationReport() = default;

// The interface holds no state, so a copy has nothing to take over.
IVerificationReport::IVerificationReport(const IVerificationReport&) {}

IVerificationReport& IVerificationReport::operator=(const IVerificationReport&) { return *this; }

IVerificationReport::~IVerificationReport() = default;

}  // namespace QVE_Helper

namespace qve {

void VerificationReport::Clear() {
  files_.clear();
  fileReports_.clear();
  verifier_.results.clear();
  totalFiles_ = 0;
  badFiles_ = 0;
}

void VerificationReport::AddFile(const std::wstring& path) {
  files_.push_back(platform::ReportPath(path));
}

// Silent: what the walk passes over is not the caller's business here.
void VerificationReport::AddFileInFolder(const std::wstring& folder) {
  platform::WalkFolder(platform::ReportPath(folder),
                       [this](const std::wstring& path, const std::wstring& name) {
                         if (IsSystemLogName(name)) files_.push_back(path);
                       });
}

// As the contract has it: the verifier checks every file, and its results
// become the records.
std::uint32_t VerificationReport::Verify(bool includeOkFiles) {
  // VerifyFiles puts the files in name order, once.
  PrepareRun(RunOrder::AsListed);
  VerifyFiles(verifier_, files_);
  ReportTally tally(includeOkFiles);
  for (const FileCheckResult& result : verifier_.results) tally.Add(result.fileName, result);
  return Take(tally);
}

void ReportTally::Add(const std::wstring& name, const BlockCounts& counts) {
  ++totalFiles;
  const QVE_Helper::FileVerdict verdict = FileVerdictOf(counts);
  if (IsBadFile(verdict)) ++badFiles;
  if (verdict == QVE_Helper::FileUnsigned) ++unsignedFiles;
  if (IsListed(verdict, includeOkFiles)) records.push_back({name, verdict});
}

void ReportCounter::OnFileEnd(const FileDetail& file) {
  tally.Add(file.name, file.counts);
  next_.OnFileEnd(file);
}

const std::vector<std::wstring>& VerificationReport::PrepareRun(RunOrder order) {
  fileReports_.clear();
  totalFiles_ = 0;
  badFiles_ = 0;
  verifier_.results.clear();
  // A file named in another case than the one it is stored in is ordered and
  // reported under its own name (on Windows; elsewhere a name is as stored).
  for (auto& path : files_) path = platform::NameAsStored(path);
  if (order == RunOrder::ByName) SortByFileName(files_);
  return files_;
}

std::uint32_t VerificationReport::Take(ReportTally& tally) {
  fileReports_ = std::move(tally.records);
  totalFiles_ = tally.totalFiles;
  badFiles_ = tally.badFiles;
  return ReportResultOf(totalFiles_, badFiles_, tally.unsignedFiles);
}

}  // namespace qve
