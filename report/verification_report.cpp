#include "report/verification_report.h"

#include "platform/folder_walk.h"
#include "platform/paths.h"
#include "report/system_log_name.h"
#include "report/verdicts.h"

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

std::uint32_t VerificationReport::Verify(bool includeOkFiles) {
  fileReports_.clear();
  totalFiles_ = 0;
  badFiles_ = 0;
  VerifyFiles(verifier_, files_);
  std::uint32_t unsignedFiles = 0;
  for (const FileCheckResult& result : verifier_.results) {
    ++totalFiles_;
    const QVE_Helper::FileVerdict verdict = FileVerdictOf(result);
    if (verdict == QVE_Helper::FileChainBreak || verdict == QVE_Helper::FileInvalid) ++badFiles_;
    if (verdict == QVE_Helper::FileUnsigned) ++unsignedFiles;
    if (verdict != QVE_Helper::FileOk || includeOkFiles) {
      fileReports_.push_back({result.fileName, verdict});
    }
  }
  return ReportResultOf(totalFiles_, badFiles_, unsignedFiles);
}

}  // namespace qve
