/* brisk!quantoven base library: the file layer, directory packs and pack archives.
 *
 * Every file is opened by name through SYS_FileOpen. Three handlers are asked
 * in a fixed order whether they hold the name: plain files on disk, mounted
 * directory packs (names relative to the pack's root, "/"-separated), and
 * mounted pack archives. The first that holds the name opens it, and the open
 * file carries that handler's operations, so reads, seeks and closes work the
 * same for all three. A name on disk therefore wins over the same name in a
 * pack. Packs, once mounted, stay mounted until SYS_BaseDone.
 *
 * Pack archive layout (little-endian):
 *   0  "BRKP"    4 entry count    8 catalog offset    12 entry data ...
 *   catalog offset .. end of file: the catalog as one compressed block
 *   (base/zblock.h), holding per entry: stored length (4), data offset (4),
 *   flags (1, bit 0 = compressed), name length L (2), L name bytes.
 * A compressed entry is one compressed block; a stored one is its raw bytes.
 *
 * Not thread-safe: files are opened on one thread; an open file may be used
 * by another. Two open files on the same pack entry share one position, and
 * closing either releases the entry's data. */
#ifndef BRISK_BASE_FILE_H
#define BRISK_BASE_FILE_H

#include <stdint.h>

#include "base/list.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Open flags. Mode of a plain file: "w" with CREATE, else "a" with APPEND,
 * else "r"; then "t" with TEXT, else "b"; then "+" with CREATE. */
enum { SYS_FILE_TEXT = 0x08, SYS_FILE_CREATE = 0x10, SYS_FILE_APPEND = 0x20 };

/* Pack entry flag bits. */
enum { SYS_PACK_COMPRESSED = 0x01 };

typedef struct SYS_File_s SYS_File_t, *SYS_File_p;

/* One handler's operations; a null entry means the handler lacks it.
 *   packopen (path): 0 = mounted.      open (file): 0 = opened.
 *   seek (file, offset from the start): 0 = done.
 *   read: bytes read.                  getstr: the buffer, or null at the end.
 *   putstr, write: 0, or -1.           eof: nonzero at the end.   tell: position.
 *   close: 0 when closed.              exist (name): 0 when held, else -1.
 *   size (name): byte count or -1. */
typedef struct SYS_FileHandler_s {
  const char *name;
  int (*packopen)(const char *path);
  int (*open)(SYS_File_t *file);
  int (*seek)(SYS_File_t *file, int offset);
  int (*read)(SYS_File_t *file, void *buffer, int length);
  char *(*getstr)(SYS_File_t *file, char *buffer, int size);
  int (*putstr)(SYS_File_t *file, const char *text);
  int (*write)(SYS_File_t *file, const void *buffer, int length);
  int (*eof)(SYS_File_t *file);
  int (*tell)(SYS_File_t *file);
  int (*close)(SYS_File_t *file);
  int (*exist)(const char *name);
  int (*size)(const char *name);
} SYS_FileHandler;

/* Catalog entry of a mounted pack archive. */
typedef struct SYS_PackEntry_s {
  uint32_t stored_length; /* bytes the entry occupies in the archive */
  uint32_t size;          /* uncompressed size */
  uint32_t position;      /* read position while open (shared by every open file of the entry) */
  uint32_t offset;        /* offset of the entry's bytes from the start of the archive */
  uint8_t flags;          /* SYS_PACK_COMPRESSED */
  char *name;             /* entry name, exactly as stored */
  void *data;             /* uncompressed contents while open, else null */
} SYS_PackEntry_t;

/* An open file. */
struct SYS_File_s {
  char *name;                      /* the name given to SYS_FileOpen (owned) */
  uint32_t flags;                  /* SYS_FILE_* */
  void *handle;                    /* plain files: the FILE stream; pack entries: the archive's SYS_File_t */
  int32_t size;                    /* plain files: size on disk at open (-1 unknown); pack entries: entry size */
  const SYS_FileHandler *handler;  /* the handler that opened it */
  int (*seek)(SYS_File_t *file, int offset);
  int (*read)(SYS_File_t *file, void *buffer, int length);
  char *(*getstr)(SYS_File_t *file, char *buffer, int size);
  int (*putstr)(SYS_File_t *file, const char *text);
  int (*write)(SYS_File_t *file, const void *buffer, int length);
  int (*eof)(SYS_File_t *file);
  int (*tell)(SYS_File_t *file);
  int (*close)(SYS_File_t *file);
  int (*exist)(const char *name);
  int (*size_of)(const char *name);
  SYS_PackEntry_t *entry;          /* pack entries only */
};

/* A mounted pack archive. */
typedef struct SYS_Pack_s {
  char *path;                /* as given to the mount (owned) */
  SYS_File_t *archive;       /* the archive, open until shutdown */
  int count;                 /* number of entries */
  SYS_PackEntry_t *entries;  /* count entries, in catalog order */
} SYS_Pack_t;

/* A file of a mounted directory pack. */
typedef struct SYS_DirEntry_s {
  char *name; /* path relative to the root, "/"-separated, no leading separator */
  int size;   /* size on disk at mount time */
} SYS_DirEntry_t;

/* A mounted directory pack. */
typedef struct SYS_DirPack_s {
  char *root;                /* root path as given at mount (owned) */
  int count;                 /* number of entries */
  SYS_DirEntry_t **entries;  /* in scan order */
} SYS_DirPack_t;

/* Result of SYS_Glob. */
typedef struct SYS_Glob_s {
  int count;
  char **names; /* count owned texts: the directory part of the pattern joined to each match */
} SYS_Glob_t;

/* --- files ----------------------------------------------------------------- */

/* Opens name through the first handler that holds it; with SYS_FILE_CREATE an
 * unknown name is created on disk. Null on failure, always reported through
 * errSetLastErrorEx with the name: 11 no handler holds it, 5 no memory, or the
 * code the handler's open left (1 no such entry, 8 broken compressed entry,
 * 11 a pack entry opened for writing, 0 a plain file the system refused). */
SYS_File_t *SYS_FileOpen(const char *name, unsigned flags);
/* Absolute seek. 0 when done; -1 with error 10 for a null file or one without handle. */
int SYS_FileSeek(SYS_File_t *file, int offset);
/* Bytes read (0 at the end); -1 with error 10 for a null file or bad buffer,
 * 11 when the handler cannot read, 1 for a pack entry released by another close. */
int SYS_FileRead(SYS_File_t *file, void *buffer, int length);
/* One line of at most size - 1 characters into buffer; null at the end.
 * Plain files drop the line end ("\n" or "\r\n"); pack entries keep it. */
char *SYS_FileGetStr(SYS_File_t *file, char *buffer, int size);
/* printf-style text (cut to 2047 characters). 0, or -1 (10 bad argument, 11 read-only). */
int SYS_FilePutStr(SYS_File_t *file, const char *format, ...) __attribute__((format(printf, 2, 3)));
/* Writes length bytes in one piece: 0, or -1 (11 for pack entries). */
int SYS_FileWrite(SYS_File_t *file, const void *buffer, int length);
/* Nonzero once the end has been reached. */
int SYS_FileEof(SYS_File_t *file);
/* The read position, -1 with error 10 for a null file. */
int SYS_FileTell(SYS_File_t *file);
/* Closes and releases the record; a null file is ignored. The close result. */
int SYS_FileClose(SYS_File_t *file);
/* 0 when any handler holds name, else -1 with error 1 (10 for null). */
int SYS_FileExist(const char *name);
/* Size from the first handler that holds name (1 when it cannot tell), else -1 with error 1. */
int SYS_FileSize(const char *name);

/* --- packs ----------------------------------------------------------------- */

/* Mounts a directory (as a directory pack) or a pack archive. 0, or -1 with error 11. */
int SYS_FilePackOpen(const char *path);
/* The newest mounted archive holding name, or null with error 1. */
SYS_Pack_t *SYS_FindPack(const char *name);
/* The mounted pack archives, newest first (list data: SYS_Pack_t *). */
SYS_List_p SYS_PackGetList(void);
/* Opens entry index of a mounted archive for reading, as SYS_FileOpen does for
 * its name (failures reported the same way; 10 for a bad pack or index). */
SYS_File_t *SYS_PackOpenEntry(SYS_Pack_t *pack, int index);

/* --- directory search ------------------------------------------------------ */

/* Lists the matches of a pattern whose last component may hold wildcards,
 * each joined to the pattern's directory part, sorted; "." and ".." left out.
 * 0 (also when nothing matches: count 0), or -1 with error 10 or 5. */
int SYS_Glob(const char *pattern, SYS_Glob_t **result);
/* Releases a glob result and nulls the caller's pointer. 0, or -1 with error 10. */
int SYS_GlobFree(SYS_Glob_t **glob);

/* --- handler operations ---------------------------------------------------- */

/* Plain files: opens file->name (a "\" counts as "/") with the mode of its flags.
 * -1 without an error code when the system refuses. */
int SYS_FileOpen_reg(SYS_File_t *file);
/* Directory packs: mounts a directory (0; -1 when path is not a directory or
 * the scan fails; an already mounted root gives 0 and no second pack). */
int SYS_FilePackOpen_dir(const char *path);
int SYS_FileOpen_dir(SYS_File_t *file);
/* Adds every regular file below directory to pack, named relative to root. 0, or -1. */
int SYS_FileMapDir(const char *root, const char *directory, SYS_DirPack_t *pack);
/* Size on disk of a directory-pack entry, or -1. */
int SYS_FileFind(const char *name);
/* Pack archives: mounts an archive. 0, or -1 with 10 (null), 1 (no such file),
 * 12 (no magic, or a catalog that does not fit the archive), 5 or 8. */
int SYS_FilePackOpen_pack(const char *path);

#ifdef __cplusplus
}
#endif

#endif
