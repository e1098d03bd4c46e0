#include "Presentation.h"

#include "../system/WindowHooks.h"
#include "BalanceCounts.h"
#include "ErrorLine.h"

#include <cstdio>

namespace
{

Presentation *presentation;

/* What the system below needs of the windows, lent before main: the pause
   after an error line, the counts for the balance report, and the run's
   end told through the presentation. Registered here, where every program
   that opens a window links it. */
bool RegisterWindowHooks()
{
    SetWindowPause(PauseAfterErrorLine);
    SetWindowCounter(CountHeldObjects);
    SetRunEndReport(ReportRunEnd);
    return true;
}

[[maybe_unused]] const bool hooksRegistered = RegisterWindowHooks();

} // namespace

Presentation &GetPresentation()
{
    if (presentation == nullptr)
        presentation = ChoosePresentation();
    return *presentation;
}

/* Runs before the library auto-open step closes the window libraries. */
__attribute__((destructor(103))) void EndPresentation()
{
    delete presentation;
    presentation = nullptr;
}

void ReportRunEnd(int returnCode)
{
    if (presentation != nullptr)
        presentation->ReportRunEnd(returnCode);
}

void Presentation::ReportErrorLine(const char *line)
{
    std::fprintf(stderr, "%s\n", line);
    std::fflush(stderr);
}
