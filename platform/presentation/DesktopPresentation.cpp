#include "desktop/DesktopPresentation.h"
#include "../host/HostControls.h"
#include "../system/Clock.h"

#include <cstdio>
#include <cstdlib>
#include <string>

/* What the model calls on the desktop presentation: windows shown and
   hidden, pauses and requests, each handing the work to the thread.

   Lock order: the model lock, then wakeLock_. */

bool DesktopPresentation::GetDisplaySize(LONG &width, LONG &height)
{
    width = display_.areaWidth / scale_;
    height = display_.areaHeight / scale_;
    return true;
}

void DesktopPresentation::ShowWindow(HostWindow &window)
{
    {
        ModelGuard guard(GetModelLock());
        if (IsLost() || window.shown != nullptr)
            return;
        ShownXWindow *shown = new ShownXWindow{};
        shown->window = &window;
        shown->modal = window.request != nullptr;
        window.shown = shown;
        window.dirty = true;
        windows_.push_back(shown);
    }
    Wake();
}

void DesktopPresentation::HideWindow(HostWindow &window)
{
    {
        ModelGuard guard(GetModelLock());
        ShownXWindow *shown = static_cast<ShownXWindow *>(window.shown);
        if (pressedWindow_ == &window) {
            pressed_ = nullptr;
            pressedWindow_ = nullptr;
        }
        if (shown == nullptr)
            return;
        shown->finalPixels = window.pixels;
        shown->window = nullptr;
        shown->closing = true;
        window.shown = nullptr;
    }
    Wake();
}

void DesktopPresentation::Refresh(HostWindow &, bool now)
{
    if (now)
        Wake();
}

/* The error line the pause follows has gone to standard error already
   (ErrorLine), so a lost display only drops the showing of it. */
void DesktopPresentation::Pause(LONG ticks)
{
    if (!IsLost())
        Wake();
    PauseTicks(ticks);
}

UWORD DesktopPresentation::Ask(HostWindow &request)
{
    {
        ModelGuard guard(GetModelLock());
        asking_ = &request;
    }
    {
        std::lock_guard<std::mutex> wake(wakeLock_);
        answer_ = -1;
    }
    ShowWindow(request);
    int answer;
    {
        std::unique_lock<std::mutex> wake(wakeLock_);
        while (!wakeup_.wait_for(wake, probePeriod, [this] { return answer_ >= 0 || lost_; }))
            if (std::chrono::steady_clock::now() - heard_ > silentTime) {
                wake.unlock();
                Lose("The display stopped answering; unpacking goes on without the window");
                wake.lock();
                BreakConnection();
            }
        answer = answer_;
    }
    {
        ModelGuard guard(GetModelLock());
        asking_ = nullptr;
    }
    HideWindow(request);
    return answer >= 0 ? UWORD(answer) : AnswerWithoutPerson(request);
}

UWORD DesktopPresentation::AnswerWithoutPerson(HostWindow &request)
{
    ModelGuard guard(GetModelLock());
    const char *answer = GetHostControls().answer;
    for (HostGadget *button : ListButtons(request))
        if (answer != nullptr && button->label == answer)
            return button->GadgetID;
    return 0;
}

Presentation *StartDesktopPresentation(std::string &why)
{
    const char *name = std::getenv("DISPLAY");
    if (name == nullptr) {
        if (std::getenv("WAYLAND_DISPLAY") != nullptr)
            why = "No window: this Wayland session offers no X display (DISPLAY is not set)";
        return nullptr;
    }
    DisplayAddress address;
    std::string fault;
    DesktopPresentation *desktop = nullptr;
    if (ParseDisplayAddress(name, address, fault)) {
        desktop = new DesktopPresentation(address);
        if (!desktop->Start(fault)) {
            delete desktop;
            desktop = nullptr;
        }
    }
    if (desktop == nullptr)
        why = "No window on the display \"" + std::string(name) + "\": " + fault;
    return desktop;
}
