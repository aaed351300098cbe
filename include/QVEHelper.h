// SPDX-License-Identifier: Apache-2.0
/* QVEHelper: decryption of sealed "QVES" containers and verification of
 * signed system log files.
 *
 * C++ callers use the QVE_Helper namespace; C callers use the functions in
 * the extern "C" block, which take the report as an opaque handle.
 *
 * Exceptions: the functions before the extension interface (below) catch
 * none. What can go wrong in normal use is a result or a verdict; the
 * exceptions named next to a function leave it, the C functions included,
 * and a C host that does not catch them across its own boundary is ended by
 * them (std::terminate). Every such function may raise std::bad_alloc when
 * memory runs out; nothing else leaves a function whose comment names no
 * exception. The extension interface's qve_ functions raise nothing.
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

/* A block's verdict, as qve_run_block_verdict gives it. From INVALID up the
 * block was tampered with. */
enum {
  QVE_BLOCK_OK = 0,
  QVE_BLOCK_UNSIGNED = 1,
  QVE_BLOCK_NO_SIGNATURE = 2,
  QVE_BLOCK_INVALID = 3,
  QVE_BLOCK_CHAIN_BREAK = 4,
  QVE_BLOCK_UNEXPECTED = 5
};

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

/* ------------------------------------------------------------------------
 * The extension interface: what the qvehelper command does, for hosts, in
 * C, beside the functions above, which keep their contract. Its rules:
 * - Every name starts with qve_ (QVE_ for constants).
 * - Handles are opaque. A NULL handle or argument, or a call out of order,
 *   gives QVE_ERROR_MISUSE, never an Ok value; an accessor then gives 0,
 *   NULL or an empty value.
 * - An option struct starts with its size: set `size` to sizeof the struct;
 *   a zeroed struct with `size` set asks for every default, which its
 *   QVE_*_OPTIONS_INIT gives (since 1.1): qve_run_options options =
 *   QVE_RUN_OPTIONS_INIT;
 * - A path is UTF-8 (char*; on Linux a name's bytes, whatever they are) or a
 *   wide string (wchar_t*, the same function with the suffix _w).
 * - Functions give int codes: 0 and above are results of the operation (a
 *   run's QVE_STATUS_*, a decryption's QVE_DECRYPT_*), below 0 an error
 *   (QVE_ERROR_*). Nothing is thrown across the interface; memory running
 *   out is QVE_ERROR_NO_MEMORY. qve_result_name names every code.
 * - One error channel (since 1.1; in 1.0 the container calls alone): a
 *   call that fails gives its code and sets the calling thread's last
 *   error, which qve_last_problem (a QVE_PROBLEM_*; NONE where none
 *   fits), qve_last_problem_path and qve_last_problem_reason (where there
 *   is one; "" else) and qve_last_message (all of it in words) read, valid
 *   until the thread's next failing call (1.0 kept them until the next
 *   decryption, check or diagnosis: copy them before another call). A
 *   call fails when it gives a QVE_ERROR_* where it documents one, or a
 *   result but Success from qve_decrypt and qve_check; an accessor's -1 for
 *   "none" is no failure. A call that succeeds leaves the last error as it
 *   was, but qve_decrypt, qve_check and qve_diagnose_container clear it.
 *   Accessors that give no code (counts, text) set nothing. A run's
 *   refusal (qve_run_refusal) is the reason of the error that its add or
 *   record call set.
 * - Text given out (names, messages) is UTF-8 and NUL-terminated, owned by
 *   the library, valid as each function says. A path given out is in the
 *   form paths are taken (on Linux a name's bytes; on Windows an unpaired
 *   surrogate as the three bytes WTF-8 gives it); qve_path_w gives its
 *   wide form.
 * - The library starts no thread of its own.
 * ------------------------------------------------------------------------ */

/* An options struct with its size set and every other member zero. C++
 * before C++20 has no designated initializer, and g++ warns of the members
 * a designated one leaves out. */
#ifdef __cplusplus
#define QVE_OPTIONS_INIT_(type)   \
  ([] {                           \
    type options_{};              \
    options_.size = sizeof(type); \
    return options_;              \
  }())
#else
#define QVE_OPTIONS_INIT_(type) \
  { .size = sizeof(type) }
#endif

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
#define QVE_ERROR_CANCELLED (-20)          /* the caller's progress callback asked to stop */
#define QVE_ERROR_OUTPUT (-21)             /* an output cannot be created or put in place */
#define QVE_ERROR_SAME_FILE (-22)          /* the output is one of the inputs */
#define QVE_ERROR_SCRATCH (-23)            /* a scratch file cannot be made or fails */

/* A verification run's status: what qvehelper verify exits with for one
 * chain, the first of 4, 3, 2, 5, 6, 1, 0 that applies. */
#define QVE_STATUS_OK 0              /* ReportOk */
#define QVE_STATUS_UNSIGNED 1        /* ReportUnsigned: nothing signed */
#define QVE_STATUS_SOME_INVALID 2    /* ReportSomeInvalid */
#define QVE_STATUS_ALL_INVALID 3     /* ReportAllInvalid */
#define QVE_STATUS_CHECKPOINT_LOST 4 /* CheckpointLost */
#define QVE_STATUS_STRICT_FAILED 5   /* StrictPolicyFailed */
#define QVE_STATUS_INCOMPLETE 6      /* Incomplete: evidence not read or passed over */

/* What a warning of a run is about (qve_run_warning_code). */
#define QVE_WARNING_SAME_FILE 1        /* a file reached twice: verified once */
#define QVE_WARNING_UNREADABLE 2       /* a file that cannot be read, or not to its end */
#define QVE_WARNING_NAME_CASE 3        /* a log's name but for case: not verified */
#define QVE_WARNING_PASSED_OVER 4      /* an entry of a folder passed over: link, FIFO, ... */
#define QVE_WARNING_NO_LOG 5           /* a folder that holds no log, with a record given */
#define QVE_WARNING_UNSIGNED_LINES 6   /* lines that no signature covers */
#define QVE_WARNING_AFTER_NUL 7        /* bytes after a NUL, which no signature covers */
#define QVE_WARNING_AFTER_END 8        /* bytes after an end-of-input byte (0x1A) */
#define QVE_WARNING_CHANGED 9          /* a file that changed while it was read */
#define QVE_WARNING_BYTE_ORDER_MARK 10 /* a byte-order mark: UTF-8, or UTF-16 text */
#define QVE_WARNING_LINKS 11           /* links that say what names do not: missing, forked */
#define QVE_WARNING_BREAK_FOLLOWS 12   /* a chain break that follows from an unreadable file */
#define QVE_WARNING_KEPT_CHANGING 13   /* the files kept changing (rotations) during the run */

/* What a code is the result of, for qve_result_name: a run gives a
 * QVE_STATUS_*, a decryption or check a QVE_DECRYPT_*, both give errors. */
#define QVE_RESULT_OF_RUN 1
#define QVE_RESULT_OF_DECRYPTION 2
#define QVE_RESULT_OF_EVENT 3      /* qve_run_next's QVE_EVENT_* */
#define QVE_RESULT_OF_WARNING 4    /* a QVE_WARNING_* */
#define QVE_RESULT_OF_STRICT 5     /* a QVE_STRICT_* */
#define QVE_RESULT_OF_CHECKPOINT 6 /* a QVE_CHECKPOINT_* */
#define QVE_RESULT_OF_FILE 7       /* a file's verdict: "FileOk", ... */
#define QVE_RESULT_OF_BLOCK 8      /* a block's verdict: "BlockOk", ... */

/* The code's name, "ReportOk", "Incomplete", "BadSignature",
 * "RecordDamaged", ...; "Unknown" for any other. */
QVE_API const char* qve_result_name(int of, int code);

/* The wide form of a path as the library takes and gives it (char*): the
 * very name, for the _w functions and for opening it on Windows, where a
 * UTF-8 decoder would lose an unpaired surrogate. NULL for NULL or bytes
 * that name no path here. Valid until the next call on the same thread. */
QVE_API const wchar_t* qve_path_w(const char* path);

/* This library's version, "1.1.0", and the name and version of the
 * cryptographic library it runs with. */
QVE_API const char* qve_version(void);
QVE_API const char* qve_crypto_library_version(void);

/* The version of this header, which a host was built with; the library it
 * runs with may be a later 1.x (same SONAME), so a host that needs a name
 * added since asks qve_version_number() or qve_has() before calling it.
 * QVE_VERSION_NUMBER is MAJOR * 10000 + MINOR * 100 + PATCH: 10100. */
#define QVE_VERSION_MAJOR 1
#define QVE_VERSION_MINOR 1
#define QVE_VERSION_PATCH 0
#define QVE_VERSION_NUMBER (QVE_VERSION_MAJOR * 10000 + QVE_VERSION_MINOR * 100 + QVE_VERSION_PATCH)
/* Since 1.1: the running library's QVE_VERSION_NUMBER. */
QVE_API int qve_version_number(void);
/* Since 1.1: 1 when the running library has FEATURE, else 0 (also for a
 * name it does not know, or NULL). A name for what came after 1.0, so that
 * a host can ask for a capability rather than compare versions:
 *   "run-policy"     qve_run_options' max_unsigned_lines, stale_after_days,
 *                    accept, and a version 2 checkpoint record
 *   "last-error"     every failing call sets qve_last_message and the rest
 *   "run-work-wait"  qve_run_work_wait and qve_run_stop_work */
QVE_API int qve_has(const char* feature);

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

/* ------------------------------------------------------------------------
 * Containers: a decryption that never leaves unverified plaintext, a check
 * that keeps none, and a diagnosis of what a container holds.
 * ------------------------------------------------------------------------ */

/* The step a decryption is at. */
#define QVE_STEP_DECRYPTING 1    /* the container read and decrypted: its bytes */
#define QVE_STEP_CHECKING_SEAL 2 /* the plaintext read back for the seal check: its bytes */

/* Called on the calling thread as the work goes on: at the start and end of
 * each step and about every 256 KiB, with `done` bytes of `total` (0 when
 * unknown: a pipe) in `step`. Return 0 to go on; anything else stops the
 * work, and the call gives QVE_ERROR_CANCELLED. */
typedef int (*qve_progress_fn)(uint64_t done, uint64_t total, int step, void* context);

/* A loan of threads from the host to decryptions and checks: the library
 * starts no thread, but a host may lend it some. A decryption or check
 * given a loan (its options' `loan`) decrypts and writes on the calling
 * thread while a lent thread takes the SHA-256 of the plaintext for the
 * seal check; with no thread working for the loan at the moment, the
 * calling thread takes it too, so the results never depend on the lending.
 * One loan serves any number of calls, at once or one after another, and
 * any number of lent threads. */
typedef struct qve_loan qve_loan;

/* 0 with *loan set (free it with qve_loan_free once no thread works for it
 * and no call uses it), or QVE_ERROR_MISUSE, QVE_ERROR_NO_MEMORY. */
QVE_API int qve_loan_create(qve_loan** loan);
QVE_API void qve_loan_free(qve_loan* loan);
/* What a lent thread calls: works on what the calls given the loan have
 * pending and waits (asleep) while there is none, until qve_loan_end; then
 * returns 0 (at once when the loan has ended). QVE_ERROR_MISUSE for NULL. */
QVE_API int qve_loan_work(qve_loan* loan);
/* Lets every lent thread go: their qve_loan_work calls return. Calls still
 * using the loan finish on their own threads. 0, or QVE_ERROR_MISUSE. */
QVE_API int qve_loan_end(qve_loan* loan);

typedef struct qve_decrypt_options {
  size_t size;              /* sizeof(qve_decrypt_options) */
  qve_progress_fn progress; /* or NULL */
  void* context;            /* for progress */
  /* 1: OUTPUT gets whatever was decrypted, whatever the result, once the
   * temporary file was opened (not after InputOpenFailed or
   * OutputOpenFailed): after HeaderInvalid or SessionKeyUnavailable an empty
   * file, as DecryptQveFile leaves. Never after an error (QVE_ERROR_*). */
  int keep_unverified;
  /* 1: INPUT may be a pipe, FIFO or device, read once in order (a
   * program's standard input); else such an INPUT is QVE_ERROR_WRONG_KIND,
   * as reading it could wait for good. */
  int read_stream;
  /* 1: no temporary file: OUTPUT itself is created or truncated and
   * written, and left as the step reached leaves it, as DecryptQveFile
   * does; for a caller whose OUTPUT is a temporary file of its own. Of the
   * checks only two apply: not INPUT, and not a FIFO, socket or device. */
  int write_directly;
  /* A loan (or NULL: one thread, the plaintext read back for the seal
   * check). With one, the temporary file is written through a handle no
   * other process can open (Linux: unnamed where the file system allows;
   * Windows: a handle that shares nothing but its deletion), and the seal
   * check digests the plaintext as it is written instead of reading it
   * back; QVE_STEP_CHECKING_SEAL is then told at its start and end only.
   * The results and files left are the same. Not with write_directly, which
   * keeps to one thread. A struct sized before this member asks for none. */
  qve_loan* loan;
} qve_decrypt_options;
#define QVE_DECRYPT_OPTIONS_INIT QVE_OPTIONS_INIT_(qve_decrypt_options)

/* Decrypts the container INPUT into OUTPUT and checks its seal. Before any
 * work OUTPUT is checked: no link on its way that another user may have
 * planted in a sticky world-writable folder (Linux's fs.protected_symlinks,
 * applied whether or not the system does), not INPUT, a regular file or
 * nothing yet, in a folder that exists, replaceable by this user. The
 * plaintext goes into a temporary file in OUTPUT's folder, readable by its
 * owner only (on Linux one without a name, where the file system allows),
 * that replaces OUTPUT only on QVE_DECRYPT_SUCCESS, keeping an existing
 * OUTPUT's mode bits and, where the process may set them, its owner and
 * group; a link at OUTPUT is followed and stays. On every other outcome
 * OUTPUT is left as it was and no temporary file remains.
 * Gives the QVE_DECRYPT_* result (InputOpenFailed for an INPUT that does
 * not open), or QVE_ERROR_SAME_FILE, QVE_ERROR_WRONG_KIND (INPUT),
 * QVE_ERROR_OUTPUT (OUTPUT fails the checks, or no temporary file can be
 * made or put in place), QVE_ERROR_CANCELLED, QVE_ERROR_INVALID_PATH,
 * QVE_ERROR_MISUSE (a NULL path or options, a wrong size),
 * QVE_ERROR_NO_MEMORY; qve_last_problem and qve_last_message say why. */
QVE_API int qve_decrypt(const char* input, const char* output, const qve_decrypt_options* options);
QVE_API int qve_decrypt_w(const wchar_t* input, const wchar_t* output,
                          const qve_decrypt_options* options);

typedef struct qve_check_options {
  size_t size;              /* sizeof(qve_check_options) */
  qve_progress_fn progress; /* or NULL */
  void* context;            /* for progress */
  /* The folder of the scratch file, UTF-8 or wide (one of them). With
   * neither, there is no scratch file: the plaintext is checked in memory
   * as it is decrypted (one step, QVE_STEP_DECRYPTING), in flat memory. */
  const char* scratch_folder;
  const wchar_t* scratch_folder_w;
  /* A loan, as qve_decrypt_options's (NULL: one thread); also for a check
   * in memory. A struct sized before this member asks for none. */
  qve_loan* loan;
} qve_check_options;
#define QVE_CHECK_OPTIONS_INIT QVE_OPTIONS_INIT_(qve_check_options)

/* Decrypts INPUT and checks its seal, keeping no plaintext anywhere: the
 * scratch file is unnamed on Linux (O_TMPFILE: no other process can open
 * it), elsewhere a hidden name removed on every path. Gives the
 * QVE_DECRYPT_* result qve_decrypt would give, or QVE_ERROR_SCRATCH when
 * the scratch file cannot be made or fails (a full disk is not the
 * container's result), QVE_ERROR_WRONG_KIND (INPUT a FIFO, socket or
 * device), QVE_ERROR_CANCELLED, QVE_ERROR_INVALID_PATH, QVE_ERROR_MISUSE,
 * QVE_ERROR_NO_MEMORY. */
QVE_API int qve_check(const char* input, const qve_check_options* options);
QVE_API int qve_check_w(const wchar_t* input, const qve_check_options* options);

/* Why the last call on this thread that failed (see the rules above) did,
 * or what the last qve_decrypt, qve_check or qve_diagnose_container call
 * gave: a QVE_PROBLEM_*, the path it concerns
 * ("" for none; as paths are given, so on Linux a name's bytes, UTF-8 or
 * not), the reason (the system's words, or what a path is; "" for
 * none) and all of it in words, as qvehelper prints it (for a result, the
 * cause: "the plaintext ends in no seal trailer"). QVE_PROBLEM_NONE and ""
 * after Success. Valid until the next call on the same thread that sets
 * them. A path a run refuses is QVE_PROBLEM_INPUT. */
#define QVE_PROBLEM_NONE 0
#define QVE_PROBLEM_INPUT 1       /* INPUT does not open or is no regular file */
#define QVE_PROBLEM_LINK 2        /* path: the link another user may have planted */
#define QVE_PROBLEM_NOT_REGULAR 3 /* OUTPUT exists and is no regular file; reason: "a FIFO" */
#define QVE_PROBLEM_FOLDER 4      /* path: OUTPUT's folder; reason: "does not exist", "is ..." */
#define QVE_PROBLEM_NAME 5        /* the system refuses OUTPUT's name */
#define QVE_PROBLEM_NOT_REPLACEABLE 6 /* this user may not replace OUTPUT */
#define QVE_PROBLEM_SAME_FILE 7       /* OUTPUT is INPUT; path: INPUT */
#define QVE_PROBLEM_TEMPORARY 8       /* path: a folder that takes no temporary or scratch file */
#define QVE_PROBLEM_PUBLISH 9         /* the temporary file cannot be put in place as OUTPUT */
#define QVE_PROBLEM_WRITE 10          /* the output or scratch file takes no more */
#define QVE_PROBLEM_CHANGED 11        /* the output or scratch file changed while written */
#define QVE_PROBLEM_CONTAINER 12      /* the container's own fault */
#define QVE_PROBLEM_CRYPTO 13         /* the cryptographic library failed */
#define QVE_PROBLEM_CANCELLED 14      /* the progress callback stopped the work */
QVE_API int qve_last_problem(void);
QVE_API const char* qve_last_problem_path(void);
QVE_API const char* qve_last_problem_reason(void);
QVE_API const char* qve_last_message(void);

/* 1 when a file whose first bytes are these is a container (it starts with
 * the whole magic "QVES"), else 0. */
QVE_API int qve_starts_container(const void* bytes, size_t length);

/* What qve_find_containers tells of an entry, on the calling thread: a
 * container to check (WARNING NULL; PATH_W opens it with the *_w calls), or
 * an entry passed over or taken with a doubt (WARNING says why, in words;
 * PATH_W NULL). PATH is as qvehelper shows it: UTF-8, on Linux a name's
 * bytes. Both are valid during the call. Return 0 to go on; anything else
 * stops the search, which then gives QVE_ERROR_CANCELLED. */
typedef int (*qve_found_fn)(const char* path, const wchar_t* path_w, const char* warning,
                            void* context);

/* The containers below FOLDER, as qvehelper check takes a folder: every
 * regular file below it named *.qves (any case) or starting with "QVES",
 * told in order of their paths after every warning. Links are not
 * followed. The warnings: a *.qves file that is empty or starts otherwise
 * (taken all the same), a file that does not open, and every entry the
 * walk passes over (a link, a FIFO, a folder that cannot be read). Gives
 * how many containers were told, or QVE_ERROR_MISUSE (a NULL argument),
 * QVE_ERROR_INVALID_PATH, QVE_ERROR_CANCELLED, QVE_ERROR_NO_MEMORY. */
QVE_API int qve_find_containers(const char* folder, qve_found_fn found, void* context);
QVE_API int qve_find_containers_w(const wchar_t* folder, qve_found_fn found, void* context);

/* For a program, not a library: from now on SIGINT, SIGTERM, SIGHUP and
 * SIGPIPE (on Windows Ctrl-C and closing the console) first remove the
 * named temporary files the library has open, then do what they did
 * before. 0. */
QVE_API int qve_remove_temporaries_on_signals(void);

/* A container's diagnosis: what a decryption makes of it, step by step,
 * every step the library's own; nothing is written anywhere. */
typedef struct qve_diagnosis qve_diagnosis;

typedef struct qve_diagnose_options {
  size_t size; /* sizeof(qve_diagnose_options) */
  /* 1: also decrypt the payload once in memory and check the seal. */
  int decrypt;
} qve_diagnose_options;
#define QVE_DIAGNOSE_OPTIONS_INIT QVE_OPTIONS_INIT_(qve_diagnose_options)

/* 0 with *diagnosis set (free it with qve_diagnosis_free), or an error with
 * *diagnosis NULL: QVE_ERROR_NOT_FOUND, QVE_ERROR_UNREADABLE (with
 * qve_last_problem_reason), QVE_ERROR_WRONG_KIND (a FIFO, socket, device or
 * folder), QVE_ERROR_CRYPTO, QVE_ERROR_INVALID_PATH, QVE_ERROR_MISUSE,
 * QVE_ERROR_NO_MEMORY. Any file is diagnosed: one that is no container
 * stops at its magic. */
QVE_API int qve_diagnose_container(const char* path, const qve_diagnose_options* options,
                                   qve_diagnosis** diagnosis);
QVE_API int qve_diagnose_container_w(const wchar_t* path, const qve_diagnose_options* options,
                                     qve_diagnosis** diagnosis);
QVE_API void qve_diagnosis_free(qve_diagnosis* diagnosis);

/* The accessors give 0, "", NULL or -1 (where -1 means none) for a NULL
 * diagnosis or an index at or past the count, and for a fact the diagnosis
 * did not reach. Text and bytes belong to the diagnosis. */
QVE_API uint64_t qve_diagnosis_size(const qve_diagnosis* diagnosis);

/* Where reading the header stopped: the header reader's code (0 the header
 * is complete; 1 MagicVersionOrIvUnreadable ... 7 WrappedKeyLengthInvalid,
 * which a decryption folds into HeaderInvalid) and its name; the field
 * ("magic", "wrapped key"; "" once complete), its record (from 1, 0 for
 * none), its file offset, the value read and the limit or expected value,
 * whether the file ends inside it and how many of its bytes there are
 * then; and all of it in words ("version 2, expected 1"). */
QVE_API int qve_diagnosis_header_status(const qve_diagnosis* diagnosis);
QVE_API const char* qve_diagnosis_header_status_name(const qve_diagnosis* diagnosis);
QVE_API const char* qve_diagnosis_header_field(const qve_diagnosis* diagnosis);
QVE_API uint32_t qve_diagnosis_header_record(const qve_diagnosis* diagnosis);
QVE_API uint64_t qve_diagnosis_header_offset(const qve_diagnosis* diagnosis);
QVE_API uint64_t qve_diagnosis_header_value(const qve_diagnosis* diagnosis);
QVE_API uint64_t qve_diagnosis_header_limit(const qve_diagnosis* diagnosis);
QVE_API int qve_diagnosis_header_cut(const qve_diagnosis* diagnosis);
QVE_API uint64_t qve_diagnosis_header_left(const qve_diagnosis* diagnosis);
QVE_API const char* qve_diagnosis_header_problem(const qve_diagnosis* diagnosis);

/* The version and the recipient count as read, whatever their values; -1
 * where the file ends before them. */
QVE_API int64_t qve_diagnosis_version(const qve_diagnosis* diagnosis);
QVE_API int64_t qve_diagnosis_recipient_count(const qve_diagnosis* diagnosis);

/* Every record read, whole or not: its file offset, tag byte, key
 * identifier (*length bytes), wrapped key length, and 1 for the one the
 * built-in key uses. */
QVE_API size_t qve_diagnosis_record_count(const qve_diagnosis* diagnosis);
QVE_API uint64_t qve_diagnosis_record_offset(const qve_diagnosis* diagnosis, size_t index);
QVE_API int qve_diagnosis_record_tag(const qve_diagnosis* diagnosis, size_t index);
QVE_API const uint8_t* qve_diagnosis_record_key_id(const qve_diagnosis* diagnosis, size_t index,
                                                   size_t* length);
QVE_API size_t qve_diagnosis_record_wrapped_key_length(const qve_diagnosis* diagnosis,
                                                       size_t index);
QVE_API int qve_diagnosis_record_used(const qve_diagnosis* diagnosis, size_t index);

/* Once the header is complete: the IV (*length bytes); the payload's
 * length, the cipher's block size, whether the payload is a whole number
 * of blocks, and whether the file was cut short (no payload at all, or not
 * whole blocks: no padded plaintext encrypts to it). */
QVE_API const uint8_t* qve_diagnosis_iv(const qve_diagnosis* diagnosis, size_t* length);
QVE_API uint64_t qve_diagnosis_payload_length(const qve_diagnosis* diagnosis);
QVE_API size_t qve_diagnosis_block_size(const qve_diagnosis* diagnosis);
QVE_API int qve_diagnosis_whole_blocks(const qve_diagnosis* diagnosis);
QVE_API int qve_diagnosis_cut_short(const qve_diagnosis* diagnosis);

/* The session key: the record used (from 0; -1 when none names the
 * built-in key), whether its wrapped key unwraps, whether the key block's
 * CRC matches, the key material's length (never the material), and whether
 * the cipher is ready with it. */
QVE_API int64_t qve_diagnosis_key_record(const qve_diagnosis* diagnosis);
QVE_API int qve_diagnosis_key_unwraps(const qve_diagnosis* diagnosis);
QVE_API int qve_diagnosis_key_crc_matches(const qve_diagnosis* diagnosis);
QVE_API size_t qve_diagnosis_key_material_length(const qve_diagnosis* diagnosis);
QVE_API int qve_diagnosis_key_ready(const qve_diagnosis* diagnosis);

/* Whether the last cipher block ends in valid padding (the end of the
 * payload is decrypted alone, cheaply): 1, 0, or -1 where not looked at
 * (the key does not open, or the payload is not whole blocks). */
QVE_API int qve_diagnosis_last_block_padding(const qve_diagnosis* diagnosis);

/* The seal, with the decrypt option: whether it was reached (the key
 * opens), whether the payload decrypted to its end, the plaintext's length
 * and whether a trailer was found. Found: its length, the key identifier it
 * names (*length bytes), whether that is the built-in verification key and
 * the signature's length. Not found: where recognising it stopped (its
 * name, "NoClosingTag", ...; the plaintext offset; in words). And the
 * QVE_DECRYPT_* result a decryption would give with an output that takes
 * everything: HeaderInvalid or SessionKeyUnavailable where the seal is not
 * reached, else NoSeal, Success, BadSignature, VerifyInitFailed or
 * VerifyUpdateFailed; QVE_ERROR_MISUSE without the decrypt option. */
QVE_API int qve_diagnosis_seal_reached(const qve_diagnosis* diagnosis);
QVE_API int qve_diagnosis_seal_decrypts(const qve_diagnosis* diagnosis);
QVE_API uint64_t qve_diagnosis_seal_plaintext_length(const qve_diagnosis* diagnosis);
QVE_API int qve_diagnosis_seal_found(const qve_diagnosis* diagnosis);
QVE_API uint32_t qve_diagnosis_seal_length(const qve_diagnosis* diagnosis);
QVE_API const uint8_t* qve_diagnosis_seal_key_id(const qve_diagnosis* diagnosis, size_t* length);
QVE_API int qve_diagnosis_seal_names_built_in_key(const qve_diagnosis* diagnosis);
QVE_API size_t qve_diagnosis_seal_signature_length(const qve_diagnosis* diagnosis);
QVE_API int qve_diagnosis_seal_result(const qve_diagnosis* diagnosis);
QVE_API const char* qve_diagnosis_seal_stop(const qve_diagnosis* diagnosis);
QVE_API uint64_t qve_diagnosis_seal_stop_offset(const qve_diagnosis* diagnosis);
QVE_API const char* qve_diagnosis_seal_problem(const qve_diagnosis* diagnosis);

/* Why a decryption of this container gave `result`, in the container's
 * terms, as qvehelper decrypt prints it ("the container looks cut short:
 * ..."); "" for Success and for the results only the files explain
 * (InputOpenFailed, OutputOpenFailed, OutputWriteFailed: qve_last_message
 * after the call says those). */
QVE_API const char* qve_diagnosis_cause(const qve_diagnosis* diagnosis, int result);

/* ------------------------------------------------------------------------
 * A verification run: one chain of logs verified as qvehelper verify
 * verifies it, its findings taken as a stream of events on the run's own
 * thread, one by one, in order. The run keeps per-file totals, never every
 * block, so its memory stays flat however long the logs are.
 * ------------------------------------------------------------------------ */
typedef struct qve_run qve_run;

#define QVE_ORDER_LINKS 0 /* the order the blocks link in; runs they do not join by name */
#define QVE_ORDER_NAME 1  /* the order of the names, as VerifyReport takes them */

typedef struct qve_run_options {
  size_t size; /* sizeof(qve_run_options), or the size up to excerpt_lines,
                * up to loan or up to max_unsigned_lines, as older hosts give it */
  int order;   /* QVE_ORDER_LINKS (the default) or QVE_ORDER_NAME */
  int strict;  /* 1: apply the strict policy (QVE_STATUS_STRICT_FAILED) */
  /* Covered lines each block event shows (qve_run_block_excerpt_*), and
   * bytes of each (0: 4000): the run holds this much of a block at most. */
  uint32_t excerpt_lines;
  size_t excerpt_line_bytes;
  /* 1: read each file once and never start over, as a diagnosis reads: a
   * file that changes while it is read is said to be
   * (qve_run_file_changed_while_read) instead of being read again. */
  int once;
  /* Threads lent to the run's block checks (qve_loan_work), or NULL: the
   * blocks are checked on the thread of qve_run_next, and by threads in
   * qve_run_work. The events and results are the same either way. The
   * run is freed before the loan. */
  qve_loan* loan;
  /* With strict: the newest file's unsigned tail may be this many lines
   * long (0: as many as the chain's longest signed block covers, see
   * qve_run_longest_block), else QVE_STRICT_UNSIGNED_TAIL. */
  uint32_t max_unsigned_lines;
  /* With a record: a chain whose record has not grown for this many days
   * is stale (qve_run_checkpoint_stale; with strict QVE_STRICT_STALE); 0:
   * never. */
  uint32_t stale_after_days;
  /* 1: qve_run_record gives this run's record whatever the run found (a
   * device reset, history removed on purpose, lost evidence); the status
   * stays what the run found. */
  int accept;
} qve_run_options;
#define QVE_RUN_OPTIONS_INIT QVE_OPTIONS_INIT_(qve_run_options)

/* 0 with *run set (free it with qve_run_free), or QVE_ERROR_MISUSE (a NULL
 * argument or options of another size, which qve_last_message says),
 * QVE_ERROR_NO_MEMORY. */
QVE_API int qve_run_create(const qve_run_options* options, qve_run** run);
/* Before qve_run_free every thread must have returned from its calls on
 * the run (qve_run_work and qve_run_work_wait included) and make no more:
 * end their work (take the run to QVE_EVENT_DONE or an error, or call
 * qve_run_stop_work), join the lent threads, then free. */
QVE_API void qve_run_free(qve_run* run);

/* Adds a file, or every system.log, System_*.log and their gzip'd
 * rotations (.gz, read as their content) below a folder; a file reached
 * twice is verified once, and every entry passed over that could hold
 * evidence becomes a warning. Before the first qve_run_next only. 0, or
 * QVE_ERROR_NOT_FOUND, QVE_ERROR_UNREADABLE (a folder that cannot be read;
 * nothing added), QVE_ERROR_NO_LOG (a folder that holds no log: with a
 * record given it is a QVE_WARNING_NO_LOG of the run, as its blocks are
 * lost), QVE_ERROR_INVALID_PATH, QVE_ERROR_MISUSE, QVE_ERROR_NO_MEMORY. */
QVE_API int qve_run_add(qve_run* run, const char* path);
QVE_API int qve_run_add_w(qve_run* run, const wchar_t* path);

/* Why the last qve_run_add or qve_run_set_record failed, in words: the
 * system's reason for a path ("No such file or directory"), what is wrong
 * with a record ("is damaged: ..."); "" after one that did not. */
QVE_API const char* qve_run_refusal(const qve_run* run);

/* The files the run will read, as added so far, in the order found: an
 * output the caller writes must not be one of them. */
QVE_API size_t qve_run_input_count(const qve_run* run);
QVE_API const char* qve_run_input_path(const qve_run* run, size_t index);

/* The checkpoint record to hold the run to: its bytes as stored, or with
 * QVE_RECORD_INIT none yet (bytes may be NULL), so that the run makes the
 * first. Where the record is kept and its lock are the caller's. Before
 * the first qve_run_next only. 0, or QVE_ERROR_RECORD_DAMAGED (also an
 * empty record), QVE_ERROR_RECORD_VERSION, QVE_ERROR_RECORD_OTHER_CHAIN (a
 * record made under another verification key), QVE_ERROR_MISUSE,
 * QVE_ERROR_NO_MEMORY; the run keeps no record then. */
#define QVE_RECORD_INIT 1
QVE_API int qve_run_set_record(qve_run* run, const void* bytes, size_t length, int flags);

/* The kinds of event. */
#define QVE_EVENT_FILE_START \
  1                          /* a file begins; read again from line 1 when its reading is above 1 */
#define QVE_EVENT_BLOCK 2    /* a block of the file, good ones too */
#define QVE_EVENT_WARNING 3  /* what a verdict cannot say */
#define QVE_EVENT_FILE_END 4 /* the file is done: its facts are at its index */
#define QVE_EVENT_RESTART 5  /* a rotation renamed files: all before no longer holds */
#define QVE_EVENT_DONE 6     /* the run is over: its status and record are known */

/* Goes on with the run until the next event and gives its kind; after
 * QVE_EVENT_DONE the run is finished, and a further call gives
 * QVE_ERROR_MISUSE. Also QVE_ERROR_INVALID_PATH, QVE_ERROR_CRYPTO,
 * QVE_ERROR_NO_MEMORY, which end the run. */
QVE_API int qve_run_next(qve_run* run);

/* Work for a thread the host lends this run alone (a loan serves several):
 * checks the blocks that are pending and returns as soon as there are none,
 * at once when none is. Any thread, while another calls qve_run_next; once
 * a thread has called it, qve_run_next leaves blocks pending for such
 * threads, at most a few MiB of them, and checks them itself when the lent
 * threads fall behind. The events come out in order on the thread of
 * qve_run_next whatever the lending. 0, or QVE_ERROR_MISUSE. */
QVE_API int qve_run_work(qve_run* run);
/* Since 1.1: what a lent thread calls once and no poll: checks the blocks
 * pending as qve_run_work does, and sleeps while there is none, until the
 * run is over (QVE_EVENT_DONE, or an error from qve_run_next) or is being
 * stopped (qve_run_stop_work); then gives 0 (at once for a run already
 * over). QVE_ERROR_MISUSE for NULL. */
QVE_API int qve_run_work_wait(qve_run* run);
/* Since 1.1: lets every lent thread of the run go, for a host that ends a
 * run before QVE_EVENT_DONE: every qve_run_work_wait returns, now or as it
 * is called, and qve_run_next checks the blocks itself. Any thread, any
 * time while the run lives. 0, or QVE_ERROR_MISUSE for NULL. */
QVE_API int qve_run_stop_work(qve_run* run);

/* The current event's facts, valid until the next qve_run_next; 0, NULL
 * or "" where they do not apply. The
 * file's index (FILE_START, BLOCK, FILE_END) and, at FILE_START, its
 * reading (1, or above when it changed while read) and path. */
QVE_API size_t qve_run_event_file(const qve_run* run);
QVE_API int qve_run_event_reading(const qve_run* run);
QVE_API const char* qve_run_event_path(const qve_run* run);

/* A block (QVE_EVENT_BLOCK): its verdict (QVE_BLOCK_*: 0 BlockOk, 1
 * BlockUnsigned, 2 BlockNoSignature, 3 BlockInvalid, 4 BlockChainBreak, 5
 * BlockUnexpected), first and last line, the file offset of its signature
 * line, its id and text (*length bytes; NUL-terminated), and 1 when its
 * link is the chain value before it. The verdict is QVE_ERROR_MISUSE when
 * the current event is no block. */
QVE_API int qve_run_block_verdict(const qve_run* run);
QVE_API uint32_t qve_run_block_first_line(const qve_run* run);
QVE_API uint32_t qve_run_block_last_line(const qve_run* run);
QVE_API uint64_t qve_run_block_offset(const qve_run* run);
QVE_API uint32_t qve_run_block_id(const qve_run* run);
QVE_API const char* qve_run_block_text(const qve_run* run, size_t* length);
QVE_API int qve_run_block_link_matched(const qve_run* run);
/* 1 when the block covers no data line (it stands at its signature line
 * alone); its first covered lines, as many as the options ask: each
 * line's number, its first bytes before any NUL (*length of them, never
 * cut inside a UTF-8 character), how many bytes the signature covers, and
 * 1 when the line goes on after a NUL, uncovered. */
QVE_API int qve_run_block_covers_no_line(const qve_run* run);
/* How its signature line parses: 0 it does, 1 its payload is empty, above
 * 1 where it stops (as BlockParseResult numbers them), which
 * qve_run_block_stop says in words ("at offset 12: ..."); the link it
 * carries (*length bytes; NULL when it has none) and its signature's
 * length. */
QVE_API int qve_run_block_parse(const qve_run* run);
QVE_API const char* qve_run_block_stop(const qve_run* run);
QVE_API const uint8_t* qve_run_block_link(const qve_run* run, size_t* length);
QVE_API uint64_t qve_run_block_signature_length(const qve_run* run);
QVE_API size_t qve_run_block_excerpt_count(const qve_run* run);
QVE_API uint32_t qve_run_block_excerpt_line(const qve_run* run, size_t index);
QVE_API const char* qve_run_block_excerpt_text(const qve_run* run, size_t index, size_t* length);
QVE_API uint64_t qve_run_block_excerpt_covered(const qve_run* run, size_t index);
QVE_API int qve_run_block_excerpt_nul(const qve_run* run, size_t index);

/* A warning (QVE_EVENT_WARNING): its QVE_WARNING_*, the path it is about,
 * its text, and 1 when it says that something which could hold evidence was
 * not verified (the run is then QVE_STATUS_INCOMPLETE). */
QVE_API int qve_run_warning_code(const qve_run* run);
QVE_API const char* qve_run_warning_path(const qve_run* run);
QVE_API const char* qve_run_warning_text(const qve_run* run);
QVE_API int qve_run_warning_unverified(const qve_run* run);

/* The files ended so far (all of them once the run is done), by index in
 * the run's order: name, path, verdict (a FileVerdict), blocks, bad blocks
 * and lines; the link of its first signed block and the chain value after
 * its last (*length bytes; NULL when it has none); its unsigned tail's
 * first and last line (0 for none), the first line with bytes after a NUL
 * and how many lines have them, and the line of an end-of-input byte
 * (0x1A) with bytes after it (0 for none). The verdict of an index at or
 * past the count is QVE_ERROR_MISUSE. Text and bytes belong to the run,
 * valid until it is freed or restarts. */
QVE_API size_t qve_run_file_count(const qve_run* run);
QVE_API const char* qve_run_file_name(const qve_run* run, size_t index);
QVE_API const char* qve_run_file_path(const qve_run* run, size_t index);
QVE_API int qve_run_file_verdict(const qve_run* run, size_t index);
QVE_API uint32_t qve_run_file_blocks(const qve_run* run, size_t index);
QVE_API uint32_t qve_run_file_bad_blocks(const qve_run* run, size_t index);
QVE_API uint32_t qve_run_file_lines(const qve_run* run, size_t index);
QVE_API const uint8_t* qve_run_file_first_link(const qve_run* run, size_t index, size_t* length);
QVE_API const uint8_t* qve_run_file_last_chain_value(const qve_run* run, size_t index,
                                                     size_t* length);
QVE_API uint32_t qve_run_file_unsigned_first(const qve_run* run, size_t index);
QVE_API uint32_t qve_run_file_unsigned_last(const qve_run* run, size_t index);
QVE_API uint32_t qve_run_file_nul_first_line(const qve_run* run, size_t index);
QVE_API uint32_t qve_run_file_nul_lines(const qve_run* run, size_t index);
QVE_API uint32_t qve_run_file_end_of_input_line(const qve_run* run, size_t index);
/* 1 when the file opened; the bytes after NULs; the end-of-input byte's
 * offset and the bytes after it; once the run is done, the path of the
 * file before it that cannot be read and that its chain break follows
 * from ("" for none). */
QVE_API int qve_run_file_opened(const qve_run* run, size_t index);
/* Its signature lines; 1 when a block read again did not end where its
 * signature line starts (the file changed while it was read); why it could
 * not be read whole ("damaged gzip data"), "" when it could. */
QVE_API uint32_t qve_run_file_signature_lines(const qve_run* run, size_t index);
QVE_API int qve_run_file_changed_while_read(const qve_run* run, size_t index);
QVE_API const char* qve_run_file_read_fault(const qve_run* run, size_t index);
QVE_API uint64_t qve_run_file_nul_bytes(const qve_run* run, size_t index);
QVE_API uint64_t qve_run_file_end_of_input_offset(const qve_run* run, size_t index);
QVE_API uint64_t qve_run_file_end_of_input_bytes(const qve_run* run, size_t index);
QVE_API const char* qve_run_file_break_follows(const qve_run* run, size_t index);

/* Once done: the status (QVE_STATUS_*, the first of 4, 3, 2, 5, 6, 1, 0
 * that applies), the report's result (QVE_REPORT_*), the files and the bad
 * ones, where a file whose one bad block is a chain break that follows from
 * a file that cannot be read is not bad; QVE_ERROR_MISUSE before. The order
 * the run took: QVE_ORDER_NAME, QVE_ORDER_LINKS, or
 * QVE_ORDER_LINKS_WITH_SEAMS when runs of files the links do not join
 * follow by name. */
#define QVE_ORDER_LINKS_WITH_SEAMS 2
QVE_API int qve_run_status(const qve_run* run);
QVE_API int qve_run_result(const qve_run* run);
QVE_API int qve_run_total_files(const qve_run* run);
QVE_API int qve_run_bad_files(const qve_run* run);
QVE_API int qve_run_order(const qve_run* run);
/* Once done: the data lines that the chain's longest validly signed block
 * covers, how many the writer signs at most (0 when nothing is signed). */
QVE_API uint32_t qve_run_longest_block(const qve_run* run);

/* With the strict option, once done: why the run fails it, each a reason,
 * the path it is about and its text. */
#define QVE_STRICT_FILE_UNSIGNED 1   /* signatures stripped from a file of a signed chain */
#define QVE_STRICT_UNSIGNED_LINES 2  /* unsigned lines but at the newest file's end */
#define QVE_STRICT_EMPTY_SIGNATURE 3 /* an empty signature line */
#define QVE_STRICT_AFTER_NUL 4       /* bytes after a NUL */
#define QVE_STRICT_AFTER_END 5       /* bytes after an end-of-input byte (0x1A) */
#define QVE_STRICT_NAME_CASE 6       /* a log's name but for case, not verified */
#define QVE_STRICT_UNVERIFIED 7      /* anything else that could hold evidence, not verified */
#define QVE_STRICT_HISTORY_SHRUNK 8  /* more files left the old end than a rotation takes */
#define QVE_STRICT_UNSIGNED_TAIL 9   /* the newest file's unsigned tail is too long */
#define QVE_STRICT_STALE 10          /* the record has not grown for stale_after_days */
QVE_API size_t qve_run_strict_count(const qve_run* run);
QVE_API int qve_run_strict_reason(const qve_run* run, size_t index);
QVE_API const char* qve_run_strict_path(const qve_run* run, size_t index);
QVE_API const char* qve_run_strict_text(const qve_run* run, size_t index);

/* With a record, once done: what became of it. LOST: the chain no longer
 * holds the recorded block (QVE_STATUS_CHECKPOINT_LOST). */
#define QVE_CHECKPOINT_NONE 0 /* no record was given */
#define QVE_CHECKPOINT_NEW 1
#define QVE_CHECKPOINT_EXTENDED 2
#define QVE_CHECKPOINT_LOST 3
QVE_API int qve_run_checkpoint(const qve_run* run);
/* The blocks of the chain a record is about, once done: the block the given
 * record holds, where this run holds it (under its file's name now), and
 * the newest block this run verified (the new record's). For each: 1 when
 * it is known, its file's name, signature line, id, the chain value after
 * it and the chain value its run started from (*length bytes), and when it
 * was recorded (RFC 3339; "" for HELD). */
#define QVE_POINT_RECORDED 0
#define QVE_POINT_HELD 1
#define QVE_POINT_NOW 2
/* The oldest block the given record vouches for (a version 2 record):
 * file, line and chain value. */
#define QVE_POINT_OLDEST 3
QVE_API int qve_run_point_known(const qve_run* run, int point);
QVE_API const char* qve_run_point_file(const qve_run* run, int point);
QVE_API uint32_t qve_run_point_line(const qve_run* run, int point);
QVE_API uint32_t qve_run_point_id(const qve_run* run, int point);
/* HELD and NOW: the index of the point's file in the run (as qve_run_file_*). */
QVE_API size_t qve_run_point_file_index(const qve_run* run, int point);
QVE_API const uint8_t* qve_run_point_chain_value(const qve_run* run, int point, size_t* length);
QVE_API const uint8_t* qve_run_point_start(const qve_run* run, int point, size_t* length);
QVE_API const char* qve_run_point_time(const qve_run* run, int point);
/* RECORDED and NOW: when the record's block last changed (RFC 3339; a
 * version 1 record's time). */
QVE_API const char* qve_run_point_grew(const qve_run* run, int point);
/* 1 when the run starts later than the recorded one (its oldest files are
 * gone); why the run gives no new record ("" when it gives one, and when
 * no record was given): nothing signed, or the run does not pass. */
QVE_API int qve_run_checkpoint_starts_later(const qve_run* run);
QVE_API const char* qve_run_checkpoint_not_recorded(const qve_run* run);
/* When the run starts later than a version 2 record: 1, with the files and
 * lines of the recorded history that left its old end (either pointer may
 * be NULL); else 0. 1 when more files left the old end than arrived at the
 * new end since the record (then the new record keeps the recorded oldest
 * block, unless accept); 1 when the record has not grown for
 * stale_after_days. */
QVE_API int qve_run_checkpoint_history_left(const qve_run* run, uint32_t* files, uint32_t* lines);
QVE_API int qve_run_checkpoint_shrunk(const qve_run* run);
QVE_API int qve_run_checkpoint_stale(const qve_run* run);
/* The new record's bytes (*length of them), for the caller to store in
 * place of the old one; NULL when the run did not pass or recorded no
 * block (the old record stands). Owned by the run. */
QVE_API const uint8_t* qve_run_record(const qve_run* run, size_t* length);

#ifdef __cplusplus
}
#endif

#endif /* QVEHELPER_H_ */
