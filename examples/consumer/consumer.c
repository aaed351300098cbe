// SPDX-License-Identifier: Apache-2.0
/* A host program that uses only the exported C functions of libqvehelper:
 * decrypts a container, verifies a folder of signed logs and prints every
 * record of the report.
 *
 *   consumer CONTAINER OUTPUT LOG_FOLDER
 */
#include <QVEHelper.h>
#include <locale.h>
#include <stdio.h>
#include <stdlib.h>
#include <wchar.h>

static wchar_t* widen(const char* text) {
  size_t length = mbstowcs(NULL, text, 0);
  if (length == (size_t)-1) return NULL;
  wchar_t* wide = malloc((length + 1) * sizeof *wide);
  if (wide != NULL) mbstowcs(wide, text, length + 1);
  return wide;
}

static const char* verdict_name(uint32_t verdict) {
  switch (verdict) {
    case QVE_FILE_OK:
      return "FileOk";
    case QVE_FILE_UNSIGNED:
      return "FileUnsigned";
    case QVE_FILE_CHAIN_BREAK:
      return "FileChainBreak";
    case QVE_FILE_INVALID:
      return "FileInvalid";
    default:
      return "?";
  }
}

int main(int argc, char** argv) {
  if (argc != 4) {
    fprintf(stderr, "usage: %s CONTAINER OUTPUT LOG_FOLDER\n", argv[0]);
    return 64;
  }
  setlocale(LC_ALL, "");
  wchar_t* container = widen(argv[1]);
  wchar_t* output = widen(argv[2]);
  wchar_t* folder = widen(argv[3]);
  if (container == NULL || output == NULL || folder == NULL) {
    fprintf(stderr, "arguments are not valid text in this locale\n");
    return 64;
  }

  int32_t decrypted = DecryptQveFile(container, output);
  printf("decrypt: %d%s\n", decrypted, decrypted == QVE_DECRYPT_SUCCESS ? " (Success)" : "");

  QVE_VerificationReport* report = CreateVerificationReport();
  AddFileInFolderToVerificationReport(report, folder);
  uint32_t result = VerifyReport(report, true);
  printf("verify: result %u, %u files, %u bad\n", result, TotalFilesInVerificationReport(report),
         NumberOfBadFilesInVerificationReport(report));
  size_t count = GetFileReportCountInVerificationReport(report);
  for (uint32_t i = 0; i < count; ++i) {
    printf("  %-14s %ls\n", verdict_name(GetFileReportVerditInVerificationReport(report, i)),
           GetFileReportNameInVerificationReport(report, i));
  }
  DeleteVerificationReport(report);

  free(container);
  free(output);
  free(folder);
  return decrypted == QVE_DECRYPT_SUCCESS && result == QVE_REPORT_OK ? 0 : 1;
}
