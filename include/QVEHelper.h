// SPDX-License-Identifier: Apache-2.0
/* QVEHelper: decryption of sealed "QVES" containers and verification of
 * signed system log files.
 *
 * C++ callers use the QVE_Helper namespace; C callers use the functions in
 * the extern "C" block, which take the report as an opaque handle.
 *
 * Exceptions: the library catches none. What can go wrong in normal use is a
 * result or a verdict; the exceptions named next to a function leave it, the
 * C functions included, and a C host that does not catch them across its own
 * boundary is ended by them (std::terminate). Every function may raise
 * std::bad_alloc when memory runs out; nothing else leaves a function whose
 * comment names no exception.
 */
#ifndef QVEHELPER_H_
#define QVEHELPER_H_

#ifdef __cplusplus
#include <cstddef>
#include <cstdint>
#include <string>
#else
/* Freestanding headers alone (wchar_t comes from stddef.h), so that a host
 * built without a C library can include this file. */
#include <stdbool.h>
#include <stddef.h>
#include <stdint.h>
#endif

#if defined(_WIN32)
#if defined(QVEHELPER_BUILDING)
#define QVE_API __declspec(dllexport)
#else
#define QVE_API __declspec(dllimport)
#endif
#else
#define QVE_API __attribute__((visibility("default")))
#endif

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
  // path with no narrow form (on Windows, one with an unpaired surrogate)
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

/* ------------------------------------------------------------------------
 * The extension interface: what the qvehelper command does, for hosts, in
 * C, beside the functions above, which keep their contract. Its rules:
 * - Every name starts with qve_ (QVE_ for constants).
 * - Handles are opaque. A NULL handle or argument, or a call out of order,
 *   gives QVE_ERROR_MISUSE, never an Ok value; an accessor then gives 0,
 *   NULL or an empty value.
 * - An option struct starts with its size: set `size` to sizeof the struct;
 *   a zeroed struct with `size` set asks for every default.
 * - A path is UTF-8 (char*; on Linux a name's bytes, whatever they are) or a
 *   wide string (wchar_t*, the same function with the suffix _w).
 * - Functions give int codes: 0 and above are results of the operation (a
 *   run's QVE_STATUS_*, a decryption's QVE_DECRYPT_*), below 0 an error
 *   (QVE_ERROR_*). Nothing is thrown across the interface; memory running
 *   out is QVE_ERROR_NO_MEMORY. qve_result_name names every code.
 * - Text given out (names, messages) is UTF-8 and NUL-terminated, owned by
 *   the library, valid as each function says.
 * - The library starts no thread of its own.
 * ------------------------------------------------------------------------ */

/* Errors, the same for every function. */
#define QVE_ERROR_MISUSE (-1)              /* a NULL handle or argument, a call out of order */
#define QVE_ERROR_NO_MEMORY (-2)           /* memory ran out */
#define QVE_ERROR_CRYPTO (-3)              /* libcrypto refused an operation */
#define QVE_ERROR_INVALID_PATH (-4)        /* a path with no form on this system */
#define QVE_ERROR_NOT_FOUND (-5)           /* a path that does not exist */
#define QVE_ERROR_UNREADABLE (-6)          /* a path that cannot be read */
#define QVE_ERROR_NO_LOG (-7)              /* a folder that holds no log */
#define QVE_ERROR_WRONG_KIND (-8)          /* a FIFO, socket or device where a file is wanted */
#define QVE_ERROR_RECORD_DAMAGED (-10)     /* a checkpoint record that is damaged (or empty) */
#define QVE_ERROR_RECORD_VERSION (-11)     /* a checkpoint record of another version */
#define QVE_ERROR_RECORD_OTHER_CHAIN (-12) /* a record made under another verification key */
#define QVE_ERROR_RECORD_MISSING (-13)     /* no record where one must be given */
#define QVE_ERROR_CANCELLED (-20)          /* the caller's progress callback asked to stop */
#define QVE_ERROR_OUTPUT (-21)             /* an output cannot be created or put in place */
#define QVE_ERROR_SAME_FILE (-22)          /* the output is one of the inputs */

/* A verification run's status: what qvehelper verify exits with for one
 * chain, the first of 4, 3, 2, 5, 6, 1, 0 that applies. */
#define QVE_STATUS_OK 0              /* ReportOk */
#define QVE_STATUS_UNSIGNED 1        /* ReportUnsigned: nothing signed */
#define QVE_STATUS_SOME_INVALID 2    /* ReportSomeInvalid */
#define QVE_STATUS_ALL_INVALID 3     /* ReportAllInvalid */
#define QVE_STATUS_CHECKPOINT_LOST 4 /* CheckpointLost */
#define QVE_STATUS_STRICT_FAILED 5   /* StrictPolicyFailed */
#define QVE_STATUS_INCOMPLETE 6      /* Incomplete: evidence not read or passed over */

/* What a code is the result of, for qve_result_name: a run gives a
 * QVE_STATUS_*, a decryption or check a QVE_DECRYPT_*, both give errors. */
#define QVE_RESULT_OF_RUN 1
#define QVE_RESULT_OF_DECRYPTION 2

/* The code's name, "ReportOk", "Incomplete", "BadSignature",
 * "RecordDamaged", ...; "Unknown" for any other. */
QVE_API const char* qve_result_name(int of, int code);

/* This library's version, "1.0.0", and the name and version of the
 * cryptographic library it runs with. */
QVE_API const char* qve_version(void);
QVE_API const char* qve_crypto_library_version(void);

/* The built-in keys: the private key that opens containers and the public
 * key that checks seals and log signatures. */
#define QVE_KEY_DECRYPTION 10
#define QVE_KEY_VERIFICATION 11
/* The key's identifier as files name it (its number, 4 bytes little-endian)
 * into id[4], and the SHA-256 of its public key in DER SubjectPublicKeyInfo
 * form into sha256[32]: 0, or an error. */
QVE_API int qve_key_identity(int key, uint8_t id[4], uint8_t sha256[32]);
/* 1 when the built-in keys are the public development set (insecure), else 0. */
QVE_API int qve_development_keys(void);

#ifdef __cplusplus
}
#endif

#endif /* QVEHELPER_H_ */
