#include "Presentation.h"

#include "../host/HostControls.h"

#include <dos/dos.h>
#include <text/escape.h>

#include <cstdio>
#include <cstring>
#include <ctime>
#include <string>

#include <unistd.h>

namespace
{

Presentation *presentation;
std::string lastErrorLine;

Presentation *ChoosePresentation()
{
    const char *forced = GetHostControls().presentation;
    if (forced != nullptr && std::strcmp(forced, "headless") == 0)
        return StartHeadlessPresentation();
    if (forced != nullptr && std::strcmp(forced, "terminal") == 0) {
        Presentation *terminal = StartTerminalPresentation();
        return terminal != nullptr ? terminal : StartHeadlessPresentation();
    }
    if (forced != nullptr && std::strcmp(forced, "desktop") != 0)
        return StartHeadlessPresentation();
    std::string why;
    Presentation *chosen = StartDesktopPresentation(why);
    if (chosen != nullptr)
        return chosen;
    if (forced == nullptr && isatty(STDERR_FILENO))
        chosen = StartTerminalPresentation();
    /* A display that was asked for and cannot be used is said once, before
       anything else is drawn. */
    if (!why.empty()) {
        why += chosen != nullptr ? "; the progress is shown in the terminal"
                                 : "; unpacking goes on without a window";
        std::string line(why.size() * 4 + 1, '\0');
        EscapeText(why.data(), why.size(), line.data(), line.size(), KEEP_BACKSLASH);
        std::fprintf(stderr, "%s\n", line.c_str());
        std::fflush(stderr);
    }
    return chosen != nullptr ? chosen : StartHeadlessPresentation();
}

} // namespace

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

void RememberErrorLine(const std::string &line)
{
    lastErrorLine = line;
}

const std::string &GetLastErrorLine()
{
    return lastErrorLine;
}

Presentation &GetPresentation()
{
    if (presentation == nullptr)
        presentation = ChoosePresentation();
    return *presentation;
}

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
