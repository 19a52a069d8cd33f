// The show clock: a millisecond timer that can be shifted, paused and
// restarted, read from CLOCK_MONOTONIC as a 32-bit value that wraps.
#include "base/timer.h"

#include <cstdint>
#include <ctime>
#include <sched.h>

namespace {

int32_t g_start = 0;
int32_t g_adjust = 0;
bool g_paused = false;
int32_t g_pause_start = 0;
int32_t g_last = 0;

int32_t Now() { return static_cast<int32_t>(SYS_TimerTicks()); }

// Difference of two wrapping tick values.
int32_t Since(int32_t later, int32_t earlier) {
  return static_cast<int32_t>(static_cast<uint32_t>(later) - static_cast<uint32_t>(earlier));
}

}  // namespace

extern "C" unsigned SYS_TimerTicks(void) {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<unsigned>(static_cast<uint64_t>(ts.tv_sec) * 1000u + static_cast<uint64_t>(ts.tv_nsec) / 1000000u);
}

extern "C" void SYS_TimerReset(void) {
  g_start = Now();
  g_adjust = 0;
  g_last = 0;
}

extern "C" int SYS_TimerGet(void) {
  int32_t reference = g_paused ? g_pause_start : Now();
  g_last = static_cast<int32_t>(static_cast<uint32_t>(Since(reference, g_start)) - static_cast<uint32_t>(g_adjust));
  if (g_last < 0) {
    SYS_TimerReset();
    return 0;
  }
  return g_last;
}

extern "C" int SYS_TimerSetAdjust(int delta) {
  g_adjust = static_cast<int32_t>(static_cast<uint32_t>(g_adjust) + static_cast<uint32_t>(delta));
  return g_adjust;
}

extern "C" void SYS_TimerPause(void) {
  g_paused = !g_paused;
  if (g_paused) {
    g_pause_start = Now();
  } else {
    g_adjust = static_cast<int32_t>(static_cast<uint32_t>(g_adjust) + static_cast<uint32_t>(Since(Now(), g_pause_start)));
  }
}

extern "C" void SYS_Sleep(int milliseconds) {
  if (milliseconds <= 0) {
    sched_yield();
    return;
  }
  timespec ts{milliseconds / 1000, static_cast<long>(milliseconds % 1000) * 1000000L};
  while (nanosleep(&ts, &ts) != 0) {
  }
}
