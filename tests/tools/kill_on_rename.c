// SPDX-License-Identifier: Apache-2.0
/* Preloaded into a program under test: the program is killed with SIGKILL
   at the rename of a file, before it (KILL_ON_RENAME=before) or right after
   it (KILL_ON_RENAME=after), as a power cut at that moment would stop it. */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

int rename(const char* from, const char* to) {
  const char* when = getenv("KILL_ON_RENAME");
  if (when != NULL && strcmp(when, "before") == 0) raise(SIGKILL);
  int (*real)(const char*, const char*) = (int (*)(const char*, const char*))dlsym(RTLD_NEXT, "rename");
  const int rc = real(from, to);
  if (when != NULL && strcmp(when, "after") == 0) raise(SIGKILL);
  return rc;
}
