#include "../host/HostControls.h"
#include "../system/Clock.h"
#include "Presentation.h"

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

    void Pause(LONG ticks) override { PauseTicks(ticks); }

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
