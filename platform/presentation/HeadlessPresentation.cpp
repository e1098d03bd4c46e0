#include "../host/HostControls.h"
#include "Presentation.h"

#include <cerrno>
#include <ctime>

/* No person sees the windows: what they would read during a pause reaches
   standard error as every presentation's error lines do. A request is
   answered by the button that VELORIN_HOST_ANSWER names, else the rightmost. */

namespace
{

class HeadlessPresentation : public Presentation
{
  public:
    void ShowWindow(HostWindow &) override {}
    void HideWindow(HostWindow &) override {}
    void Refresh(HostWindow &, bool) override {}
    void CheckInput() override {}

    void Pause(LONG ticks) override
    {
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

} // namespace

Presentation *StartHeadlessPresentation()
{
    return new HeadlessPresentation;
}
