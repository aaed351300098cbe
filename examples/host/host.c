// SPDX-License-Identifier: Apache-2.0
/* A host program on the qve_ functions of QVEHelper alone: decrypts a
 * container with progress, checks it again without keeping any plaintext,
 * prints what a diagnosis finds in it and the library's version.
 *
 *   host CONTAINER OUTPUT
 *
 * Exits 0 when the container decrypts with a good seal (OUTPUT then holds
 * the verified plaintext), 1 for any other result of the container (OUTPUT
 * is left as it was), 2 for an error: a usage slip, an OUTPUT that cannot be
 * written, memory. Paths are UTF-8 here; a Windows host passes its UTF-16
 * paths to the same functions ending in _w (qve_decrypt_w, ...).
 */
#include <QVEHelper.h>
#include <stdio.h>

/* Called on this thread as the work goes on; a non-zero return would stop
 * it (QVE_ERROR_CANCELLED, OUTPUT untouched). */
static int show_progress(uint64_t done, uint64_t total, int step, void* context) {
  const char* program = context;
  fprintf(stderr, "%s: %s %llu of %llu bytes\n", program,
          step == QVE_STEP_DECRYPTING ? "decrypted" : "checked", (unsigned long long)done,
          (unsigned long long)total);
  return 0;
}

static void print_hex(const char* label, const uint8_t* bytes, size_t length) {
  printf("%s", label);
  for (size_t i = 0; i < length; ++i) printf("%02x", bytes[i]);
  printf("\n");
}

static const char* decryption_name(int code) {
  return qve_result_name(QVE_RESULT_OF_DECRYPTION, code);
}

/* The facts of the diagnosis, one accessor each; 1 when it ran. */
static int print_diagnosis(const char* path) {
  const qve_diagnose_options options = {.size = sizeof options, .decrypt = 1};
  qve_diagnosis* d = NULL;
  const int code = qve_diagnose_container(path, &options, &d);
  if (code < 0) {
    fprintf(stderr, "diagnosis: %s: %s\n", decryption_name(code), qve_last_message());
    return 0;
  }
  printf("size %llu bytes\n", (unsigned long long)qve_diagnosis_size(d));
  if (qve_diagnosis_header_status(d) != 0) {
    printf("header stops at offset %llu: %s (%s)\n",
           (unsigned long long)qve_diagnosis_header_offset(d), qve_diagnosis_header_problem(d),
           qve_diagnosis_header_status_name(d));
  } else {
    printf("version %lld, %lld recipient(s)\n", (long long)qve_diagnosis_version(d),
           (long long)qve_diagnosis_recipient_count(d));
  }
  for (size_t i = 0; i < qve_diagnosis_record_count(d); ++i) {
    size_t length = 0;
    const uint8_t* id = qve_diagnosis_record_key_id(d, i, &length);
    printf("record %zu at offset %llu, wrapped key %zu bytes%s, ", i + 1,
           (unsigned long long)qve_diagnosis_record_offset(d, i),
           qve_diagnosis_record_wrapped_key_length(d, i),
           qve_diagnosis_record_used(d, i) ? " (used)" : "");
    print_hex("key ", id, length);
  }
  if (qve_diagnosis_header_status(d) == 0) {
    size_t length = 0;
    const uint8_t* iv = qve_diagnosis_iv(d, &length);
    print_hex("iv ", iv, length);
    printf("payload %llu bytes in %zu-byte blocks%s\n",
           (unsigned long long)qve_diagnosis_payload_length(d), qve_diagnosis_block_size(d),
           qve_diagnosis_cut_short(d) ? ", cut short" : "");
    printf("session key: %s, CRC %s, %zu bytes\n",
           qve_diagnosis_key_unwraps(d) ? "unwraps" : "does not unwrap",
           qve_diagnosis_key_crc_matches(d) ? "matches" : "does not match",
           qve_diagnosis_key_material_length(d));
  }
  if (qve_diagnosis_seal_found(d)) {
    size_t length = 0;
    const uint8_t* id = qve_diagnosis_seal_key_id(d, &length);
    printf("seal %u bytes, signature %zu bytes, %s, ", qve_diagnosis_seal_length(d),
           qve_diagnosis_seal_signature_length(d),
           qve_diagnosis_seal_names_built_in_key(d) ? "the built-in key" : "another key");
    print_hex("key ", id, length);
  } else if (qve_diagnosis_seal_reached(d)) {
    printf("no seal: %s\n", qve_diagnosis_seal_problem(d));
  }
  const int result = qve_diagnosis_seal_result(d);
  printf("a decryption gives %s%s%s\n", decryption_name(result),
         *qve_diagnosis_cause(d, result) ? ": " : "", qve_diagnosis_cause(d, result));
  qve_diagnosis_free(d);
  return 1;
}

int main(int argc, char** argv) {
  if (argc != 3) {
    fprintf(stderr, "usage: %s CONTAINER OUTPUT\n", argv[0]);
    return 2;
  }
  printf("QVEHelper %s with %s%s\n", qve_version(), qve_crypto_library_version(),
         qve_development_keys() ? " (development keys, insecure)" : "");

  const qve_decrypt_options options = {
      .size = sizeof options, .progress = show_progress, .context = argv[0]};
  const int decrypted = qve_decrypt(argv[1], argv[2], &options);
  printf("decrypt: %s\n", decryption_name(decrypted));
  if (decrypted != QVE_DECRYPT_SUCCESS && *qve_last_message()) printf("  %s\n", qve_last_message());

  /* No scratch folder: the plaintext is checked in memory as it is decrypted. */
  const qve_check_options check = QVE_CHECK_OPTIONS_INIT;
  const int checked = qve_check(argv[1], &check);
  printf("check: %s\n", decryption_name(checked));

  const int diagnosed = print_diagnosis(argv[1]);
  if (decrypted < 0 || checked < 0 || !diagnosed) return 2;
  return decrypted == QVE_DECRYPT_SUCCESS && checked == QVE_DECRYPT_SUCCESS ? 0 : 1;
}
