// SPDX-License-Identifier: Apache-2.0
// A seam for the command tests, loaded into a command with LD_PRELOAD. It
// acts on the command's calls of one kind, $QVE_SEAM_ON:
//   "open"       open() of a name,
//   "open-write" open() that may create or write (a read-only file system
//                refuses these and nothing else),
//   "rename"     rename(), renameat2() or linkat() onto a name,
// on a name that ends in $QVE_SEAM_TARGET (that contains it, when the
// target starts with '*'). Right before the first such call it runs
// $QVE_SEAM_COMMAND with the shell, as another run or another writer would
// act just then. With $QVE_SEAM_ERRNO (a number) the calls from the
// $QVE_SEAM_NTH (1 by default) on fail with that error instead,
// $QVE_SEAM_TIMES of them (1 by default; 0: all), as a full disk, a
// read-only folder or a file gone for a moment would make them fail. The
// command holds nothing that knows of it, and what it starts inherits none.
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

// Taken from the environment at the first matching call, and then removed
// from it. Nothing is allocated before: a sanitizer's runtime opens files
// while it starts, and must not meet its own malloc in here.
static struct {
  int taken;
  const char* on;
  const char* target;
  const char* command;
  int error;
  long nth;
  long times;
  long calls;  // matching calls so far
} seam;

static long Number(const char* name, long otherwise) {
  const char* text = getenv(name);
  return text != NULL ? strtol(text, NULL, 10) : otherwise;
}

static int Matches(const char* target, const char* path) {
  if (target == NULL || path == NULL) return 0;
  if (target[0] == '*') return strstr(path, target + 1) != NULL;
  const size_t length = strlen(path);
  return length >= strlen(target) && strcmp(path + length - strlen(target), target) == 0;
}

// Whether the call of kind `call` on `path` is to fail, with errno set.
static int Before(const char* call, const char* path) {
  if (!__atomic_load_n(&seam.taken, __ATOMIC_SEQ_CST)) {
    const char* on = getenv("QVE_SEAM_ON");
    const char* target = getenv("QVE_SEAM_TARGET");
    if (on == NULL || strcmp(on, call) != 0 || !Matches(target, path)) return 0;
    if (!__atomic_exchange_n(&seam.taken, 1, __ATOMIC_SEQ_CST)) {
      // The environment's own strings stay where they are once unset.
      seam.on = on;
      seam.target = target;
      seam.command = getenv("QVE_SEAM_COMMAND");
      seam.error = (int)Number("QVE_SEAM_ERRNO", 0);
      seam.nth = Number("QVE_SEAM_NTH", 1);
      seam.times = Number("QVE_SEAM_TIMES", 1);
      // Never in what the command starts.
      unsetenv("QVE_SEAM_ON");
      unsetenv("QVE_SEAM_TARGET");
      unsetenv("QVE_SEAM_COMMAND");
      unsetenv("QVE_SEAM_ERRNO");
      unsetenv("QVE_SEAM_NTH");
      unsetenv("QVE_SEAM_TIMES");
      unsetenv("LD_PRELOAD");
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

// The next definition of `name`, called through a pointer copied with memcpy:
// ISO C has no cast from an object pointer to a function pointer.
static void* Next(const char* name) { return dlsym(RTLD_NEXT, name); }

#define SEAM_EXPORT __attribute__((visibility("default")))

SEAM_EXPORT int rename(const char* from, const char* to) {
  if (Before("rename", to)) return -1;
  void* symbol = Next("rename");
  int (*next)(const char*, const char*) = NULL;
  memcpy(&next, &symbol, sizeof next);
  return next(from, to);
}

SEAM_EXPORT int renameat2(int fromFolder, const char* from, int toFolder, const char* to,
                          unsigned flags) {
  if (Before("rename", to)) return -1;
  void* symbol = Next("renameat2");
  int (*next)(int, const char*, int, const char*, unsigned) = NULL;
  memcpy(&next, &symbol, sizeof next);
  return next(fromFolder, from, toFolder, to, flags);
}

SEAM_EXPORT int linkat(int fromFolder, const char* from, int toFolder, const char* to, int flags) {
  if (Before("rename", to)) return -1;
  void* symbol = Next("linkat");
  int (*next)(int, const char*, int, const char*, int) = NULL;
  memcpy(&next, &symbol, sizeof next);
  return next(fromFolder, from, toFolder, to, flags);
}

// open() and its 64-bit name, which glibc may bind a call to.
static int Open(const char* name, const char* path, int flags, va_list rest) {
  const int writes = (flags & (O_CREAT | O_TMPFILE | O_WRONLY | O_RDWR | O_TRUNC)) != 0;
  if (Before("open", path) || (writes && Before("open-write", path))) return -1;
  const mode_t mode = (flags & (O_CREAT | O_TMPFILE)) != 0 ? va_arg(rest, mode_t) : 0;
  void* symbol = Next(name);
  int (*next)(const char*, int, ...) = NULL;
  memcpy(&next, &symbol, sizeof next);
  return next(path, flags, mode);
}

SEAM_EXPORT int open(const char* path, int flags, ...) {
  va_list rest;
  va_start(rest, flags);
  const int fd = Open("open", path, flags, rest);
  va_end(rest);
  return fd;
}

SEAM_EXPORT int open64(const char* path, int flags, ...) {
  va_list rest;
  va_start(rest, flags);
  const int fd = Open("open64", path, flags, rest);
  va_end(rest);
  return fd;
}
