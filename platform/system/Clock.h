#ifndef PLATFORM_SYSTEM_CLOCK_H
#define PLATFORM_SYSTEM_CLOCK_H

#include <exec/types.h>

/* A monotonic clock in milliseconds, for pauses and for pacing the display. */
unsigned long long GetMilliseconds();

/* How long a pause of ticks (1/50 s) lasts here: nothing with the instant
   clock. */
unsigned long long GetPauseMilliseconds(LONG ticks);

/* Sleeps for ticks, whole: a signal that interrupts the sleep does not
   shorten it. */
void PauseTicks(LONG ticks);

#endif
