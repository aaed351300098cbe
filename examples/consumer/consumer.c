// SPDX-License-Identifier: Apache-2.0
/* A host program that uses only the exported C functions of QVEHelper:
 * decrypts a container, verifies a folder of signed logs and prints every
 * record of the report. The calling sequence is the one every host follows:
 * DecryptQveFile once per container; for logs CreateVerificationReport, Add
 * (files or folders), VerifyReport, then the counters and the records by
 * index below the count, and DeleteVerificationReport.
 *
 *   consumer CONTAINER OUTPUT LOG_FOLDER
 *
 * Exits 0 when the container decrypts with a good seal and the logs verify.
 * On Windows (link with shell32) the paths are read from the UTF-16 command
 * line, so names in any script arrive whole whatever the code page, and are
 * printed whole to a console or, as UTF-8, to a file.
 */
#include <QVEHelper.h>
#include <stdio.h>
#include <stdlib.h>
#include <wchar.h>

#ifdef _WIN32
#include <windows.h>
/* After windows.h, which it needs. */
#include <shellapi.h>
#else
#include <locale.h>
#endif

/* Prints a name whole and a line end. printf("%ls") would spell it in the C
 * runtime's locale, "C" by default, which holds no Cyrillic or CJK: on
 * Windows a console takes the UTF-16 itself and a file or pipe gets UTF-8,
 * elsewhere every output gets UTF-8. */
static void print_name_line(const wchar_t* name) {
#ifdef _WIN32
  HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
  DWORD mode = 0, written = 0;
  int length = (int)wcslen(name);
  fflush(stdout);
  if (GetConsoleMode(out, &mode)) {
    WriteConsoleW(out, name, (DWORD)length, &written, NULL);
  } else {
    int size = WideCharToMultiByte(CP_UTF8, 0, name, length, NULL, 0, NULL, NULL);
    char* utf8 = malloc(size > 0 ? (size_t)size : 1);
    if (utf8 != NULL && size > 0) {
      WideCharToMultiByte(CP_UTF8, 0, name, length, utf8, size, NULL, NULL);
      fwrite(utf8, 1, (size_t)size, stdout);
    }
    free(utf8);
  }
  putchar('\n');
#else
  /* A name on Linux is UTF-8 bytes whatever the locale: give them back as
   * they are, which "%ls" cannot in the "C" locale of a service. */
  static const int lead[] = {0, 0xC0, 0xE0, 0xF0};
  for (; *name != L'\0'; ++name) {
    unsigned long c = (unsigned long)*name;
    if (c < 0x80) {
      putchar((int)c);
      continue;
    }
    int tail = c < 0x800 ? 1 : c < 0x10000 ? 2 : 3;
    putchar(lead[tail] | (int)(c >> (6 * tail)));
    while (tail-- > 0) putchar(0x80 | (int)((c >> (6 * tail)) & 0x3F));
  }
  putchar('\n');
#endif
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

/* Verifies every system log below `folder` as one chain and prints a line per
 * record; the result is a QVE_REPORT_* value. */
static uint32_t verify_folder(const wchar_t* folder) {
  QVE_VerificationReport* report = CreateVerificationReport();
  AddFileInFolderToVerificationReport(report, folder);
  uint32_t result = VerifyReport(report, true);
  printf("verify: result %u, %u files, %u bad\n", result, TotalFilesInVerificationReport(report),
         NumberOfBadFilesInVerificationReport(report));
  size_t count = GetFileReportCountInVerificationReport(report);
  for (uint32_t i = 0; i < count; ++i) {
    /* The name belongs to the report: read it before the next VerifyReport,
     * Clear or Delete, and never free it. */
    printf("  %-14s ", verdict_name(GetFileReportVerditInVerificationReport(report, i)));
    print_name_line(GetFileReportNameInVerificationReport(report, i));
  }
  DeleteVerificationReport(report);
  return result;
}

static int run(const wchar_t* container, const wchar_t* output, const wchar_t* folder) {
  int32_t decrypted = DecryptQveFile(container, output);
  printf("decrypt: %d%s\n", decrypted, decrypted == QVE_DECRYPT_SUCCESS ? " (Success)" : "");
  /* Any other result: do not trust the output, whatever it holds. */
  uint32_t result = verify_folder(folder);
  return decrypted == QVE_DECRYPT_SUCCESS && result == QVE_REPORT_OK ? 0 : 1;
}

#ifdef _WIN32
int main(void) {
  int argc = 0;
  wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
  if (argv == NULL || argc != 4) {
    fprintf(stderr, "usage: consumer CONTAINER OUTPUT LOG_FOLDER\n");
    return 64;
  }
  int status = run(argv[1], argv[2], argv[3]);
  LocalFree(argv);
  return status;
}
#else
static wchar_t* widen(const char* text) {
  size_t length = mbstowcs(NULL, text, 0);
  if (length == (size_t)-1) return NULL;
  wchar_t* wide = malloc((length + 1) * sizeof *wide);
  if (wide != NULL) mbstowcs(wide, text, length + 1);
  return wide;
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
  int status = run(container, output, folder);
  free(container);
  free(output);
  free(folder);
  return status;
}
#endif
