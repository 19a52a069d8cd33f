/* brisk!quantoven base library: dynamic modules.
 *
 * A thin layer over dlopen. A framework module "name" is looked for first as
 * "Modules/name-linux.so" (relative to the working directory), then under the
 * name itself. A module that exports dllInit is handed SYS_BaseGetProc right
 * after loading, so that a plug-in can fetch the base library's functions by
 * name without linking against the program. Loaded modules are kept in a
 * list under the name they were asked for: opening the same name again
 * returns the same handle. */
#ifndef BRISK_BASE_DL_H
#define BRISK_BASE_DL_H

#ifdef __cplusplus
extern "C" {
#endif

/* Error codes of dynamic modules. */
enum {
  SYS_ERR_DL_NOTFOUND = 200, /* no such library file */
  SYS_ERR_DL_LOAD = 201,     /* the library exists but could not be loaded */
  SYS_ERR_DL_HANDLE = 202,   /* null module handle */
  SYS_ERR_DL_UNLOAD = 203    /* the system refused to unload the module */
};

/* One registered module; the list is newest first and process-wide. */
typedef struct TModule_s {
  char *name;             /* the name given to SYS_DlOpen or SYS_DlAddLib (owned) */
  void *handle;           /* the system's module handle */
  struct TModule_s *next;
} TModule;

/* The lookup handed to a module's dllInit: a base library function by name. */
typedef void *(*SYS_BaseGetProc_t)(const char *name);
/* What a module may export as "dllInit". */
typedef void (*SYS_DllInit_t)(SYS_BaseGetProc_t get_proc);

/* Loads (or finds already registered) the module of that name. Null with
 * error 10 (null name), 200 (not found), 201 (could not be loaded) or 5. */
void *SYS_DlOpen(const char *name);
/* The address of symbol, or null (no error code when it is just missing).
 * Null handle: error 202; null symbol: error 10. */
void *SYS_DlGetProc(void *handle, const char *symbol);
/* Unregisters the module of that handle, if registered, and unloads it.
 * 0; -1 with error 202 (null) or 203 (the system refused). */
int SYS_DlClose(void *handle);
/* Head of the module list (clears the error code). */
TModule *SYS_DlGetList(void);
/* Registers an already loaded module under name. 0; -1 with error 10 (null
 * handle or name) or 5. */
int SYS_DlAddLib(void *handle, const char *name);
/* The base library function of that name (exact, case-sensitive), or null. */
void *SYS_BaseGetProc(const char *name);

#ifdef __cplusplus
}
#endif

#endif
