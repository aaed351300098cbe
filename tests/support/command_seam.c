// SPDX-License-Identifier: Apache-2.0
// LD_PRELOADed into a command. For calls of kind $QVE_SEAM_ON ("open",
// "open-write": an open that may create or write, "rename": rename,
// renameat2 or linkat onto the name) on a name ending in $QVE_SEAM_TARGET
// (containing it, after a leading '*'): runs $QVE_SEAM_COMMAND by the shell
// right before the first, as another writer would act just then; with
// $QVE_SEAM_ERRNO, fails $QVE_SEAM_TIMES calls (default 1, 0: all) from the
// $QVE_SEAM_NTH (default 1) with it. What the command starts inherits none.
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

// Read at the first matching call and then unset. Nothing is allocated
// before: a sanitizer's runtime opens files while it starts.
static struct {
  int taken;
  const char *on, *target, *command;
  int error;
  long nth, times, calls;
} seam;

static long Number(const char* name, long otherwise) {
  const char* text = getenv(name);
  return text != NULL ? strtol(text, NULL, 10) : otherwise;
}

static int Matches(const char* target, const char* path) {
  if (target == NULL || path == NULL) return 0;
  if (target[0] == '*') return strstr(path, target + 1) != NULL;
  const size_t length = strlen(path), suffix = strlen(target);
  return length >= suffix && strcmp(path + length - suffix, target) == 0;
}

// Whether the call of kind `call` on `path` is to fail, with errno set.
static int Before(const char* call, const char* path) {
  if (!__atomic_load_n(&seam.taken, __ATOMIC_SEQ_CST)) {
    const char* on = getenv("QVE_SEAM_ON");
    const char* target = getenv("QVE_SEAM_TARGET");
    if (on == NULL || strcmp(on, call) != 0 || !Matches(target, path)) return 0;
    if (!__atomic_exchange_n(&seam.taken, 1, __ATOMIC_SEQ_CST)) {
      // The environment's strings stay where they are once unset.
      seam.on = on;
      seam.target = target;
      seam.command = getenv("QVE_SEAM_COMMAND");
      seam.error = (int)Number("QVE_SEAM_ERRNO", 0);
      seam.nth = Number("QVE_SEAM_NTH", 1);
      seam.times = Number("QVE_SEAM_TIMES", 1);
      static const char* const names[] = {"QVE_SEAM_ON",    "QVE_SEAM_TARGET", "QVE_SEAM_COMMAND",
                                          "QVE_SEAM_ERRNO", "QVE_SEAM_NTH",    "QVE_SEAM_TIMES",
                                          "LD_PRELOAD"};
      for (size_t i = 0; i < sizeof names / sizeof names[0]; ++i) unsetenv(names[i]);
    }
  }
  if (seam.on == NULL || strcmp(seam.on, call) != 0 || !Matches(seam.target, path)) return 0;
  const long count = __atomic_add_fetch(&seam.calls, 1, __ATOMIC_SEQ_CST);
  const char* command = __atomic_exchange_n(&seam.command, NULL, __ATOMIC_SEQ_CST);
  if (command != NULL && command[0] != '\0' && system(command) != 0)
    fprintf(stderr, "seam: the command failed\n");
  if (seam.error == 0 || count < seam.nth) return 0;
  if (seam.times != 0 && count >= seam.nth + seam.times) return 0;
  errno = seam.error;
  return 1;
}

// The next definition of the function being defined, copied with memcpy:
// ISO C has no cast from an object pointer to a function pointer.
#define NEXT(name)                        \
  __typeof__(&name) next = NULL;          \
  void* symbol = dlsym(RTLD_NEXT, #name); \
  memcpy(&next, &symbol, sizeof next)
#define SEAM_EXPORT __attribute__((visibility("default")))

SEAM_EXPORT int rename(const char* from, const char* to) {
  if (Before("rename", to)) return -1;
  NEXT(rename);
  return next(from, to);
}

SEAM_EXPORT int renameat2(int fromDir, const char* from, int toDir, const char* to, unsigned f) {
  if (Before("rename", to)) return -1;
  NEXT(renameat2);
  return next(fromDir, from, toDir, to, f);
}

SEAM_EXPORT int linkat(int fromDir, const char* from, int toDir, const char* to, int flags) {
  if (Before("rename", to)) return -1;
  NEXT(linkat);
  return next(fromDir, from, toDir, to, flags);
}

// open() and its 64-bit name, which glibc may bind a call to.
#define OPEN(name)                                                                         \
  SEAM_EXPORT int name(const char* path, int flags, ...) {                                 \
    const int writes = (flags & (O_CREAT | O_TMPFILE | O_WRONLY | O_RDWR | O_TRUNC)) != 0; \
    if (Before("open", path) || (writes && Before("open-write", path))) return -1;         \
    va_list rest;                                                                          \
    va_start(rest, flags);                                                                 \
    const mode_t mode = (flags & (O_CREAT | O_TMPFILE)) != 0 ? va_arg(rest, mode_t) : 0;   \
    va_end(rest);                                                                          \
    NEXT(name);                                                                            \
    return next(path, flags, mode);                                                        \
  }
OPEN(open)
OPEN(open64)
