#include "../host/HostControls.h"
#include "Presentation.h"
#include "desktop/DisplayAddress.h"
#include "desktop/DisplayConnection.h"
#include "desktop/ScrollKeys.h"
#include "desktop/XDisplay.h"
#include "desktop/XWindow.h"

#include <xcb/xcbext.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <mutex>
#include <thread>

#include <fcntl.h>
#include <signal.h>
#include <sys/socket.h>
#include <text/escape.h>
#include <unistd.h>

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

namespace
{

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
struct ShownWindow {
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

/* Titles are shown as the model draws text: UTF-8 as characters, other
   bytes escaped. */
std::string ToShownTitle(const std::string &title)
{
    std::string shown(title.size() * 4 + 1, '\0');
    EscapeText(title.data(), title.size(), shown.data(), shown.size(), KEEP_BACKSLASH);
    shown.resize(std::strlen(shown.c_str()));
    return shown;
}

using ModelGuard = std::lock_guard<std::recursive_mutex>;

class DesktopPresentation : public Presentation
{
  public:
    explicit DesktopPresentation(const DisplayAddress &address) : address_(address) {}

    /* Starts the thread and waits, for openingTime at most, for it to reach
       the display; false with the reason in why. */
    bool Start(std::string &why)
    {
        thread_ = std::thread(&DesktopPresentation::Run, this);
        std::unique_lock<std::mutex> wake(wakeLock_);
        auto deadline = std::chrono::steady_clock::now() + openingTime;
        if (!wakeup_.wait_until(wake, deadline, [this] { return tried_; })) {
            /* A server that accepted the connection and never answers: the
               thread's wait ends when its socket is shut down. */
            tooLate_ = true;
            BreakConnection();
            wakeup_.wait(wake, [this] { return tried_; });
            why = "the display did not answer within " +
                  std::to_string(std::chrono::seconds(openingTime).count()) + " seconds";
        } else {
            why = openingFault_;
        }
        return started_;
    }

    ~DesktopPresentation() override
    {
        std::unique_lock<std::mutex> wake(wakeLock_);
        stopping_ = true;
        wakeup_.notify_all();
        /* A display that stops answering (a stopped server, a dead network
           link) holds the thread in a wait for it: the connection is then
           broken under it, which ends the wait. */
        if (!wakeup_.wait_for(wake, closingTime, [this] { return finished_; })) {
            wake.unlock();
            Lose("The display stopped answering; Velorin ends without taking its window down");
            wake.lock();
            BreakConnection();
        }
        wake.unlock();
        thread_.join();
        if (breaker_ >= 0)
            close(breaker_);
    }

    bool IsOnDesktop() override { return !IsLost(); }

    bool GetDisplaySize(LONG &width, LONG &height) override
    {
        width = display_.areaWidth / scale_;
        height = display_.areaHeight / scale_;
        return true;
    }

    void ShowWindow(HostWindow &window) override
    {
        {
            ModelGuard guard(GetModelLock());
            if (IsLost() || window.shown != nullptr)
                return;
            ShownWindow *shown = new ShownWindow{};
            shown->window = &window;
            shown->modal = window.request != nullptr;
            window.shown = shown;
            window.dirty = true;
            windows_.push_back(shown);
        }
        Wake();
    }

    void HideWindow(HostWindow &window) override
    {
        {
            ModelGuard guard(GetModelLock());
            ShownWindow *shown = static_cast<ShownWindow *>(window.shown);
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

    void Refresh(HostWindow &, bool now) override
    {
        if (now)
            Wake();
    }

    /* The thread takes the input and shows the drawing by itself. */
    void CheckInput() override {}

    void Pause(LONG ticks) override
    {
        if (IsLost())
            ReportLaidOutText();
        else
            Wake();
        unsigned long long milliseconds = GetPauseMilliseconds(ticks);
        timespec wait = {time_t(milliseconds / 1000), long(milliseconds % 1000) * 1000000L};
        while (nanosleep(&wait, &wait) != 0 && errno == EINTR) {
        }
    }

    UWORD Ask(HostWindow &request) override
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

  private:
    bool IsLost()
    {
        std::lock_guard<std::mutex> wake(wakeLock_);
        return lost_;
    }

    void Wake()
    {
        {
            std::lock_guard<std::mutex> wake(wakeLock_);
            woken_ = true;
        }
        wakeup_.notify_all();
    }

    /* From here on there is no window: say so once, and let the program's
       pauses and requests go on as they would without a display. */
    void Lose(const char *why)
    {
        {
            std::lock_guard<std::mutex> wake(wakeLock_);
            if (lost_)
                return;
            lost_ = true;
        }
        wakeup_.notify_all();
        ReportErrorLine(why);
    }

    /* What a person would have read during the pause, as without a display. */
    void ReportLaidOutText()
    {
        std::string text;
        {
            ModelGuard guard(GetModelLock());
            const std::vector<HostWindow *> &windows = GetOpenWindows();
            if (windows.empty())
                return;
            text = windows.back()->laidOutText;
        }
        std::string line(text.size() * 4 + 1, '\0');
        EscapeText(text.data(), text.size(), line.data(), line.size(), KEEP_BACKSLASH);
        std::fprintf(stderr, "%s\n", line.c_str());
        std::fflush(stderr);
    }

    /* The button that VELORIN_HOST_ANSWER names, else the rightmost. */
    UWORD AnswerWithoutPerson(HostWindow &request)
    {
        ModelGuard guard(GetModelLock());
        const char *answer = GetHostControls().answer;
        for (HostGadget *button : ListButtons(request))
            if (answer != nullptr && button->label == answer)
                return button->GadgetID;
        return 0;
    }

    /* Shuts the display's socket down, which ends any wait for the display
       with a broken connection; under wakeLock_. */
    void BreakConnection()
    {
        if (breaker_ >= 0)
            shutdown(breaker_, SHUT_RDWR);
    }

    void Run()
    {
        /* Signals stay with the program's own thread, as before there was
           this one; a write to a broken display connection then fails with
           EPIPE here instead of ending the process. */
        sigset_t all;
        sigfillset(&all);
        pthread_sigmask(SIG_BLOCK, &all, nullptr);
        std::string fault;
        bool ready = OpenDisplay(fault);
        {
            std::lock_guard<std::mutex> wake(wakeLock_);
            ready = ready && !tooLate_;
            started_ = ready;
            tried_ = true;
            openingFault_ = fault;
            if (!ready)
                lost_ = true;
        }
        wakeup_.notify_all();
        while (ready) {
            bool connected = !IsLost();
            if (connected)
                TakeEvents();
            if (!IsLost())
                ShowChanges();
            if (connected) {
                Probe();
                xcb_flush(display_.connection);
                if (xcb_connection_has_error(display_.connection) != 0)
                    Lose("Lost the connection to the display; unpacking goes on without the "
                         "window");
            }
            std::unique_lock<std::mutex> wake(wakeLock_);
            if (stopping_)
                break;
            wakeup_.wait_for(wake, roundPeriod, [this] { return stopping_ || woken_; });
            woken_ = false;
        }
        if (ready)
            ForgetWindows();
        if (display_.connection != nullptr)
            xcb_disconnect(display_.connection);
        std::lock_guard<std::mutex> wake(wakeLock_);
        finished_ = true;
        wakeup_.notify_all();
    }

    /* Drops the record of every window; on the display too while it is
       still there to talk to. */
    void ForgetWindows()
    {
        std::vector<ShownWindow *> forgotten;
        {
            ModelGuard guard(GetModelLock());
            for (ShownWindow *shown : windows_)
                if (shown->window != nullptr)
                    shown->window->shown = nullptr;
            forgotten.swap(windows_);
        }
        for (ShownWindow *shown : forgotten) {
            DestroyShown(*shown);
            delete shown;
        }
        xcb_flush(display_.connection);
    }

    /* Connects and reads the display, all in the wait that Start bounds. */
    bool OpenDisplay(std::string &why)
    {
        int socket =
            ConnectDisplaySocket(address_, std::chrono::steady_clock::now() + openingTime, why);
        if (socket < 0)
            return false;
        {
            std::lock_guard<std::mutex> wake(wakeLock_);
            if (tooLate_) {
                close(socket);
                return false;
            }
            breaker_ = fcntl(socket, F_DUPFD_CLOEXEC, 3);
        }
        xcb_connection_t *connection = OpenXConnection(socket, address_, why);
        if (connection == nullptr)
            return false;
        if (!ReadXDisplay(connection, address_.screen, display_, why)) {
            xcb_disconnect(connection);
            display_.connection = nullptr;
            return false;
        }
        scale_ = std::clamp(std::min(display_.areaWidth / 640, display_.areaHeight / 480), 1,
                            largestScale);
        std::lock_guard<std::mutex> wake(wakeLock_);
        heard_ = std::chrono::steady_clock::now();
        return true;
    }

    /* Keeps a question to the display under way, and notes when it was
       last answered. */
    void Probe()
    {
        auto now = std::chrono::steady_clock::now();
        if (probing_) {
            void *reply = nullptr;
            xcb_generic_error_t *error = nullptr;
            if (xcb_poll_for_reply(display_.connection, probe_.sequence, &reply, &error) == 0)
                return;
            std::free(reply);
            std::free(error);
            probing_ = false;
            std::lock_guard<std::mutex> wake(wakeLock_);
            heard_ = now;
        }
        if (now - probeSent_ >= probePeriod) {
            probe_ = xcb_get_input_focus(display_.connection);
            probeSent_ = now;
            probing_ = true;
        }
    }

    void TakeEvents()
    {
        while (xcb_generic_event_t *event = xcb_poll_for_event(display_.connection)) {
            Handle(*event);
            std::free(event);
        }
    }

    /* Brings the windows on the display up to date with the model. */
    void ShowChanges()
    {
        /* Each window, and whether the program has closed it. */
        std::vector<std::pair<ShownWindow *, bool>> current;
        {
            ModelGuard guard(GetModelLock());
            for (ShownWindow *shown : windows_) {
                HostWindow *window = shown->window;
                if (shown->closing) {
                    shown->frame.swap(shown->finalPixels);
                    shown->fresh = true;
                    current.emplace_back(shown, true);
                    continue;
                }
                FlushDrawing(*window);
                if (window->dirty || shown->id == 0) {
                    shown->frame = window->pixels;
                    shown->fresh = true;
                    window->dirty = false;
                }
                if (shown->id == 0 && !shown->closing)
                    Describe(*shown, *window);
                current.emplace_back(shown, shown->closing);
            }
        }
        for (auto [shown, closing] : current) {
            if (shown->id == 0 && !closing)
                Create(*shown);
            if (shown->fresh)
                Present(*shown);
            if (closing)
                Forget(shown);
        }
    }

    /* What creating the window needs of the model; under the model lock. */
    void Describe(ShownWindow &shown, HostWindow &window)
    {
        shown.width = window.Width;
        shown.height = window.Height;
        shown.borderTop = window.BorderTop;
        std::memcpy(shown.palette, window.screen->palette, sizeof shown.palette);
        shown.look = {int16_t(display_.areaX + window.LeftEdge * scale_),
                      int16_t(display_.areaY + window.TopEdge * scale_),
                      uint16_t(window.Width * scale_),
                      uint16_t(window.Height * scale_),
                      ToShownTitle(window.title),
                      shown.modal,
                      0};
    }

    void Create(ShownWindow &shown)
    {
        for (ShownWindow *other : windows_)
            if (shown.modal && other != &shown && other->id != 0 && !other->modal)
                shown.look.owner = other->id;
        shown.id = CreateXWindow(display_, shown.look);
        shown.context = xcb_generate_id(display_.connection);
        xcb_create_gc(display_.connection, shown.context, shown.id, 0, nullptr);
    }

    void Present(ShownWindow &shown)
    {
        shown.fresh = false;
        uint32_t colours[256] = {};
        for (int pen = 0; pen < 8; pen++) {
            const Colour &colour = shown.palette[pen];
            colours[pen] = MakePixel(display_, colour.red, colour.green, colour.blue);
        }
        PutXWindowPixels(display_, shown.id, shown.context, shown.frame, shown.width, shown.height,
                         scale_, colours, image_);
    }

    void DestroyShown(ShownWindow &shown)
    {
        if (shown.id == 0)
            return;
        xcb_free_gc(display_.connection, shown.context);
        xcb_destroy_window(display_.connection, shown.id);
        shown.id = 0;
    }

    void Forget(ShownWindow *shown)
    {
        DestroyShown(*shown);
        ModelGuard guard(GetModelLock());
        windows_.erase(std::find(windows_.begin(), windows_.end(), shown));
        delete shown;
    }

    /* The record of the X window id, if it is one of the windows shown;
       under the model lock. */
    ShownWindow *FindShown(xcb_window_t id) const
    {
        for (ShownWindow *shown : windows_)
            if (shown->id != 0 && shown->id == id)
                return shown;
        return nullptr;
    }

    /* A button chosen, by mouse or key: the request's answer, or the
       program's gadget-up message; under the model lock. */
    void Choose(HostWindow &window, HostGadget &button)
    {
        if (button.unavailable)
            return;
        if (&window == asking_) {
            Answer(button.GadgetID);
        } else if (asking_ == nullptr) {
            ReleaseGadget(window, button);
        }
    }

    void Answer(int answer)
    {
        {
            std::lock_guard<std::mutex> wake(wakeLock_);
            answer_ = answer;
        }
        wakeup_.notify_all();
    }

    void Handle(const xcb_generic_event_t &event)
    {
        ModelGuard guard(GetModelLock());
        switch (event.response_type & 0x7F) {
        case 0: {
            /* A failed request on one of the windows means another program
               destroyed it. */
            const auto &error = reinterpret_cast<const xcb_generic_error_t &>(event);
            if (FindShown(error.resource_id) != nullptr)
                LoseWindow();
            break;
        }
        case XCB_DESTROY_NOTIFY:
            if (FindShown(reinterpret_cast<const xcb_destroy_notify_event_t &>(event).window))
                LoseWindow();
            break;
        case XCB_EXPOSE:
            if (ShownWindow *shown =
                    FindShown(reinterpret_cast<const xcb_expose_event_t &>(event).window))
                shown->fresh = true;
            break;
        case XCB_REPARENT_NOTIFY: {
            const auto &reparent = reinterpret_cast<const xcb_reparent_notify_event_t &>(event);
            if (ShownWindow *shown = FindShown(reparent.window))
                shown->reparented = reparent.parent != display_.screen->root;
            break;
        }
        case XCB_CONFIGURE_NOTIFY: {
            /* Where it now stands on the root: told by the window itself
               when it has no frame around it, else by the window manager. */
            const auto &configure = reinterpret_cast<const xcb_configure_notify_event_t &>(event);
            ShownWindow *shown = FindShown(configure.window);
            bool onRoot = (event.response_type & 0x80) != 0 || (shown && !shown->reparented);
            if (shown != nullptr && shown->window != nullptr && onRoot) {
                shown->window->LeftEdge = WORD((configure.x - display_.areaX) / scale_);
                shown->window->TopEdge = WORD((configure.y - display_.areaY) / scale_);
            }
            break;
        }
        case XCB_BUTTON_PRESS:
        case XCB_BUTTON_RELEASE:
            HandleButton(reinterpret_cast<const xcb_button_press_event_t &>(event));
            break;
        case XCB_KEY_PRESS: {
            const auto &key = reinterpret_cast<const xcb_key_press_event_t &>(event);
            ShownWindow *shown = FindShown(key.event);
            HostWindow *window = asking_ != nullptr ? asking_ : shown ? shown->window : nullptr;
            if (window != nullptr && window->request != nullptr && window->request->scroll) {
                int lines = GetScrollLines(display_, key.detail, window->request->page);
                if (lines != 0) {
                    window->request->scroll(*window, lines);
                    break;
                }
            }
            unsigned long character = ReadKeyCharacter(display_, key.detail);
            if (window == nullptr || character == 0 || character >= 128)
                break;
            for (HostGadget *button : ListButtons(*window))
                if (!button->label.empty() &&
                    std::tolower(static_cast<unsigned char>(button->label[0])) == int(character))
                    Choose(*window, *button);
            break;
        }
        case XCB_CLIENT_MESSAGE:
            HandleMessage(reinterpret_cast<const xcb_client_message_event_t &>(event));
            break;
        default:
            break;
        }
    }

    void LoseWindow()
    {
        Lose("The window was destroyed from outside; unpacking goes on without it");
    }

    void HandleButton(const xcb_button_press_event_t &event)
    {
        ShownWindow *shown = FindShown(event.event);
        HostWindow *window = shown != nullptr ? shown->window : nullptr;
        bool wheel = event.detail == XCB_BUTTON_INDEX_4 || event.detail == XCB_BUTTON_INDEX_5;
        if (window != nullptr && wheel && window->request != nullptr && window->request->scroll &&
            (event.response_type & 0x7F) == XCB_BUTTON_PRESS) {
            int lines = event.detail == XCB_BUTTON_INDEX_4 ? -WHEEL_LINES : WHEEL_LINES;
            window->request->scroll(*window, lines);
            return;
        }
        if (window == nullptr || event.detail != XCB_BUTTON_INDEX_1)
            return;
        HostGadget *gadget = FindGadgetAt(*window, event.event_x / scale_, event.event_y / scale_);
        if ((event.response_type & 0x7F) == XCB_BUTTON_PRESS) {
            if (gadget == nullptr && window->request != nullptr && window->request->press &&
                window->request->press(*window, event.event_x / scale_, event.event_y / scale_))
                return;
            if (gadget == nullptr && event.event_y < shown->borderTop * scale_) {
                StartWindowMove(display_, shown->id, event.root_x, event.root_y);
                return;
            }
            if (gadget == nullptr || gadget->unavailable ||
                (asking_ != nullptr && window != asking_))
                return;
            /* Shown pressed at once, at the next showing of changes; the
               program hears of it only at the release. */
            pressed_ = gadget;
            pressedWindow_ = window;
            gadget->pressed = true;
            DrawButton(*window, *gadget);
        } else if (pressed_ != nullptr && window == pressedWindow_) {
            HostGadget *released = pressed_;
            released->pressed = false;
            pressed_ = nullptr;
            DrawButton(*window, *released);
            if (gadget == released)
                Choose(*window, *released);
        }
    }

    void HandleMessage(const xcb_client_message_event_t &message)
    {
        ShownWindow *shown = FindShown(message.window);
        if (shown == nullptr || message.type != display_.WM_PROTOCOLS || message.format != 32)
            return;
        xcb_atom_t protocol = message.data.data32[0];
        if (protocol == display_._NET_WM_PING) {
            AnswerPing(display_, message);
        } else if (protocol == display_.WM_DELETE_WINDOW && shown->window != nullptr) {
            /* Closing the window asks what its first button asks; a request
               closed is answered by its rightmost button. */
            HostWindow *window = shown->window;
            std::vector<HostGadget *> buttons = ListButtons(*window);
            if (window == asking_)
                Answer(0);
            else if (!buttons.empty())
                Choose(*window, *buttons.front());
        }
    }

    const DisplayAddress address_;
    std::thread thread_;
    XDisplay display_ = {};
    int scale_ = 1;
    std::vector<uint8_t> image_;
    xcb_get_input_focus_cookie_t probe_ = {};
    bool probing_ = false;
    std::chrono::steady_clock::time_point probeSent_;

    /* Under the model lock. */
    std::vector<ShownWindow *> windows_;
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

} // namespace

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
