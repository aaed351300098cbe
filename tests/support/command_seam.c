// SPDX-License-Identifier: Apache-2.0
// A seam for the command tests, loaded into a command with LD_PRELOAD: right
// before the command's first $QVE_SEAM_ON call ("rename": rename() or
// renameat2() onto the name; "open": open() of it) on a name that ends in
// $QVE_SEAM_TARGET, it runs $QVE_SEAM_COMMAND with the shell, as another run
// or another writer would act just then. The command holds nothing that
// knows of it.
#define _GNU_SOURCE
#include <dlfcn.h>
#include <fcntl.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

static void Before(const char* call, const char* path) {
  const char* on = getenv("QVE_SEAM_ON");
  const char* target = getenv("QVE_SEAM_TARGET");
  const char* command = getenv("QVE_SEAM_COMMAND");
  if (on == NULL || target == NULL || command == NULL || path == NULL || strcmp(on, call) != 0)
    return;
  const size_t length = strlen(path);
  if (length < strlen(target) || strcmp(path + length - strlen(target), target) != 0) return;
  // Once, and never in what the command starts.
  char* copy = strdup(command);
  unsetenv("QVE_SEAM_ON");
  unsetenv("QVE_SEAM_TARGET");
  unsetenv("QVE_SEAM_COMMAND");
  unsetenv("LD_PRELOAD");
  if (copy != NULL && system(copy) != 0) fprintf(stderr, "seam: the command failed\n");
  free(copy);
}

// The next definition of `name`, called through a pointer copied with memcpy:
// ISO C has no cast from an object pointer to a function pointer.
static void* Next(const char* name) { return dlsym(RTLD_NEXT, name); }

#define SEAM_EXPORT __attribute__((visibility("default")))

SEAM_EXPORT int rename(const char* from, const char* to) {
  Before("rename", to);
  void* symbol = Next("rename");
  int (*next)(const char*, const char*) = NULL;
  memcpy(&next, &symbol, sizeof next);
  return next(from, to);
}

SEAM_EXPORT int renameat2(int fromFolder, const char* from, int toFolder, const char* to,
                          unsigned flags) {
  Before("rename", to);
  void* symbol = Next("renameat2");
  int (*next)(int, const char*, int, const char*, unsigned) = NULL;
  memcpy(&next, &symbol, sizeof next);
  return next(fromFolder, from, toFolder, to, flags);
}

// open() and its 64-bit name, which glibc may bind a call to.
static int Open(const char* name, const char* path, int flags, va_list rest) {
  Before("open", path);
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
