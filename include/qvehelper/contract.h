// SPDX-License-Identifier: Apache-2.0
/* The contract: Decrypt and IVerificationReport in C++, DecryptQveFile and
 * the *VerificationReport* functions in C, and their result codes. The
 * library's own subsystems include this part alone. */
#ifndef QVEHELPER_CONTRACT_H_
#define QVEHELPER_CONTRACT_H_

#include "export.h"

/* Result codes, usable from C. The numbers are fixed. */
enum {
  QVE_DECRYPT_SUCCESS = 0,
  QVE_DECRYPT_NO_SEAL = 1,
  QVE_DECRYPT_INPUT_OPEN_FAILED = 2,
  QVE_DECRYPT_OUTPUT_OPEN_FAILED = 4,
  QVE_DECRYPT_OUTPUT_WRITE_FAILED = 5,
  QVE_DECRYPT_HEADER_INVALID = 6,
  QVE_DECRYPT_SESSION_KEY_UNAVAILABLE = 7,
  QVE_DECRYPT_OUTPUT_SIZE_FAILED = 8,
  QVE_DECRYPT_OUTPUT_TRUNCATE_FAILED = 9,
  QVE_DECRYPT_OUTPUT_REOPEN_FAILED = 10,
  QVE_DECRYPT_VERIFY_INIT_FAILED = 11,
  QVE_DECRYPT_VERIFY_UPDATE_FAILED = 12,
  QVE_DECRYPT_BAD_SIGNATURE = 13
};

enum { QVE_FILE_OK = 0, QVE_FILE_UNSIGNED = 1, QVE_FILE_CHAIN_BREAK = 2, QVE_FILE_INVALID = 3 };

enum {
  QVE_REPORT_OK = 0,
  QVE_REPORT_UNSIGNED = 1,
  QVE_REPORT_SOME_INVALID = 2,
  QVE_REPORT_ALL_INVALID = 3
};

/* What VerifyReport gives for a null report and
 * GetFileReportVerditInVerificationReport for a null report or an index at
 * or past the count: never a verdict or result. */
#define QVE_NO_RESULT 0xFFFFFFFFu

#ifdef __cplusplus
namespace QVE_Helper {

enum DecryptResult : std::int32_t {
  Success = QVE_DECRYPT_SUCCESS,
  NoSeal = QVE_DECRYPT_NO_SEAL,
  InputOpenFailed = QVE_DECRYPT_INPUT_OPEN_FAILED,
  OutputOpenFailed = QVE_DECRYPT_OUTPUT_OPEN_FAILED,
  OutputWriteFailed = QVE_DECRYPT_OUTPUT_WRITE_FAILED,
  HeaderInvalid = QVE_DECRYPT_HEADER_INVALID,
  SessionKeyUnavailable = QVE_DECRYPT_SESSION_KEY_UNAVAILABLE,
  OutputSizeFailed = QVE_DECRYPT_OUTPUT_SIZE_FAILED,
  OutputTruncateFailed = QVE_DECRYPT_OUTPUT_TRUNCATE_FAILED,
  OutputReopenFailed = QVE_DECRYPT_OUTPUT_REOPEN_FAILED,
  VerifyInitFailed = QVE_DECRYPT_VERIFY_INIT_FAILED,
  VerifyUpdateFailed = QVE_DECRYPT_VERIFY_UPDATE_FAILED,
  BadSignature = QVE_DECRYPT_BAD_SIGNATURE,
};

enum FileVerdict : std::uint32_t {
  FileOk = QVE_FILE_OK,
  FileUnsigned = QVE_FILE_UNSIGNED,
  FileChainBreak = QVE_FILE_CHAIN_BREAK,
  FileInvalid = QVE_FILE_INVALID,
};

enum ReportResult : std::uint32_t {
  ReportOk = QVE_REPORT_OK,
  ReportUnsigned = QVE_REPORT_UNSIGNED,
  ReportSomeInvalid = QVE_REPORT_SOME_INVALID,
  ReportAllInvalid = QVE_REPORT_ALL_INVALID,
};

// Decrypts the container at inputPath into outputPath, cuts the seal trailer
// off and checks its signature. The two paths must name different files. The
// output file is never removed: only Success means its content is trusted.
// Every failure is a DecryptResult; only std::bad_alloc leaves it.
QVE_API DecryptResult Decrypt(const std::wstring& inputPath, const std::wstring& outputPath);

struct FileReport {
  std::wstring name;      // last component of the file's path (on Windows as stored)
  std::uint32_t verdict;  // a FileVerdict
};

// A set of log files verified as one signature chain. Made only by Create,
// destroyed only by Delete; one thread at a time.
class QVE_API IVerificationReport {
 public:
  static IVerificationReport* Create();
  static void Delete(IVerificationReport* report);

  IVerificationReport(const IVerificationReport& other);
  IVerificationReport& operator=(const IVerificationReport& other);

  virtual void Clear() = 0;
  virtual void AddFile(const std::wstring& path) = 0;
  // A folder that is missing or cannot be read adds nothing and raises nothing.
  virtual void AddFileInFolder(const std::wstring& folder) = 0;
  // Raises std::invalid_argument ("invalid wchar_t filename argument") for a
  // path with no narrow form (on Linux, one holding a character no name
  // holds; every Windows path has one, so there it is a verdict)
  // and std::runtime_error ("EVP_...() failed.") when libcrypto refuses a
  // digest or signature operation. A missing, unreadable or bad file is a
  // verdict, not an exception.
  virtual std::uint32_t Verify(bool includeOkFiles) = 0;
  virtual std::uint32_t TotalFiles() = 0;
  virtual std::uint32_t NumberOfBadFiles() = 0;
  virtual std::size_t GetFileReportCount() = 0;
  virtual FileReport& GetFileReport(std::uint32_t index) = 0;

 protected:
  IVerificationReport();
  virtual ~IVerificationReport();
};

}  // namespace QVE_Helper
#endif

#ifdef __cplusplus
extern "C" {
typedef QVE_Helper::IVerificationReport QVE_VerificationReport;
#else
typedef struct QVE_VerificationReport QVE_VerificationReport;
#endif

/* Returns a DecryptResult value. Raises only std::bad_alloc, as Decrypt does.
 * A null input path gives InputOpenFailed, a null output path
 * OutputOpenFailed (InputOpenFailed when the input does not open either). */
QVE_API int32_t DecryptQveFile(const wchar_t* inputPath, const wchar_t* outputPath);

QVE_API QVE_VerificationReport* CreateVerificationReport(void);
QVE_API void DeleteVerificationReport(QVE_VerificationReport* report);
QVE_API void ClearVerificationReport(QVE_VerificationReport* report);
QVE_API void AddFileToVerificationReport(QVE_VerificationReport* report, const wchar_t* path);
QVE_API void AddFileInFolderToVerificationReport(QVE_VerificationReport* report,
                                                 const wchar_t* folder);
/* The C functions below take a null report or path as a slip, not a crash:
 * Add and Clear do nothing, the counters give 0, and the name of a record
 * that does not exist is NULL. A report already deleted cannot be recognised:
 * never use one. */

/* Returns a ReportResult value, or QVE_NO_RESULT for a null report. Raises
 * what IVerificationReport::Verify raises: std::invalid_argument,
 * std::runtime_error, std::bad_alloc. */
QVE_API uint32_t VerifyReport(QVE_VerificationReport* report, bool includeOkFiles);
QVE_API uint32_t TotalFilesInVerificationReport(QVE_VerificationReport* report);
QVE_API uint32_t NumberOfBadFilesInVerificationReport(QVE_VerificationReport* report);
QVE_API size_t GetFileReportCountInVerificationReport(QVE_VerificationReport* report);
/* The pointer stays valid until the next VerifyReport, Clear or Delete; the
 * report owns it (never free it). NULL for an index at or past the count. */
QVE_API const wchar_t* GetFileReportNameInVerificationReport(QVE_VerificationReport* report,
                                                             uint32_t index);
/* Returns a FileVerdict value, or QVE_NO_RESULT for an index at or past the
 * count. The name is spelled as callers bind to it. */
QVE_API uint32_t GetFileReportVerditInVerificationReport(QVE_VerificationReport* report,
                                                         uint32_t index);

#ifdef __cplusplus
}
#endif

#endif /* QVEHELPER_CONTRACT_H_ */
