// One-line failure paths for the framework's own C++ sources (not part of the
// C interface). The rules stay those of the error state: a public function
// clears the code on entry (errClear), a failure sets it and returns -1, 0 or
// null, and errGetLastError hands the code over and resets it.
//
//   if (!name) return brisk::Fail(SYS_ERR_ARG, nullptr);
//   if (SYS_FileRead(f, p, n) != n) return brisk::FailKeep(SYS_ERR_MAGIC, -1);
#pragma once

#include "base/log.h"

namespace brisk {

// The pending code, left pending (errGetLastError would reset it).
int PendingError();

// Sets `code` and gives `failure`, for `return Fail(code, failure);`.
template <class T>
T Fail(int code, T failure) {
  errSetLastError(code);
  return failure;
}

// As Fail, but a code that a callee already set is kept: `code` is only the
// fallback for a failure that did not say why.
template <class T>
T FailKeep(int code, T failure) {
  if (PendingError() == 0) errSetLastError(code);
  return failure;
}

}  // namespace brisk
