// SPDX-License-Identifier: Apache-2.0
/* ------------------------------------------------------------------------
 * Containers: a decryption that never leaves unverified plaintext, a check
 * that keeps none, and a diagnosis of what a container holds.
 * ------------------------------------------------------------------------ */
#ifndef QVEHELPER_DECRYPT_H_
#define QVEHELPER_DECRYPT_H_

#include "common.h"

#ifdef __cplusplus
extern "C" {
#endif

/* The step a decryption is at. */
#define QVE_STEP_DECRYPTING 1    /* the container read and decrypted: its bytes */
#define QVE_STEP_CHECKING_SEAL 2 /* the plaintext read back for the seal check: its bytes */

/* Called on the calling thread as the work goes on: at the start and end of
 * each step and about every 256 KiB, with `done` bytes of `total` (0 when
 * unknown: a pipe) in `step`. Return 0 to go on; anything else stops the
 * work, and the call gives QVE_ERROR_CANCELLED. */
typedef int (*qve_progress_fn)(uint64_t done, uint64_t total, int step, void* context);

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

#ifdef __cplusplus
}
#endif

#endif /* QVEHELPER_DECRYPT_H_ */
