/* Preloaded into the show's process by the program tests: makes dlopen fail,
 * as for a library that is not installed, for every name listed (separated
 * by colons) in BRISK_HIDE_LIBS. Every other name loads as usual. */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <stdlib.h>
#include <string.h>

void *dlopen(const char *name, int flags) {
  static void *(*real_dlopen)(const char *, int);
  if (!real_dlopen) real_dlopen = (void *(*)(const char *, int))dlsym(RTLD_NEXT, "dlopen");
  const char *hidden = getenv("BRISK_HIDE_LIBS");
  if (name && hidden) {
    size_t n = strlen(name);
    for (const char *p = hidden; *p;) {
      const char *end = strchr(p, ':');
      size_t len = end ? (size_t)(end - p) : strlen(p);
      if (len == n && strncmp(p, name, n) == 0) {
        /* Fails the way a missing file does, dlerror() text included. */
        char missing[512] = "/nonexistent-brisk-hidden/";
        strncat(missing, name, sizeof missing - strlen(missing) - 1);
        return real_dlopen(missing, flags);
      }
      if (!end) break;
      p = end + 1;
    }
  }
  return real_dlopen(name, flags);
}
