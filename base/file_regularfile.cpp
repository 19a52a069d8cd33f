// Plain files on disk: the first handler asked, and the operations directory
// packs share once their files are open.
#include <sys/stat.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <string>

#include "base/file.h"
#include "base/file_private.h"
#include "base/log.h"

namespace brisk::base::file {

namespace {

FILE *Stream(SYS_File_t *file) { return static_cast<FILE *>(file->handle); }

int32_t ClampSize(off_t size) { return size < 0 || size > INT_MAX ? -1 : static_cast<int32_t>(size); }

bool IsLineEnd(char c) { return c == '\r' || c == '\n'; }

}  // namespace

int RegSeek(SYS_File_t *file, int offset) {
  if (!Stream(file)) return -1;
  return std::fseek(Stream(file), offset, SEEK_SET);
}

int RegRead(SYS_File_t *file, void *buffer, int length) {
  if (!Stream(file) || length <= 0) return 0;
  return static_cast<int>(std::fread(buffer, 1, static_cast<size_t>(length), Stream(file)));
}

char *RegGetStr(SYS_File_t *file, char *buffer, int size) {
  if (!buffer || size <= 0) {
    errSetLastError(SYS_ERR_ARG);
    return nullptr;
  }
  if (!Stream(file) || !std::fgets(buffer, size, Stream(file))) return nullptr;
  // Both "\n" and "\r\n" endings vanish.
  const size_t n = std::strlen(buffer);
  if (n > 0 && IsLineEnd(buffer[n - 1])) {
    buffer[n - 1] = '\0';
    if (n >= 2 && IsLineEnd(buffer[n - 2])) buffer[n - 2] = '\0';
  }
  return buffer;
}

int RegPutStr(SYS_File_t *file, const char *text) {
  if (!Stream(file) || !text) return -1;
  return std::fputs(text, Stream(file)) == EOF ? -1 : 0;
}

int RegWrite(SYS_File_t *file, const void *buffer, int length) {
  if (!Stream(file)) return -1;
  if (length <= 0) return 0;
  return std::fwrite(buffer, 1, static_cast<size_t>(length), Stream(file)) == static_cast<size_t>(length) ? 0 : -1;
}

int RegEof(SYS_File_t *file) { return Stream(file) ? std::feof(Stream(file)) : 1; }

int RegTell(SYS_File_t *file) {
  if (!Stream(file)) return -1;
  const long position = std::ftell(Stream(file));
  return position > INT_MAX ? -1 : static_cast<int>(position);
}

int RegClose(SYS_File_t *file) {
  if (!Stream(file)) return 0;
  const int result = std::fclose(Stream(file));
  file->handle = nullptr;
  return result;
}

int RegExist(const char *name) {
  struct stat st;
  return stat(NativePath(name).c_str(), &st) == 0 ? 0 : -1;
}

int RegSize(const char *name) {
  struct stat st;
  if (stat(NativePath(name).c_str(), &st) != 0) return -1;
  return ClampSize(st.st_size);
}

}  // namespace brisk::base::file

using namespace brisk::base::file;

extern "C" int SYS_FileOpen_reg(SYS_File_t *file) {
  errClear();
  if (!file || !file->name) {
    errSetLastError(SYS_ERR_ARG);
    return -1;
  }
  const std::string native = NativePath(file->name);
  char mode[4] = {};
  size_t m = 0;
  mode[m++] = (file->flags & SYS_FILE_CREATE) ? 'w' : (file->flags & SYS_FILE_APPEND) ? 'a' : 'r';
  mode[m++] = (file->flags & SYS_FILE_TEXT) ? 't' : 'b';
  if (file->flags & SYS_FILE_CREATE) mode[m++] = '+';
  SYS_MSG(Level(), "file-regularfile", "[SYS_FileOpen_reg] open : %s -> %s\n", file->name, native.c_str());
  FILE *stream = std::fopen(native.c_str(), mode);
  if (!stream) {
    const int error = errno;
    SYS_MSG(Level(), "file-regularfile", "file open error: %s (%s) -> %s (%d)\n", file->name, mode,
            std::strerror(error), error);
    return -1;
  }
  file->handle = stream;
  struct stat st;
  file->size = fstat(fileno(stream), &st) == 0 ? ClampSize(st.st_size) : -1;
  return 0;
}
