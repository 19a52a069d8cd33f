// Scoped resources of the framework, for its own C++ sources (not part of the
// C interface). Every module releases tracked blocks, files and mutex locks
// through these owners instead of unrolling the cleanup by hand on each
// failure path:
//
//   brisk::MemPtr<uint8_t> raw = brisk::OwnMem(static_cast<uint8_t *>(SYS_MemGet(n, "buffer")));
//   if (!raw) return brisk::Fail(SYS_ERR_NOMEM, -1);
//   brisk::FilePtr file(SYS_FileOpen(name, 0));
//   brisk::MutexLock lock(mutex);
//
// A release never changes the pending error code: an owner that goes out of
// scope on a failure path leaves the code that the failure set, even where
// the release call itself clears it on entry (file closes do).
#pragma once

#include <memory>

#include "base/errors.h"
#include "base/file.h"
#include "base/mem.h"
#include "base/thread.h"

namespace brisk {

// Runs release() and puts the pending error code back as it was.
template <class F>
void KeepingError(F release) {
  const int code = PendingError();
  release();
  errSetLastError(code);
}

// The file part of a path, as __FILE_NAME__ gives it for the memory records.
constexpr const char *FileNamePart(const char *path) {
  const char *name = path;
  for (const char *p = path; *p; ++p)
    if (*p == '/') name = p + 1;
  return name;
}

// Releases a tracked block through _SYS_MemFree, naming the position of the
// owner that gave it up (what -debug-memalloc and a bad release report).
struct MemRelease {
  const char *file = "";
  int line = 0;
  void operator()(void *block) const noexcept {
    KeepingError([&] { _SYS_MemFree(&block, file, line); });
  }
};

template <class T>
using MemPtr = std::unique_ptr<T, MemRelease>;

// Takes ownership of a tracked block (null is fine). `release()` hands it on.
// (__builtin_FILE and __builtin_LINE give the caller's position with gcc and
// with clang 14, whose library lacks std::source_location.)
template <class T>
MemPtr<T> OwnMem(T *block, const char *file = __builtin_FILE(), int line = __builtin_LINE()) {
  return MemPtr<T>(block, MemRelease{FileNamePart(file), line});
}

// An open file of the file layer, closed with SYS_FileClose.
struct FileCloser {
  void operator()(SYS_File_t *file) const noexcept {
    KeepingError([&] { SYS_FileClose(file); });
  }
};
using FilePtr = std::unique_ptr<SYS_File_t, FileCloser>;

// Holds a framework mutex for one scope; a null mutex is not locked. The
// mutex calls leave the error code alone, so the lock does not touch it
// either (restoring it could overwrite a code another thread just set).
class MutexLock {
 public:
  explicit MutexLock(SYS_Thread_Mutex_p mutex) : mutex_(mutex) {
    if (mutex_) SYS_MutexLock(mutex_);
  }
  ~MutexLock() {
    if (mutex_) SYS_MutexUnlock(mutex_);
  }
  MutexLock(const MutexLock &) = delete;
  MutexLock &operator=(const MutexLock &) = delete;

 private:
  SYS_Thread_Mutex_p mutex_;
};

}  // namespace brisk
