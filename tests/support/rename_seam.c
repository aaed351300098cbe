// SPDX-License-Identifier: Apache-2.0
// A seam for the command tests, loaded into a command with LD_PRELOAD: right
// before the command's first rename() or renameat2() onto a name that ends in
// $QVE_SEAM_RENAME_TARGET it runs $QVE_SEAM_COMMAND with the shell, as
// another run or another writer would act just then. The command holds
// nothing that knows of it.
#define _GNU_SOURCE
#include <dlfcn.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

static void BeforeRename(const char* to) {
  const char* target = getenv("QVE_SEAM_RENAME_TARGET");
  const char* command = getenv("QVE_SEAM_COMMAND");
  const size_t length = to != NULL ? strlen(to) : 0;
  if (target != NULL && command != NULL && length >= strlen(target) &&
      strcmp(to + length - strlen(target), target) == 0) {
    // Once, and never in what the command starts.
    char* copy = strdup(command);
    unsetenv("QVE_SEAM_COMMAND");
    unsetenv("QVE_SEAM_RENAME_TARGET");
    unsetenv("LD_PRELOAD");
    if (copy != NULL && system(copy) != 0) fprintf(stderr, "rename seam: the command failed\n");
    free(copy);
  }
}

// The next definition of `name`, called through a pointer copied with memcpy:
// ISO C has no cast from an object pointer to a function pointer.
static void* Next(const char* name) { return dlsym(RTLD_NEXT, name); }

__attribute__((visibility("default"))) int rename(const char* from, const char* to) {
  BeforeRename(to);
  void* symbol = Next("rename");
  int (*next)(const char*, const char*) = NULL;
  memcpy(&next, &symbol, sizeof next);
  return next(from, to);
}

__attribute__((visibility("default"))) int renameat2(int fromFolder, const char* from, int toFolder,
                                                     const char* to, unsigned flags) {
  BeforeRename(to);
  void* symbol = Next("renameat2");
  int (*next)(int, const char*, int, const char*, unsigned) = NULL;
  memcpy(&next, &symbol, sizeof next);
  return next(fromFolder, from, toFolder, to, flags);
}
