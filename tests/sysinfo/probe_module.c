/* Test plug-in: exports dllInit, through which it fetches errGetLastError by
 * name, and a few calls that let the tests see what it received. */
#include "base/dl.h"

static SYS_BaseGetProc_t g_get_proc;
static int (*g_get_last_error)(void);
static int g_init_calls;

void dllInit(SYS_BaseGetProc_t get_proc) {
  ++g_init_calls;
  g_get_proc = get_proc;
  g_get_last_error = (int (*)(void))get_proc("errGetLastError");
}

/* How often dllInit ran. */
int probe_init_calls(void) { return g_init_calls; }

/* The lookup dllInit was handed. */
SYS_BaseGetProc_t probe_get_proc(void) { return g_get_proc; }

/* Calls the fetched errGetLastError; -1 when dllInit could not fetch it. */
int probe_last_error(void) { return g_get_last_error ? g_get_last_error() : -1; }
