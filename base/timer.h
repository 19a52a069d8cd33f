/* brisk!quantoven base library: the show clock and sleeping.
 * The clock reads CLOCK_MONOTONIC in milliseconds, kept as a 32-bit value. */
#ifndef BRISK_BASE_TIMER_H
#define BRISK_BASE_TIMER_H

#ifdef __cplusplus
extern "C" {
#endif

void SYS_TimerReset(void);
/* Milliseconds since the reset, less the adjustment; restarts at 0 instead of going negative. */
int SYS_TimerGet(void);
/* A negative delta moves the reading forward. Returns the new adjustment. */
int SYS_TimerSetAdjust(int delta);
/* Toggles the pause. */
void SYS_TimerPause(void);
/* Suspends the calling thread; 0 yields. */
void SYS_Sleep(int milliseconds);
/* The raw 32-bit millisecond tick. */
unsigned SYS_TimerTicks(void);

#ifdef __cplusplus
}
#endif

#endif
