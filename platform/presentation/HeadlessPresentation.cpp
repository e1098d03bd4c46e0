#include "../host/HostControls.h"
#include "Presentation.h"

#include <cerrno>
#include <cstdio>
#include <ctime>

#include <text/escape.h>

/* No person sees the windows. What they would read during a pause, the line
   of text the window last laid out, is written whole to standard error, with
   control bytes escaped so that no text can drive a terminal. A request is
   answered by the button that VELORIN_HOST_ANSWER names, else the rightmost. */

namespace {

class HeadlessPresentation : public Presentation {
public:
    void ShowWindow(HostWindow &) override {}
    void HideWindow(HostWindow &) override {}
    void Refresh(HostWindow &, bool) override {}
    void CheckInput() override {}

    void Pause(LONG ticks) override
    {
        const std::vector<HostWindow *> &windows = GetOpenWindows();
        if (!windows.empty()) {
            const std::string &text = windows.back()->laidOutText;
            std::string line(text.size() * 4 + 1, '\0');
            EscapeText(text.data(), text.size(), line.data(), line.size(), KEEP_BACKSLASH);
            std::fprintf(stderr, "%s\n", line.c_str());
            std::fflush(stderr);
        }
        unsigned long long milliseconds = GetPauseMilliseconds(ticks);
        timespec wait = {time_t(milliseconds / 1000), long(milliseconds % 1000) * 1000000L};
        while (nanosleep(&wait, &wait) != 0 && errno == EINTR) {
        }
    }

    UWORD Ask(HostWindow &request) override
    {
        std::vector<HostGadget *> buttons = ListButtons(request);
        const char *answer = GetHostControls().answer;
        for (HostGadget *button : buttons)
            if (answer != nullptr && button->label == answer)
                return button->GadgetID;
        return 0;
    }
};

}  // namespace

Presentation *StartHeadlessPresentation()
{
    return new HeadlessPresentation;
}
