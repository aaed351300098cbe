// SPDX-License-Identifier: Apache-2.0
/* A host in Microsoft's ABI, as clang or MSVC builds one, with no C runtime
 * at all: its own entry point, the three Windows calls it makes declared
 * here, and QVEHelper.h on freestanding headers alone. It has no manifest,
 * so its code page is the system's. Run in a folder that holds the sample
 * container as "данные.qves" and two copies of the sample chain named in
 * upper case, the second one's SYSTEM.LOG tampered with: "日志" (with an
 * empty subfolder "журнал") and "😀". Prints a line per check; exits 0 when
 * all hold. */
#include <QVEHelper.h>

__declspec(dllimport) void* GetStdHandle(unsigned long which);
__declspec(dllimport) int WriteFile(void* file, const void* bytes, unsigned long size,
                                    unsigned long* written, void* overlapped);
__declspec(dllimport) void ExitProcess(unsigned int status);

static void* out;
static unsigned int failures;

static void Say(const char* text) {
  unsigned long length = 0, written = 0;
  while (text[length] != 0) ++length;
  WriteFile(out, text, length, &written, NULL);
}

static void Check(bool holds, const char* what) {
  Say(holds ? "ok    " : "FAILED ");
  Say(what);
  Say("\r\n");
  if (!holds) ++failures;
}

static bool Same(const wchar_t* a, const wchar_t* b) {
  if (a == NULL) return false;
  while (*a != 0 && *a == *b) ++a, ++b;
  return *a == *b;
}

static bool Record(QVE_VerificationReport* report, uint32_t index, const wchar_t* name,
                   uint32_t verdict) {
  return Same(GetFileReportNameInVerificationReport(report, index), name) &&
         GetFileReportVerditInVerificationReport(report, index) == verdict;
}

static void Run(void) {
  const wchar_t* container = L"\u0434\u0430\u043d\u043d\u044b\u0435.qves";
  Check(DecryptQveFile(container, L"\u5831\u544a\U0001F4C4.txt") == QVE_DECRYPT_SUCCESS,
        "a container named in Cyrillic decrypts to a name in CJK and emoji");

  QVE_VerificationReport* report = CreateVerificationReport();
  Check(GetFileReportNameInVerificationReport(report, 0) == NULL &&
            GetFileReportVerditInVerificationReport(report, 0) == QVE_NO_RESULT,
        "before any run there is no record 0");
  AddFileInFolderToVerificationReport(report, L"\u65e5\u5fd7");
  Check(VerifyReport(report, true) == QVE_REPORT_OK &&
            GetFileReportCountInVerificationReport(report) == 3 &&
            Record(report, 0, L"SYSTEM_1.LOG", QVE_FILE_OK) &&
            Record(report, 1, L"System_2.LOG", QVE_FILE_OK) &&
            Record(report, 2, L"SYSTEM.LOG", QVE_FILE_OK),
        "a chain named in upper case, in a CJK folder beside a Cyrillic one, verifies in order");
  Check(GetFileReportNameInVerificationReport(report, 3) == NULL &&
            GetFileReportVerditInVerificationReport(report, 3) == QVE_NO_RESULT,
        "an index equal to the count gives NULL and QVE_NO_RESULT");

  ClearVerificationReport(report);
  AddFileInFolderToVerificationReport(report, L"\U0001F600");
  Check(VerifyReport(report, false) == QVE_REPORT_SOME_INVALID &&
            TotalFilesInVerificationReport(report) == 3 &&
            NumberOfBadFilesInVerificationReport(report) == 1 &&
            GetFileReportCountInVerificationReport(report) == 1 &&
            Record(report, 0, L"SYSTEM.LOG", QVE_FILE_INVALID),
        "a tampered SYSTEM.LOG in an emoji folder is verified, not passed over");

  AddFileToVerificationReport(report, NULL);
  AddFileInFolderToVerificationReport(report, NULL);
  AddFileToVerificationReport(NULL, container);
  AddFileInFolderToVerificationReport(NULL, L".");
  ClearVerificationReport(NULL);
  Check(VerifyReport(NULL, true) == QVE_NO_RESULT && TotalFilesInVerificationReport(NULL) == 0 &&
            NumberOfBadFilesInVerificationReport(NULL) == 0 &&
            GetFileReportCountInVerificationReport(NULL) == 0 &&
            GetFileReportNameInVerificationReport(NULL, 0) == NULL &&
            GetFileReportVerditInVerificationReport(NULL, 0) == QVE_NO_RESULT,
        "a null report or path ends nothing");
  Check(DecryptQveFile(NULL, L"x.txt") == QVE_DECRYPT_INPUT_OPEN_FAILED &&
            DecryptQveFile(container, NULL) == QVE_DECRYPT_OUTPUT_OPEN_FAILED,
        "a null path is a file that does not open");
  DeleteVerificationReport(report);
  DeleteVerificationReport(NULL);
}

void Start(void) {
  out = GetStdHandle((unsigned long)-11); /* STD_OUTPUT_HANDLE */
  Run();
  ExitProcess(failures == 0 ? 0 : 1);
}
