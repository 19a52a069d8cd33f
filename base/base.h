/* brisk!quantoven base library: paths, base start-up and shutdown, and the
 * umbrella header of the whole base library. */
#ifndef BRISK_BASE_BASE_H
#define BRISK_BASE_BASE_H

#include "base/list.h"
#include "base/log.h"
#include "base/mem.h"
#include "base/msgbox.h"
#include "base/str.h"
#include "base/thread.h"
#include "base/timer.h"

#ifdef __cplusplus
extern "C" {
#endif

typedef struct SYS_CPU_s SYS_CPU_t;

/* Path kinds of SYS_PathGet. */
enum {
  SYS_PATH_NONE = 0, SYS_PATH_SYSTEM = 1, SYS_PATH_HOME = 2, SYS_PATH_HOMECFG = 3,
  SYS_PATH_DESKTOP = 4, SYS_PATH_TEMP = 5
};

/* New tracked string of name placed in one of the well-known directories; the
 * caller releases it. Kind 0: null; above 5: null with error 10. */
char *SYS_PathGet(unsigned kind, const char *name);
const char *SYS_PathSetHomeBase(const char *base);
/* Creates a directory and its missing parents. 0 when created, 1 otherwise. */
int SYS_MkDir(const char *path);

/* Starts the base library: threads, arguments, log, memory, processor, clock. Returns 0. */
int SYS_BaseInit(void *module, int count, char **arguments, SYS_CPU_t **cpu);
/* Stops it: threads report, arguments released, end of log, leak report. Returns 0. */
int SYS_BaseDone(void);

#ifdef __cplusplus
}
#endif

#endif
