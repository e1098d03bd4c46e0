#include "Presentation.h"

#include "../host/HostControls.h"
#include "../text/EscapedText.h"

#include <cstdio>
#include <cstring>
#include <string>

#include <unistd.h>

/* Which presentation this host gets: the one the host control
   VELORIN_HOST_PRESENTATION names, else a desktop window where there is a
   display, else the terminal of standard error, else none. */

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
        std::fprintf(stderr, "%s\n", EscapedText(why).c_str());
        std::fflush(stderr);
    }
    return chosen != nullptr ? chosen : StartHeadlessPresentation();
}
