#ifndef PLATFORM_SYSTEM_WINDOW_HOOKS_H
#define PLATFORM_SYSTEM_WINDOW_HOOKS_H

#include <exec/types.h>

/* What the window model, a floor above the system libraries, lends them:
   the system never includes the model, and the model registers these
   before main runs in every program that can open a window. Until one is registered, the system
   goes on as if no window had ever been opened. */

/* Delay with a window open: shows the pause to the person. Returns false
   when no window is open, and the system sleeps by itself. */
using WindowPause = bool (*)(LONG ticks);
void SetWindowPause(WindowPause pause);
bool PauseWithWindow(LONG ticks);

/* The model's objects handed out and not yet given back, for the balance
   report. */
struct WindowObjectCounts {
    unsigned screenLocks;
    unsigned drawInfos;
    unsigned windows;
    unsigned visualInfos;
    unsigned gadgets;
    unsigned messages;
    unsigned refreshes;
};
using WindowCounter = WindowObjectCounts (*)();
void SetWindowCounter(WindowCounter counter);
WindowObjectCounts CountWindowObjects();

/* The run's end told to whatever shows it; possibly from another thread,
   with the process about to end, so it may not wait. */
using RunEndReport = void (*)(int returnCode);
void SetRunEndReport(RunEndReport report);
void AnnounceRunEnd(int returnCode);

#endif
