#ifndef PLATFORM_PRESENTATION_DESKTOP_PRESENTATION_H
#define PLATFORM_PRESENTATION_DESKTOP_PRESENTATION_H

#include "../Presentation.h"
#include "DisplayAddress.h"
#include "XDisplay.h"
#include "XWindow.h"

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

/* The windows as real top-level windows on an X display (XWayland
   included), kept by a thread of the presentation's own, as the system
   keeps its screens beside the program: every 20 ms it takes in the
   person's input and the window manager's requests (pings included), and
   shows what the program drew since, whether the program is busy in a long
   read or not. Only this thread talks to the display; it takes the model
   lock while it reads the model or changes it (a button pressed, a message
   queued), never while it waits for the display, so a stalled display
   never holds the program up.

   The default public screen is the display, divided by a whole-number scale
   on large displays; each window is placed where it stands on that screen
   and drawn with its own frame, so it is opened without the desktop's. A
   press and release on a button queues its gadget-up message; a request
   window is modal. When the display goes away, or a window is destroyed by
   another program, the run goes on without windows, as headless. */

/* The class is kept in four files: the thread and its connection
   (DesktopThread.cpp), the showing of the model's windows
   (DesktopShowing.cpp), the person's input (DesktopEvents.cpp) and what the
   model calls (DesktopPresentation.cpp).

   Lock order: the model lock (GetModelLock) first, then wakeLock_; no other
   mutex. Neither is held while the thread waits for the display. */

const auto roundPeriod = std::chrono::milliseconds(20);
/* How long the display has to accept the connection and answer the first
   questions, and how long the end of the run waits for it. */
const auto openingTime = std::chrono::seconds(2);
const auto closingTime = std::chrono::seconds(3);
/* While a request waits for the person, the display is asked a question
   every probePeriod; one that has answered nothing for silentTime has
   stopped (a stopped server, a link gone dead), and nobody can answer. */
const auto probePeriod = std::chrono::seconds(1);
const auto silentTime = std::chrono::seconds(10);
/* The most screen pixels, each way, that one pixel of a window takes (an
   8K screen takes 9): a server that claims a vaster screen gets no larger
   pixels, which keeps the window's image within tens of megabytes. */
const int largestScale = 10;

/* One window as shown. The model's side (window, closing, finalPixels) is
   read and written under the model lock; the rest belongs to the thread. */
struct ShownXWindow {
    HostWindow *window;
    bool closing;
    std::vector<UBYTE> finalPixels;

    bool modal;
    WORD width, height;
    BYTE borderTop;
    Colour palette[8];
    XWindowLook look;
    std::vector<UBYTE> frame;
    bool fresh;
    bool reparented;
    xcb_window_t id;
    xcb_gcontext_t context;
};

using ModelGuard = std::lock_guard<std::recursive_mutex>;

class DesktopPresentation : public Presentation
{
  public:
    explicit DesktopPresentation(const DisplayAddress &address) : address_(address) {}

    /* Starts the thread and waits, for openingTime at most, for it to reach
       the display; false with the reason in why. */
    bool Start(std::string &why);

    ~DesktopPresentation() override;

    bool IsOnDesktop() override { return !IsLost(); }

    bool GetDisplaySize(LONG &width, LONG &height) override;

    void ShowWindow(HostWindow &window) override;

    void HideWindow(HostWindow &window) override;

    void Refresh(HostWindow &, bool now) override;

    /* The thread takes the input and shows the drawing by itself. */
    void CheckInput() override {}

    void Pause(LONG ticks) override;

    UWORD Ask(HostWindow &request) override;

  private:
    bool IsLost();

    void Wake();

    /* From here on there is no window: say so once, and let the program's
       pauses and requests go on as they would without a display. */
    void Lose(const char *why);

    /* The button that VELORIN_HOST_ANSWER names, else the rightmost. */
    UWORD AnswerWithoutPerson(HostWindow &request);

    /* Shuts the display's socket down, which ends any wait for the display
       with a broken connection; under wakeLock_. */
    void BreakConnection();

    void Run();

    /* Drops the record of every window; on the display too while it is
       still there to talk to. */
    void ForgetWindows();

    /* Connects and reads the display, all in the wait that Start bounds. */
    bool OpenDisplay(std::string &why);

    /* Keeps a question to the display under way, and notes when it was
       last answered. */
    void Probe();

    void TakeEvents();

    /* Brings the windows on the display up to date with the model. */
    void ShowChanges();

    /* What creating the window needs of the model; under the model lock. */
    void Describe(ShownXWindow &shown, HostWindow &window);

    void Create(ShownXWindow &shown);

    void Present(ShownXWindow &shown);

    void DestroyShown(ShownXWindow &shown);

    void Forget(ShownXWindow *shown);

    /* The record of the X window id, if it is one of the windows shown;
       under the model lock. */
    ShownXWindow *FindShown(xcb_window_t id) const;

    /* A button chosen, by mouse or key: the request's answer, or the
       program's gadget-up message; under the model lock. */
    void Choose(HostWindow &window, HostGadget &button);

    void Answer(int answer);

    void Handle(const xcb_generic_event_t &event);

    void LoseWindow();

    void HandleButton(const xcb_button_press_event_t &event);

    void HandleMessage(const xcb_client_message_event_t &message);

    const DisplayAddress address_;
    std::thread thread_;
    XDisplay display_ = {};
    int scale_ = 1;
    std::vector<uint8_t> image_;
    xcb_get_input_focus_cookie_t probe_ = {};
    bool probing_ = false;
    std::chrono::steady_clock::time_point probeSent_;

    /* Under the model lock. */
    std::vector<ShownXWindow *> windows_;
    HostWindow *asking_ = nullptr;
    HostGadget *pressed_ = nullptr;
    HostWindow *pressedWindow_ = nullptr;

    /* Under wakeLock_; taken after the model lock when both are. */
    std::mutex wakeLock_;
    std::condition_variable wakeup_;
    int breaker_ = -1; /* a second descriptor of the display's socket */
    bool tried_ = false;
    bool tooLate_ = false;
    std::string openingFault_;
    bool started_ = false;
    bool stopping_ = false;
    bool finished_ = false;
    bool woken_ = false;
    bool lost_ = false;
    std::chrono::steady_clock::time_point heard_; /* the display's last answer */
    int answer_ = -1;
};

#endif
