/* brisk!quantoven base library: argument list and switches, the log, and the
 * process-wide error state.
 *
 * Every framework module writes its lines through SYS_DbgMsg with a format
 * that starts with its bracketed tag and "[%s:%d:%s()] ", passing the source
 * file, line and function first; SYS_MSG builds exactly that. Nothing is
 * written unless the program was started with -v or -c. */
#ifndef BRISK_BASE_LOG_H
#define BRISK_BASE_LOG_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Error codes of the base library (other subsystems use their own ranges). */
enum {
  SYS_ERR_NOTFOUND = 1,   /* file or pack entry does not exist */
  SYS_ERR_NOMEM = 5,      /* memory could not be obtained */
  SYS_ERR_LEVEL = 6,      /* compression level outside 0..9 */
  SYS_ERR_ZLIB = 8,       /* data could not be (un)compressed */
  SYS_ERR_CREATE = 9,     /* an output file could not be created */
  SYS_ERR_ARG = 10,       /* argument missing or invalid */
  SYS_ERR_HANDLER = 11,   /* no handler accepts the name, or operation unsupported */
  SYS_ERR_MAGIC = 12      /* not a pack archive */
};

/* Level of SYS_DbgMsg: 0 debug (only with -debug-all), 1 warning, 2 information, 3 error. */
enum { SYS_LOG_DEBUG = 0, SYS_LOG_WARN = 1, SYS_LOG_INFO = 2, SYS_LOG_ERROR = 3 };

/* Flag word bits. */
enum { SYS_DBG_ON = 1, SYS_DBG_ECHO = 2, SYS_DBG_STAMP = 4 };

/* --- argument list ------------------------------------------------------ */

/* Appends a private copy of text. Returns 0, or -1 with error 5 (list unchanged). */
int SYS_CfgAdd(const char *text);

/* Finds -name or /name (case-insensitive) in the argument list.
 * kind 0: 1 when present; 1: the following entry (a const char * as an
 * integer); 2: atoi of it; 3: atof of it, truncated. Not found: 0, no error.
 * Null name, or kinds 1..3 without a following entry: -1 with error 10. */
intptr_t SYS_CfgGet(const char *name, int kind);

/* Number of entries and entry i of the argument list (null outside). */
int SYS_CfgCount(void);
const char *SYS_CfgEntry(int index);

/* --- log ---------------------------------------------------------------- */

void SYS_DbgMsg(int level, const char *format, ...) __attribute__((format(printf, 2, 3)));
int SYS_DbgPrintf(int stamp, const char *format, ...) __attribute__((format(printf, 2, 3)));
void SYS_DbgLog(const char *text);
int SYS_DbgSetFlag(unsigned flags);
unsigned SYS_DbgGetFlag(void);
int SYS_DbgLogFile(const char *name);
/* New tracked string "YYYYMMDD HHMMSS" of the local time; the caller releases it. */
char *SYS_TimeStamp(void);

/* One log line of a module: SYS_MSG(2, "file", "opening %s...\n", name) writes
 * "[file][log.cpp:12:func()] opening name...". */
#define SYS_MSG(level, tag, format, ...) \
  SYS_DbgMsg((level), "[" tag "][%s:%d:%s()] " format, __FILE_NAME__, __LINE__, __func__, ##__VA_ARGS__)

/* --- error state -------------------------------------------------------- */

typedef int (*errCallback_t)(int code, const char *text);

void errClear(void);
void errSetLastError(int code);
/* Stores code; with a text and a registered callback, returns the callback's result. */
int errSetLastErrorEx(int code, const char *text);
/* Returns the code and resets it to 0. */
int errGetLastError(void);
void errSetCallback(errCallback_t callback);

#ifdef __cplusplus
}
#endif

#endif
