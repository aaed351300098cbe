// SPDX-License-Identifier: Apache-2.0
// The report's C interface: each function forwards to one virtual operation
// and checks nothing, as callers of the original interface expect.
#include <QVEHelper.h>

#include <string>

using QVE_Helper::IVerificationReport;

extern "C" {

QVE_VerificationReport* CreateVerificationReport(void) { return IVerificationReport::Create(); }

void DeleteVerificationReport(QVE_VerificationReport* report) {
  IVerificationReport::Delete(report);
}

void ClearVerificationReport(QVE_VerificationReport* report) { report->Clear(); }

void AddFileToVerificationReport(QVE_VerificationReport* report, const wchar_t* path) {
  report->AddFile(std::wstring(path));
}

void AddFileInFolderToVerificationReport(QVE_VerificationReport* report, const wchar_t* folder) {
  report->AddFileInFolder(std::wstring(folder));
}

uint32_t VerifyReport(QVE_VerificationReport* report, bool includeOkFiles) {
  return report->Verify(includeOkFiles);
}

uint32_t TotalFilesInVerificationReport(QVE_VerificationReport* report) {
  return report->TotalFiles();
}

uint32_t NumberOfBadFilesInVerificationReport(QVE_VerificationReport* report) {
  return report->NumberOfBadFiles();
}

size_t GetFileReportCountInVerificationReport(QVE_VerificationReport* report) {
  return report->GetFileReportCount();
}

const wchar_t* GetFileReportNameInVerificationReport(QVE_VerificationReport* report,
                                                     uint32_t index) {
  return report->GetFileReport(index).name.c_str();
}

uint32_t GetFileReportVerditInVerificationReport(QVE_VerificationReport* report, uint32_t index) {
  return report->GetFileReport(index).verdict;
}

}  // extern "C"
