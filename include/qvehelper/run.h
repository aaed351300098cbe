// SPDX-License-Identifier: Apache-2.0
/* ------------------------------------------------------------------------
 * A verification run: one chain of logs verified as qvehelper verify
 * verifies it, its findings taken as a stream of events on the run's own
 * thread, one by one, in order. The run keeps per-file totals, never every
 * block, so its memory stays flat however long the logs are.
 * ------------------------------------------------------------------------ */
#ifndef QVEHELPER_RUN_H_
#define QVEHELPER_RUN_H_

#include "common.h"

#ifdef __cplusplus
extern "C" {
#endif

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

/* Accessors, not structs, in each family below. A block's facts are read
 * once per block, mostly its verdict alone: an accessor copies nothing a
 * host does not ask for, where a struct would carry the text, link and
 * excerpt of every block. A file's and a point's facts are few and read
 * once per run, so a struct would save nothing but names; the families keep
 * growing (1.1 added history and policy facts), and a new accessor is
 * visible to a host through qve_has where a struct needs a version check.
 * Every accessor misused (see the error rule in common.h) sets the last
 * error. */

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
#define QVE_PARSE_OK 0    /* qve_run_block_parse: the signature line parses */
#define QVE_PARSE_EMPTY 1 /* its payload is empty */
/* Since 1.1: where the block stands in its file's chain, as qvehelper
 * inspect shows it: the unsigned tail (no signature line, so no row), the
 * file's first signature line (its link points before the file), one whose
 * link is the chain value before it or is not, or one that does not parse
 * (no link). QVE_ERROR_MISUSE when the current event is no block. */
#define QVE_LINK_UNSIGNED_TAIL 0
#define QVE_LINK_FIRST 1
#define QVE_LINK_MATCHES 2
#define QVE_LINK_DIFFERS 3
#define QVE_LINK_UNPARSED 4
QVE_API int qve_run_block_chain(const qve_run* run);
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

#endif /* QVEHELPER_RUN_H_ */
