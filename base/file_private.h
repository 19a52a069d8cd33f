// Private to the file layer: the handler operations of each handler source,
// the handler table in lookup order, and the helpers they share.
#pragma once

#include <string>

#include "base/file.h"
#include "base/internal.h"

namespace brisk::base::file {

// Level of every file-layer log line: shown with -debug-file.
inline int Level() { return SwitchLevel(g_debug.file); }

// A name as the file system takes it.
inline std::string NativePath(const char *name) {
  std::string path = name ? name : "";
  return WithSlashes(path);
}

// Plain-file operations (file_regularfile.cpp), shared by directory packs.
int RegSeek(SYS_File_t *file, int offset);
int RegRead(SYS_File_t *file, void *buffer, int length);
char *RegGetStr(SYS_File_t *file, char *buffer, int size);
int RegPutStr(SYS_File_t *file, const char *text);
int RegWrite(SYS_File_t *file, const void *buffer, int length);
int RegEof(SYS_File_t *file);
int RegTell(SYS_File_t *file);
int RegClose(SYS_File_t *file);
int RegExist(const char *name);
int RegSize(const char *name);

// Directory packs (file_dir.cpp).
int DirExist(const char *name);
void DirShutdown();

// Pack archives (file_pack.cpp).
int PackOpen(SYS_File_t *file);
int PackSeek(SYS_File_t *file, int offset);
int PackRead(SYS_File_t *file, void *buffer, int length);
char *PackGetStr(SYS_File_t *file, char *buffer, int size);
int PackPutStr(SYS_File_t *file, const char *text);
int PackWrite(SYS_File_t *file, const void *buffer, int length);
int PackEof(SYS_File_t *file);
int PackTell(SYS_File_t *file);
int PackClose(SYS_File_t *file);
int PackExist(const char *name);
int PackSize(const char *name);
void PackShutdown();

// The handlers in lookup order: plain files, directory packs, pack archives.
inline constexpr SYS_FileHandler kHandlers[] = {
    {"Regular file handler", nullptr, SYS_FileOpen_reg, RegSeek, RegRead, RegGetStr, RegPutStr, RegWrite, RegEof,
     RegTell, RegClose, RegExist, RegSize},
    {"Dir pack handler", SYS_FilePackOpen_dir, SYS_FileOpen_dir, RegSeek, RegRead, RegGetStr, RegPutStr, RegWrite,
     RegEof, RegTell, RegClose, DirExist, SYS_FileFind},
    {"Pack handler", SYS_FilePackOpen_pack, PackOpen, PackSeek, PackRead, PackGetStr, PackPutStr, PackWrite, PackEof,
     PackTell, PackClose, PackExist, PackSize},
};
inline constexpr const SYS_FileHandler &kRegularHandler = kHandlers[0];
inline constexpr const SYS_FileHandler &kPackHandler = kHandlers[2];

// Allocates a file record for handler, runs open on it and reports a failure
// through errSetLastErrorEx with the name (file.cpp). prepare, when given,
// fills the record before open runs.
SYS_File_t *OpenRecord(const SYS_FileHandler &handler, const char *name, unsigned flags,
                       void (*prepare)(SYS_File_t *, void *) = nullptr, void *context = nullptr);

}  // namespace brisk::base::file
