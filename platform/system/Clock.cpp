#include "Clock.h"

#include "../host/HostControls.h"

#include <cerrno>
#include <ctime>

#include <dos/dos.h>

unsigned long long GetMilliseconds()
{
    timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<unsigned long long>(now.tv_sec) * 1000ULL +
           static_cast<unsigned long long>(now.tv_nsec) / 1000000ULL;
}

unsigned long long GetPauseMilliseconds(LONG ticks)
{
    if (ticks <= 0 || GetHostControls().instantClock)
        return 0;
    return static_cast<unsigned long long>(ticks) * 1000ULL / TICKS_PER_SECOND;
}

void PauseTicks(LONG ticks)
{
    unsigned long long milliseconds = GetPauseMilliseconds(ticks);
    timespec remaining = {static_cast<time_t>(milliseconds / 1000),
                          static_cast<long>(milliseconds % 1000) * 1000000L};
    while (nanosleep(&remaining, &remaining) != 0 && errno == EINTR) {
    }
}
