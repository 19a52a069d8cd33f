/* brisk!quantoven base library: named threads with a cooperative stop, and
 * recursive mutexes.
 *
 * A thread polls SYS_ThreadExit(SYS_ThreadSelf()) once per round and ends
 * itself with SYS_ThreadExit(NULL) when asked; the owner calls SYS_ThreadKill,
 * which returns once the thread has ended. */
#ifndef BRISK_BASE_THREAD_H
#define BRISK_BASE_THREAD_H

#include <pthread.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef struct SYS_Thread_Mutex_s *SYS_Thread_Mutex_p;
typedef int (*SYS_Thread_proc)(void *data);

/* Thread states. */
enum { SYS_THREAD_CREATED = 0, SYS_THREAD_RUNNING = 1, SYS_THREAD_EXITED = 2, SYS_THREAD_KILLED = 3 };

typedef struct SYS_Thread_s {
  pthread_t handle;
  volatile int stop;        /* 1 once SYS_ThreadKill asked the thread to stop */
  volatile int state;       /* SYS_THREAD_* */
  SYS_Thread_proc procedure;
  void *data;
  char *name;
  volatile int32_t thread_id; /* the system's id, set by the thread when it starts */
} SYS_Thread_t, *SYS_Thread_p;

/* Recursive mutex; null handles are ignored by lock, unlock and destroy. */
SYS_Thread_Mutex_p SYS_MutexCreate(void);
int SYS_MutexLock(SYS_Thread_Mutex_p m);
int SYS_MutexUnlock(SYS_Thread_Mutex_p m);
int SYS_MutexDestroy(SYS_Thread_Mutex_p m);

/* Priority: 0 normal, 1 above normal, 2 highest, -1 below normal; others keep the default.
 * Null with error 5 when out of memory or without a name. */
SYS_Thread_p SYS_ThreadCreate(SYS_Thread_proc procedure, void *data, int priority, const char *name);
/* Asks the thread to stop, waits for its end and releases its record. -1 with error 10 for null. */
int SYS_ThreadKill(SYS_Thread_p thread);
/* With null: ends the calling thread. With a thread: 1 when it was asked to stop, else 0. */
int SYS_ThreadExit(SYS_Thread_p thread);
/* The calling thread's record (takes 25 ms; ends the process for an unknown thread). */
SYS_Thread_p SYS_ThreadSelf(void);

/* Module start-up and shutdown, called by SYS_BaseInit / SYS_BaseDone. */
int SYS_ThreadInit(void);
int SYS_ThreadDone(void);

#ifdef __cplusplus
}
#endif

#endif
