// SPDX-License-Identifier: Apache-2.0
/* A host in Microsoft's ABI with no C runtime and no manifest (so the system's
 * code page), as scripts/test-windows builds it: run beside the sample as
 * "данные.qves" and the sample chain named in upper case in "日志" and, its
 * SYSTEM.LOG tampered with, in "😀". Prints a line per check; exits 0 when all
 * hold. */
#include <QVEHelper.h>

__declspec(dllimport) void* GetStdHandle(unsigned long which);
__declspec(dllimport) int WriteFile(void* file, const void* bytes, unsigned long size,
                                    unsigned long* written, void* overlapped);
__declspec(dllimport) void ExitProcess(unsigned int status);
__declspec(dllimport) void* CreateFileW(const wchar_t* name, unsigned long access,
                                        unsigned long share, void* security,
                                        unsigned long disposition, unsigned long flags,
                                        void* template_file);
__declspec(dllimport) int CloseHandle(void* handle);
__declspec(dllimport) int CopyFileW(const wchar_t* from, const wchar_t* to, int fail_if_exists);

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
  failures += !holds;
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

/* A run over `folder` to its end: its status, or the error. Constant data
 * is static, so that nothing calls a memcpy there is none of. */
static const qve_run_options kOptions = QVE_RUN_OPTIONS_INIT;
static int RunStatus(const wchar_t* folder) {
  qve_run* run = NULL;
  if (qve_run_create(&kOptions, &run) != 0) return -100;
  int event = qve_run_add_w(run, folder);
  while (event >= 0 && event != QVE_EVENT_DONE) event = qve_run_next(run);
  const int status = event < 0 ? event : qve_run_status(run);
  qve_run_free(run);
  return status;
}

void Start(void) {
  out = GetStdHandle((unsigned long)-11); /* STD_OUTPUT_HANDLE */
  const wchar_t* container = L"\u0434\u0430\u043d\u043d\u044b\u0435.qves";
  Check(DecryptQveFile(container, L"\u5831\u544a\U0001F4C4.txt") == QVE_DECRYPT_SUCCESS,
        "a container named in Cyrillic decrypts to a name in CJK and emoji");

  QVE_VerificationReport* report = CreateVerificationReport();
  AddFileInFolderToVerificationReport(report, L"\u65e5\u5fd7");
  Check(VerifyReport(report, true) == QVE_REPORT_OK &&
            GetFileReportCountInVerificationReport(report) == 3 &&
            Record(report, 0, L"SYSTEM_1.LOG", QVE_FILE_OK) &&
            Record(report, 1, L"System_2.LOG", QVE_FILE_OK) &&
            Record(report, 2, L"SYSTEM.LOG", QVE_FILE_OK),
        "a chain named in upper case, in a CJK folder beside a Cyrillic one, verifies in order");

  ClearVerificationReport(report);
  AddFileInFolderToVerificationReport(report, L"\U0001F600");
  Check(VerifyReport(report, false) == QVE_REPORT_SOME_INVALID &&
            TotalFilesInVerificationReport(report) == 3 &&
            NumberOfBadFilesInVerificationReport(report) == 1 &&
            GetFileReportCountInVerificationReport(report) == 1 &&
            Record(report, 0, L"SYSTEM.LOG", QVE_FILE_INVALID),
        "a tampered SYSTEM.LOG in an emoji folder is verified, not passed over");

  DeleteVerificationReport(report);

  /* GENERIC_READ, no sharing, OPEN_EXISTING */
  void* held = CreateFileW(L"\u65e5\u5fd7\\SYSTEM.LOG", 0x80000000ul, 0, NULL, 3, 0, NULL);
  Check(held != (void*)-1 && RunStatus(L"\u65e5\u5fd7") == QVE_STATUS_INCOMPLETE,
        "the newest log held open without sharing makes the run Incomplete (6)");
  if (held != (void*)-1) CloseHandle(held);
  Check(RunStatus(L"\u65e5\u5fd7") == QVE_STATUS_OK, "once let go, the same chain is ReportOk");

  /* The name a .NET string may hold: its own file, opened by that very name. */
  static const wchar_t lone[] = {L'x', 0xD800, L'.', L'l', L'o', L'g', 0};
  const bool made = CopyFileW(L"\u65e5\u5fd7\\SYSTEM_1.LOG", lone, 0) != 0;
  report = CreateVerificationReport();
  AddFileToVerificationReport(report, lone);
  const uint32_t result = VerifyReport(report, true);
  Check(GetFileReportCountInVerificationReport(report) == 1 &&
            Record(report, 0, lone, made ? QVE_FILE_OK : QVE_FILE_UNSIGNED) &&
            result == (made ? QVE_REPORT_OK : QVE_REPORT_UNSIGNED),
        "a path with an unpaired surrogate gets a verdict through the C functions");
  DeleteVerificationReport(report);
  qve_run* run = NULL;
  Check(qve_run_create(&kOptions, &run) == 0 &&
            qve_run_add_w(run, lone) == (made ? 0 : QVE_ERROR_NOT_FOUND),
        "qve_run_add_w takes a path with an unpaired surrogate");
  /* "café" in code page 1252: not UTF-8, and said so. */
  Check(qve_run_add(run, "caf\xe9") == QVE_ERROR_INVALID_PATH && qve_run_refusal(run)[0] != 0,
        "narrow text that is not UTF-8 is refused with a reason");
  qve_run_free(run);
  ExitProcess(failures == 0 ? 0 : 1);
}
