/* brisk!quantoven base library: processor and system information.
 *
 * The processor is identified once (CPUID, and a clock rate measured against
 * the millisecond clock with the time-stamp counter) into one static record
 * that callers may read. The system texts (operating system, distribution,
 * kernel version) are made by SYS_DetectSystem, which the log start-up calls
 * when the log is on. */
#ifndef BRISK_BASE_INFO_H
#define BRISK_BASE_INFO_H

#ifdef __cplusplus
extern "C" {
#endif

/* The processor has no CPUID instruction (no processor description). */
enum { SYS_ERR_NOCPUID = 100 };

/* Kinds of SYS_GetString. */
enum {
  SYS_STR_OSTYPE = 0,   /* operating system type (uname sysname) */
  SYS_STR_DISTRIB = 1,  /* distribution (os-release PRETTY_NAME) */
  SYS_STR_KERNEL = 2,   /* kernel version (uname release) */
  SYS_STR_CPUNAME = 3,  /* readable processor name */
  SYS_STR_CPUMHZ = 4,   /* the clock rate as "%.2f MHz" */
  SYS_STR_CPU = 5       /* the SYS_CPU_t record itself */
};

/* The processor description. Fifteen 32-bit ints, one float, 256 characters:
 * other modules declare the same layout. Flags are 0 or 1. */
struct SYS_CPU_s {
  int family;     /* base family; 15 plus the extended family for family 15 */
  int model;      /* CPUID leaf 1, EAX bits 4..7 */
  int stepping;   /* CPUID leaf 1, EAX bits 0..3 */
  int mmx;        /* MMX */
  int mmx2;       /* AMD's MMX extensions */
  int _3dnow;     /* 3DNow! */
  int _3dnowext;  /* extended 3DNow! */
  int sse;
  int sse2;
  int sse3;
  int reserved1[3];
  int tsc;        /* time-stamp counter present */
  int reserved2;
  float mhz;      /* measured clock rate, 0 without a time-stamp counter */
  char name[256]; /* vendor, model name and clock text; empty for an unknown vendor */
};
typedef struct SYS_CPU_s SYS_CPU_t; /* also declared by base/base.h */

/* The processor description: detected on the first call (which measures the
 * clock for about a quarter of a second), the same record afterwards.
 * Clears the error code; null with error 100 without CPUID. The switches
 * -disable-mmx, -disable-mmxext, -disable-sse, -disable-sse2, -disable-sse3,
 * -disable-3dnow and -disable-3dnowext clear their flags at detection. */
SYS_CPU_t *SYS_GetCPU(void);

/* Builds the system texts and logs them with the memory figures (at the
 * -debug-info level). Returns 0. */
int SYS_DetectSystem(void);

/* Clears the error code. Kinds 0..2: the system texts (null until
 * SYS_DetectSystem has run); 3 the processor name; 4 the clock text;
 * 5 the SYS_CPU_t record. Other kinds: null with error 10. Kinds 3..5 detect
 * the processor first and give null with error 100 without CPUID. */
const char *SYS_GetString(unsigned kind);

#ifdef __cplusplus
}
#endif

#endif
