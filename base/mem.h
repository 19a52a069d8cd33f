/* brisk!quantoven base library: tracked memory.
 *
 * Every block carries a header naming its origin ("[file:line] tag") and is
 * linked into one list of live blocks, so that shutdown can report leaks and
 * every release can catch a double release or a foreign pointer. Memory is
 * zero-filled; release clears the caller's pointer. Safe from any thread.
 *
 * Callers use the wrapper macros, which pass their own source position. */
#ifndef BRISK_BASE_MEM_H
#define BRISK_BASE_MEM_H

#ifdef __cplusplus
extern "C" {
#endif

enum { SYS_MEM_GUARD = 0x62726B21u /* "brk!" */ };

/* Size 0 gives null. Null when the system refuses (callers set error 5). */
void *_SYS_MemGet(int size, const char *file, int line, const char *tag);
/* Releases *where (null or a null pointer: nothing) and sets *where to null.
 * A block with a wrong guard is reported and left alone. Returns 0. */
int _SYS_MemFree(void **where, const char *file, int line);
/* Grows or shrinks *where; size 0 releases; a null *where allocates. */
void *_SYS_MemRealloc(void **where, int size, const char *file, int line, const char *tag);
char *_SYS_StrDup(const char *text, const char *file, int line);

/* Requested size of a block; -1 with error 10 for null. */
int SYS_MemSize(void *p);
/* Physical memory of the machine in bytes (saturated at 4 GiB - 1). */
unsigned SYS_MemTotal(void);
unsigned SYS_MemAvail(void);
/* Writes the report of live blocks to path (null: "debug.memleaks"). 0, or -1 with error 9. */
int SYS_MemInfo(const char *path);
/* Writes a block's data to "<info>.memdump". 0, or -1 with error 9 (10 for null). */
int SYS_MemDump(void *p);

#define SYS_MemGet(size, tag) _SYS_MemGet((int)(size), __FILE_NAME__, __LINE__, (tag))
#define SYS_MemFree(ptr) _SYS_MemFree((void **)&(ptr), __FILE_NAME__, __LINE__)
#define SYS_MemRealloc(ptr, size, tag) \
  _SYS_MemRealloc((void **)&(ptr), (int)(size), __FILE_NAME__, __LINE__, (tag))
#define SYS_StrDup(text) _SYS_StrDup((text), __FILE_NAME__, __LINE__)

#ifdef __cplusplus
}
#endif

#endif
