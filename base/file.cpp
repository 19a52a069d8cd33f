// The file layer: SYS_FileOpen over the handler table, the file calls that
// pass through to the open file's operations, pack mounting and the
// directory search SYS_Glob.
#include "base/file.h"

#include <dirent.h>
#include <fnmatch.h>

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "base/errors.h"
#include "base/file_private.h"
#include "base/log.h"
#include "base/mem.h"

namespace brisk::base::file {

SYS_File_t *OpenRecord(const SYS_FileHandler &handler, const char *name, unsigned flags,
                       void (*prepare)(SYS_File_t *, void *), void *context) {
  auto *file = static_cast<SYS_File_t *>(SYS_MemGet(sizeof(SYS_File_t), "SYS_FileOpen"));
  if (!file) {
    errSetLastErrorEx(SYS_ERR_NOMEM, name);
    return nullptr;
  }
  file->name = SYS_StrDup(name);
  if (!file->name) {
    SYS_MemFree(file);
    errSetLastErrorEx(SYS_ERR_NOMEM, name);
    return nullptr;
  }
  file->flags = flags;
  file->handler = &handler;
  file->seek = handler.seek;
  file->read = handler.read;
  file->getstr = handler.getstr;
  file->putstr = handler.putstr;
  file->write = handler.write;
  file->eof = handler.eof;
  file->tell = handler.tell;
  file->close = handler.close;
  file->exist = handler.exist;
  file->size_of = handler.size;
  if (prepare) prepare(file, context);
  if (handler.open && handler.open(file) == 0) return file;
  const int code = handler.open ? errGetLastError() : SYS_ERR_HANDLER;
  errSetLastErrorEx(code, name);
  SYS_MemFree(file->name);
  SYS_MemFree(file);
  return nullptr;
}

}  // namespace brisk::base::file

using namespace brisk::base::file;

namespace {

// The first handler, in lookup order, that holds name, or null. The handlers'
// tests leave codes of their own behind: the callers set the one they report.
const SYS_FileHandler *FirstHolder(const char *name) {
  for (const SYS_FileHandler &handler : kHandlers)
    if (handler.exist && handler.exist(name) == 0) return &handler;
  return nullptr;
}

// FirstHolder for exist and size: null with the error set (10 for no name,
// 1 when nobody holds it).
const SYS_FileHandler *Holder(const char *name) {
  errClear();
  if (!name) return brisk::Fail(SYS_ERR_ARG, nullptr);
  const SYS_FileHandler *handler = FirstHolder(name);
  if (!handler) return brisk::Fail(SYS_ERR_NOTFOUND, nullptr);
  errClear();
  return handler;
}

}  // namespace

extern "C" SYS_File_t *SYS_FileOpen(const char *name, unsigned flags) {
  errClear();
  if (!name) return brisk::Fail(SYS_ERR_ARG, nullptr);
  SYS_MSG(Level(), "file", "opening %s...\n", name);
  const SYS_FileHandler *chosen = FirstHolder(name);
  if (!chosen) {
    if (!(flags & SYS_FILE_CREATE)) {
      errSetLastErrorEx(SYS_ERR_HANDLER, name);
      return nullptr;
    }
    chosen = &kRegularHandler;
  }
  errClear();
  return OpenRecord(*chosen, name, flags);
}

namespace {

// The operation `op` of an open file, or null with the error set: 10 when the
// file or the call's arguments are unusable, 11 when the handler lacks it.
template <typename Fn>
Fn Operation(SYS_File_t *file, Fn SYS_File_t::*op, bool arguments_ok) {
  if (!file || !arguments_ok) {
    errSetLastError(SYS_ERR_ARG);
    return nullptr;
  }
  if (!(file->*op)) errSetLastError(SYS_ERR_HANDLER);
  return file->*op;
}

}  // namespace

extern "C" int SYS_FileSeek(SYS_File_t *file, int offset) {
  errClear();
  auto seek = Operation(file, &SYS_File_t::seek, file && file->handle);
  return seek ? seek(file, offset) : -1;
}

extern "C" int SYS_FileRead(SYS_File_t *file, void *buffer, int length) {
  auto read = Operation(file, &SYS_File_t::read, length >= 0 && (buffer || length == 0));
  return read ? read(file, buffer, length) : -1;
}

extern "C" char *SYS_FileGetStr(SYS_File_t *file, char *buffer, int size) {
  auto getstr = Operation(file, &SYS_File_t::getstr, true);
  return getstr ? getstr(file, buffer, size) : nullptr;
}

extern "C" int SYS_FilePutStr(SYS_File_t *file, const char *format, ...) {
  errClear();
  auto putstr = Operation(file, &SYS_File_t::putstr, format && file && file->handle);
  if (!putstr) return -1;
  char text[2048];
  va_list args;
  va_start(args, format);
  std::vsnprintf(text, sizeof text, format, args);
  va_end(args);
  return putstr(file, text);
}

extern "C" int SYS_FileWrite(SYS_File_t *file, const void *buffer, int length) {
  auto write = Operation(file, &SYS_File_t::write, length >= 0 && (buffer || length == 0));
  return write ? write(file, buffer, length) : -1;
}

extern "C" int SYS_FileEof(SYS_File_t *file) {
  auto eof = Operation(file, &SYS_File_t::eof, true);
  return eof ? eof(file) : -1;
}

extern "C" int SYS_FileTell(SYS_File_t *file) {
  auto tell = Operation(file, &SYS_File_t::tell, true);
  return tell ? tell(file) : -1;
}

extern "C" int SYS_FileClose(SYS_File_t *file) {
  if (!file) return 0;
  const int result = file->close ? file->close(file) : 0;
  SYS_MemFree(file->name);
  SYS_MemFree(file);
  return result;
}

extern "C" int SYS_FileExist(const char *name) { return Holder(name) ? 0 : -1; }

extern "C" int SYS_FileSize(const char *name) {
  const SYS_FileHandler *handler = Holder(name);
  if (!handler) return -1;
  return handler->size ? handler->size(name) : 1;
}

extern "C" int SYS_FilePackOpen(const char *path) {
  errClear();
  for (const SYS_FileHandler &handler : kHandlers) {
    if (handler.packopen && handler.packopen(path) == 0) {
      errClear();
      return 0;
    }
  }
  errSetLastError(SYS_ERR_HANDLER);
  return -1;
}

// --- directory search --------------------------------------------------------

extern "C" int SYS_Glob(const char *pattern, SYS_Glob_t **result) {
  errClear();
  if (result) *result = nullptr;
  if (!pattern || !result || !*pattern) {
    errSetLastError(SYS_ERR_ARG);
    return -1;
  }
  auto *glob = static_cast<SYS_Glob_t *>(SYS_MemGet(sizeof(SYS_Glob_t), "SYS_Glob: glob"));
  if (!glob) {
    errSetLastError(SYS_ERR_NOMEM);
    return -1;
  }
  *result = glob;
  const std::string filter = NativePath(pattern);
  SYS_MSG(Level(), "file", "[glob] filter: %s\n", filter.c_str());

  // The last component is matched against the entries of the directory before it.
  const auto cut = filter.rfind('/');
  const std::string directory = cut == std::string::npos ? "." : cut == 0 ? "/" : filter.substr(0, cut);
  const std::string leaf = cut == std::string::npos ? filter : filter.substr(cut + 1);
  std::vector<std::string> found;
  bool any = false;
  if (DIR *dir = opendir(directory.c_str())) {
    while (const dirent *entry = readdir(dir)) {
      if (fnmatch(leaf.c_str(), entry->d_name, 0) != 0) continue;
      any = true;
      if (std::strcmp(entry->d_name, ".") != 0 && std::strcmp(entry->d_name, "..") != 0)
        found.emplace_back(entry->d_name);
    }
    closedir(dir);
  }
  if (!any) {
    // The log's fixed text, the system call's name included.
    SYS_MSG(Level(), "file", "[glob] !!! FindFirstFile returned with NULL.\n");
    return 0;
  }
  // Directory order is whatever the file system keeps; sorting makes scans repeatable.
  std::sort(found.begin(), found.end());
  const int count = static_cast<int>(found.size());
  SYS_MSG(Level(), "file", "[glob] %d file(s) found.\n", count);
  if (count == 0) return 0;

  glob->names = static_cast<char **>(SYS_MemGet(sizeof(char *) * found.size(), "SYS_Glob: list"));
  if (!glob->names) {
    SYS_MemFree(*result);
    errSetLastError(SYS_ERR_NOMEM);
    return -1;
  }
  const std::string base = cut == std::string::npos ? "" : filter.substr(0, cut + 1);
  SYS_MSG(Level(), "file", "[glob] base: %s\n", base.c_str());
  for (int i = 0; i < count; ++i) {
    const std::string path = base + found[i];
    glob->names[i] = SYS_StrDup(path.c_str());
    if (!glob->names[i]) {
      SYS_GlobFree(result);
      errSetLastError(SYS_ERR_NOMEM);
      return -1;
    }
    glob->count = i + 1;
    SYS_MSG(Level(), "file", "[glob] entry %d: %s\n", i, glob->names[i]);
  }
  return 0;
}

extern "C" int SYS_GlobFree(SYS_Glob_t **glob) {
  errClear();
  if (!glob || !*glob) {
    errSetLastError(SYS_ERR_ARG);
    return -1;
  }
  SYS_Glob_t *g = *glob;
  for (int i = 0; i < g->count; ++i) SYS_MemFree(g->names[i]);
  SYS_MemFree(g->names);
  SYS_MemFree(*glob);
  return 0;
}

namespace brisk::base {

// Unmounts every pack: archives are closed and every record released, so that
// nothing points into memory the final sweep gives back.
void FileShutdown() {
  file::PackShutdown();
  file::DirShutdown();
  errClear();
}

}  // namespace brisk::base
