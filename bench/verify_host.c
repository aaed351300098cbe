// SPDX-License-Identifier: Apache-2.0
/* A C host that verifies one chain as a monitoring service would: N lent
 * threads asleep in qve_run_work_wait, blocks not kept, each block's
 * verdict read and nothing more.
 *
 *   verify_host WORKERS PATH...
 *
 * Exits with the run's status (as qvehelper verify does), 70 when the run
 * could not be made or ended with an error. */
#include <QVEHelper.h>
#include <stdio.h>
#include <stdlib.h>
#include <threads.h>

#define MAX_WORKERS 64

static int lend(void* run) { return qve_run_work_wait(run); }

int main(int argc, char** argv) {
  if (argc < 3) {
    fprintf(stderr, "usage: %s WORKERS PATH...\n", argv[0]);
    return 64;
  }
  const int workers = atoi(argv[1]);
  if (workers < 0 || workers > MAX_WORKERS) {
    fprintf(stderr, "%s: WORKERS from 0 to %d\n", argv[0], MAX_WORKERS);
    return 64;
  }
  const qve_run_options options = QVE_RUN_OPTIONS_INIT;
  qve_run* run = NULL;
  if (qve_run_create(&options, &run) != 0) {
    fprintf(stderr, "%s: %s\n", argv[0], qve_last_message());
    return 70;
  }
  for (int i = 2; i < argc; ++i) {
    if (qve_run_add(run, argv[i]) != 0) {
      fprintf(stderr, "%s: %s\n", argv[0], qve_last_message());
      qve_run_free(run);
      return 70;
    }
  }
  thrd_t lent[MAX_WORKERS];
  int started = 0;
  for (; started < workers; ++started)
    if (thrd_create(&lent[started], lend, run) != thrd_success) break;
  long bad = 0;
  int kind;
  while ((kind = qve_run_next(run)) > 0 && kind != QVE_EVENT_DONE)
    if (kind == QVE_EVENT_BLOCK && qve_run_block_verdict(run) != QVE_BLOCK_OK) ++bad;
  /* An error ends the run, which lets the lent threads go. */
  for (int i = 0; i < started; ++i) thrd_join(lent[i], NULL);
  const int status = kind == QVE_EVENT_DONE ? qve_run_status(run) : 70;
  if (kind < 0) fprintf(stderr, "%s: %s\n", argv[0], qve_last_message());
  printf("%ld bad blocks, status %d\n", bad, status);
  qve_run_free(run);
  return status;
}
