#ifndef PLATFORM_WINDOW_BALANCE_COUNTS_H
#define PLATFORM_WINDOW_BALANCE_COUNTS_H

#include "../system/WindowHooks.h"

/* The model's objects handed out and not yet given back, for the system's
   balance report. */
WindowObjectCounts CountHeldObjects();

#endif
