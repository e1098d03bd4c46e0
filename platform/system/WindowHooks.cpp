#include "WindowHooks.h"

/* Set once, before main, and only read afterwards. */
namespace
{

WindowPause windowPause;
WindowCounter windowCounter;
RunEndReport runEndReport;

} // namespace

void SetWindowPause(WindowPause pause)
{
    windowPause = pause;
}

bool PauseWithWindow(LONG ticks)
{
    return windowPause != nullptr && windowPause(ticks);
}

void SetWindowCounter(WindowCounter counter)
{
    windowCounter = counter;
}

WindowObjectCounts CountWindowObjects()
{
    return windowCounter != nullptr ? windowCounter() : WindowObjectCounts{};
}

void SetRunEndReport(RunEndReport report)
{
    runEndReport = report;
}

void AnnounceRunEnd(int returnCode)
{
    if (runEndReport != nullptr)
        runEndReport(returnCode);
}
