// SPDX-License-Identifier: Apache-2.0
// The report's C interface: each function forwards to one virtual operation.
// A null report or path and an index past the count are outside the
// contract, yet a host's slip must not end its process: they do nothing and
// give 0, or for a verdict or result QVE_NO_RESULT, which no caller can take
// for a good one. A deleted report cannot be told from a live one without global
// state, so that stays the caller's to avoid.
#include "qvehelper/contract.h"

#include <string>

using QVE_Helper::IVerificationReport;

namespace {

bool HasRecord(IVerificationReport* report, uint32_t index) {
  return report != nullptr && index < report->GetFileReportCount();
}

}  // namespace

extern "C" {

QVE_VerificationReport* CreateVerificationReport(void) { return IVerificationReport::Create(); }

void DeleteVerificationReport(QVE_VerificationReport* report) {
  IVerificationReport::Delete(report);
}

void ClearVerificationReport(QVE_VerificationReport* report) {
  if (report != nullptr) report->Clear();
}

void AddFileToVerificationReport(QVE_VerificationReport* report, const wchar_t* path) {
  if (report != nullptr && path != nullptr) report->AddFile(std::wstring(path));
}

void AddFileInFolderToVerificationReport(QVE_VerificationReport* report, const wchar_t* folder) {
  if (report != nullptr && folder != nullptr) report->AddFileInFolder(std::wstring(folder));
}

uint32_t VerifyReport(QVE_VerificationReport* report, bool includeOkFiles) {
  return report != nullptr ? report->Verify(includeOkFiles) : QVE_NO_RESULT;
}

uint32_t TotalFilesInVerificationReport(QVE_VerificationReport* report) {
  return report != nullptr ? report->TotalFiles() : 0;
}

uint32_t NumberOfBadFilesInVerificationReport(QVE_VerificationReport* report) {
  return report != nullptr ? report->NumberOfBadFiles() : 0;
}

size_t GetFileReportCountInVerificationReport(QVE_VerificationReport* report) {
  return report != nullptr ? report->GetFileReportCount() : 0;
}

const wchar_t* GetFileReportNameInVerificationReport(QVE_VerificationReport* report,
                                                     uint32_t index) {
  return HasRecord(report, index) ? report->GetFileReport(index).name.c_str() : nullptr;
}

uint32_t GetFileReportVerditInVerificationReport(QVE_VerificationReport* report, uint32_t index) {
  return HasRecord(report, index) ? report->GetFileReport(index).verdict : QVE_NO_RESULT;
}

}  // extern "C"
