// Named threads with a cooperative stop, and recursive mutexes, over POSIX threads.
#include "base/thread.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <pthread.h>
#include <sys/resource.h>
#include <unistd.h>

#include "base/list.h"
#include "base/log.h"
#include "base/mem.h"
#include "base/timer.h"

struct SYS_Thread_Mutex_s {
  pthread_mutex_t mutex;
};

namespace {

SYS_Thread_Mutex_p g_registry_lock = nullptr;
SYS_List_p g_registry = nullptr;  // thread records, newest first

// What the start routine needs besides the record: the requested priority.
struct Start {
  SYS_Thread_p thread;
  int priority;
};

int32_t CurrentId() { return static_cast<int32_t>(gettid()); }

// Nice value for a framework priority; 0 for values the framework does not know.
int NiceFor(int priority) {
  switch (priority) {
    case -1: return 5;
    case 1: return -5;
    case 2: return -10;
    default: return 0;
  }
}

void *StartRoutine(void *arg) {
  auto *start = static_cast<Start *>(arg);
  SYS_Thread_p thread = start->thread;
  int priority = start->priority;
  SYS_MemFree(start);
  thread->thread_id = CurrentId();
  if (int nice = NiceFor(priority); nice != 0) {
    if (setpriority(PRIO_PROCESS, static_cast<id_t>(thread->thread_id), nice) != 0)
      SYS_MSG(2, "thread", "priority %d refused for \"%s\": %s\n", priority, thread->name, std::strerror(errno));
  }
  thread->procedure(thread->data);
  // Returning counts as ending through SYS_ThreadExit (NULL).
  thread->stop = 0;
  thread->state = SYS_THREAD_EXITED;
  SYS_MSG(2, "thread", "[SYS_ThreadExit] thread: '%s' state: %d\n", thread->name, SYS_THREAD_EXITED);
  return nullptr;
}

}  // namespace

extern "C" SYS_Thread_Mutex_p SYS_MutexCreate(void) {
  auto *m = static_cast<SYS_Thread_Mutex_p>(SYS_MemGet(sizeof(SYS_Thread_Mutex_s), "SYS_MutexCreate: CS"));
  if (!m) return nullptr;
  pthread_mutexattr_t attr;
  pthread_mutexattr_init(&attr);
  pthread_mutexattr_settype(&attr, PTHREAD_MUTEX_RECURSIVE);
  pthread_mutex_init(&m->mutex, &attr);
  pthread_mutexattr_destroy(&attr);
  return m;
}

extern "C" int SYS_MutexLock(SYS_Thread_Mutex_p m) {
  if (m) pthread_mutex_lock(&m->mutex);
  return 0;
}

extern "C" int SYS_MutexUnlock(SYS_Thread_Mutex_p m) {
  if (m) pthread_mutex_unlock(&m->mutex);
  return 0;
}

extern "C" int SYS_MutexDestroy(SYS_Thread_Mutex_p m) {
  if (!m) return 0;
  pthread_mutex_destroy(&m->mutex);
  SYS_MemFree(m);
  return 0;
}

extern "C" int SYS_ThreadInit(void) {
  if (!g_registry_lock) g_registry_lock = SYS_MutexCreate();
  return 0;
}

extern "C" int SYS_ThreadDone(void) {
  SYS_MutexDestroy(g_registry_lock);
  g_registry_lock = nullptr;
  for (SYS_List_p node = g_registry; node; node = node->next) {
    auto *thread = static_cast<SYS_Thread_p>(node->data);
    SYS_MSG(2, "thread", "!!! Unterminated thread: \"%s\"\n", thread->name);
  }
  return 0;
}

extern "C" SYS_Thread_p SYS_ThreadCreate(SYS_Thread_proc procedure, void *data, int priority, const char *name) {
  errClear();
  auto *thread = static_cast<SYS_Thread_p>(SYS_MemGet(sizeof(SYS_Thread_t), "SYS_ThreadCreate: new entry"));
  char *copy = thread && name ? SYS_StrDup(name) : nullptr;
  auto *start = copy ? static_cast<Start *>(SYS_MemGet(sizeof(Start), "SYS_ThreadCreate: start")) : nullptr;
  if (!thread || !copy || !start || !procedure) {
    SYS_MemFree(start);
    SYS_MemFree(copy);
    SYS_MemFree(thread);
    errSetLastError(procedure ? SYS_ERR_NOMEM : SYS_ERR_ARG);
    return nullptr;
  }
  thread->state = SYS_THREAD_CREATED;
  thread->procedure = procedure;
  thread->data = data;
  thread->name = copy;
  SYS_MutexLock(g_registry_lock);
  SYS_List_p head = SYS_ListAddFirst(g_registry, thread);
  if (head) g_registry = head;
  SYS_MutexUnlock(g_registry_lock);
  if (!head) {
    SYS_MemFree(start);
    SYS_MemFree(thread->name);
    SYS_MemFree(thread);
    errSetLastError(SYS_ERR_NOMEM);
    return nullptr;
  }
  SYS_MSG(2, "thread", "create thread: \"%s\"\n", name);
  thread->state = SYS_THREAD_RUNNING;
  start->thread = thread;
  start->priority = priority;
  if (int rc = pthread_create(&thread->handle, nullptr, StartRoutine, start); rc != 0) {
    SYS_MSG(3, "thread", "cannot start thread \"%s\": %s\n", name, std::strerror(rc));
    SYS_MutexLock(g_registry_lock);
    g_registry = SYS_ListDelItem(g_registry, thread);
    SYS_MutexUnlock(g_registry_lock);
    SYS_MemFree(start);
    SYS_MemFree(thread->name);
    SYS_MemFree(thread);
    errSetLastError(SYS_ERR_NOMEM);
    return nullptr;
  }
  SYS_MSG(2, "thread", "thread created: \"%s\" (priority: %d)\n", name, priority);
  return thread;
}

extern "C" SYS_Thread_p SYS_ThreadSelf(void) {
  SYS_MutexLock(g_registry_lock);
  SYS_Sleep(25);
  int32_t id = CurrentId();
  SYS_Thread_p found = nullptr;
  for (SYS_List_p node = g_registry; node && !found; node = node->next) {
    auto *thread = static_cast<SYS_Thread_p>(node->data);
    if (thread->thread_id == id) found = thread;
  }
  SYS_MutexUnlock(g_registry_lock);
  if (!found) {
    SYS_DbgPrintf(1, "[thread] (%s:%d) !!! list is NULL\n", __FILE_NAME__, __LINE__);
    std::exit(1);
  }
  return found;
}

extern "C" int SYS_ThreadExit(SYS_Thread_p thread) {
  SYS_Thread_p self = SYS_ThreadSelf();
  errClear();
  if (thread) return (thread->stop || thread->state == SYS_THREAD_KILLED) ? 1 : 0;
  self->stop = 0;
  self->state = SYS_THREAD_EXITED;
  SYS_MSG(2, "thread", "[SYS_ThreadExit] thread: '%s' state: %d\n", self->name, SYS_THREAD_EXITED);
  pthread_exit(nullptr);
}

extern "C" int SYS_ThreadKill(SYS_Thread_p thread) {
  errClear();
  if (!thread) {
    errSetLastError(SYS_ERR_ARG);
    return -1;
  }
  SYS_MSG(2, "thread", "[SYS_ThreadKill] terminate thread: \"%s\"\n", thread->name);
  // Exchanged, not tested and then written: a thread that ends right now sets
  // state 2, which a late write of 3 would hide from the loop below for ever.
  int state = thread->state;
  while (state != SYS_THREAD_EXITED &&
         !__atomic_compare_exchange_n(&thread->state, &state, SYS_THREAD_KILLED, false, __ATOMIC_SEQ_CST,
                                      __ATOMIC_SEQ_CST)) {
  }
  thread->stop = 1;
  pthread_join(thread->handle, nullptr);
  for (;;) {
    SYS_MSG(2, "thread", "[SYS_ThreadKill] thread: '%s' state: %d\n", thread->name, thread->state);
    if (thread->state == SYS_THREAD_EXITED) break;
    SYS_Sleep(100);
  }
  SYS_MutexLock(g_registry_lock);
  g_registry = SYS_ListDelItem(g_registry, thread);
  SYS_MutexUnlock(g_registry_lock);
  SYS_MemFree(thread->name);
  SYS_MemFree(thread);
  return 0;
}
