// SPDX-License-Identifier: Apache-2.0
/* ------------------------------------------------------------------------
 * The extension interface: what the qvehelper command does, for hosts, in
 * C, beside the contract's functions (qvehelper/contract.h), which keep
 * their own rules. The headers: this one (versions, errors, names, options,
 * loans), decrypt.h (decryptions, checks, finding containers), diagnosis.h
 * (what a container holds) and run.h (a verification run); QVEHelper.h
 * includes them all.
 *
 * THE ERROR RULE. Every qve_ call that fails sets the calling thread's last
 * error, its code, its message (qve_last_message), the path and reason
 * where there is one (qve_last_problem_path, qve_last_problem_reason, a
 * QVE_PROBLEM_* in qve_last_problem), and gives that code. A run's refusal
 * goes through it too: qve_run_refusal is the reason of the error its add
 * or record call set. An accessor that gives no code (a count, a text, a
 * number) and is misused, given a NULL handle, an index at or past its
 * count or asked out of order, sets the last error all the same and gives
 * 0, NULL or "".
 *
 * Its other rules:
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
 * - The last error (since 1.1 for every call; in 1.0 the container calls
 *   alone) is valid until the thread's next failing call (1.0 kept it until
 *   the next decryption, check or diagnosis: copy it before another call).
 *   A call fails when it gives a QVE_ERROR_* where it documents one, or a
 *   result but Success from qve_decrypt and qve_check; an accessor's -1 for
 *   "none", or a fact that does not apply to a record that exists, is no
 *   failure. A call that succeeds leaves the last error as it was, but
 *   qve_decrypt, qve_check and qve_diagnose_container clear it.
 * - Text given out (names, messages) is UTF-8 and NUL-terminated, owned by
 *   the library, valid as each function says. A path given out is in the
 *   form paths are taken (on Linux a name's bytes; on Windows an unpaired
 *   surrogate as the three bytes WTF-8 gives it); qve_path_w gives its
 *   wide form.
 * - The library starts no thread of its own.
 * ------------------------------------------------------------------------ */
#ifndef QVEHELPER_COMMON_H_
#define QVEHELPER_COMMON_H_

#include "contract.h"

#ifdef __cplusplus
extern "C" {
#endif

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

#ifdef __cplusplus
}
#endif

#endif /* QVEHELPER_COMMON_H_ */
