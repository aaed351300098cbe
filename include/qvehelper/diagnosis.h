// SPDX-License-Identifier: Apache-2.0
/* ------------------------------------------------------------------------
 * A container's diagnosis.
 * ------------------------------------------------------------------------ */
#ifndef QVEHELPER_DIAGNOSIS_H_
#define QVEHELPER_DIAGNOSIS_H_

#include "common.h"

#ifdef __cplusplus
extern "C" {
#endif

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
 * diagnosis or an index at or past the count (both a misuse, which sets the
 * last error), and for a fact the diagnosis did not reach. Text and bytes
 * belong to the diagnosis.
 *
 * Accessors, not a struct: a diagnosis is read once, by a tool that prints
 * it, and its facts grow with each step the library learns to take; a new
 * accessor is a new name a host can look for (qve_has), where a struct
 * would need a version member checked before every read. */
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

#ifdef __cplusplus
}
#endif

#endif /* QVEHELPER_DIAGNOSIS_H_ */
