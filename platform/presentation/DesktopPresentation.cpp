#include "../window/Font.h"
#include "../host/HostControls.h"
#include "DisplayLoss.h"
#include "Presentation.h"
#include "SdlLibrary.h"

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <map>
#include <mutex>
#include <thread>

#include <signal.h>
#include <text/escape.h>

/* The windows as real top-level windows on the desktop, through SDL2, kept
   by a thread of the presentation's own, as the system keeps its screens
   beside the program: every 20 ms it takes in the person's input and the
   window manager's requests (pings included), and shows what the program
   drew since, whether the program is busy in a long read or not. Only this
   thread talks to the display; it takes the model lock while it reads the
   model or changes it (a button pressed, a message queued), never while it
   waits for the display, so a stalled display never holds the program up.

   The default public screen is the display, divided by a whole-number scale
   on large displays; each window is placed where it stands on that screen
   and drawn with its own frame, so it is opened without the desktop's. A
   press and release on a button queues its gadget-up message; a request
   window is modal. When the display goes away, or a window is destroyed by
   another program, the run goes on without windows, as headless. */

namespace {

const auto roundPeriod = std::chrono::milliseconds(20);

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
    std::vector<UBYTE> frame;
    bool fresh;
    int scale;
    SDL_Window *sdl;
    SDL_Surface *canvas;
    Uint32 id;
    unsigned long resource;
};

SDL_HitTestResult HitTestTitleBar(SDL_Window *, const SDL_Point *area, void *data)
{
    const ShownWindow *shown = static_cast<const ShownWindow *>(data);
    return area->y < shown->borderTop * shown->scale ? SDL_HITTEST_DRAGGABLE : SDL_HITTEST_NORMAL;
}

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

class DesktopPresentation : public Presentation {
public:
    explicit DesktopPresentation(const SdlLibrary &sdl, bool x11) : sdl_(sdl), x11_(x11) {}

    /* Starts the thread and waits for it to reach the display. */
    bool Start()
    {
        thread_ = std::thread(&DesktopPresentation::Run, this);
        std::unique_lock<std::mutex> wake(wakeLock_);
        wakeup_.wait(wake, [this] { return started_ || lost_; });
        return started_ && !lost_;
    }

    ~DesktopPresentation() override
    {
        {
            std::lock_guard<std::mutex> wake(wakeLock_);
            stopping_ = true;
        }
        wakeup_.notify_all();
        /* A display that stops answering (a stopped server, a dead network
           link) holds the thread in a wait for it: after a while the
           connection is broken under it, which ends the wait as a lost
           display. A thread parked in Xlib's hook never comes back; it
           touches nothing of this object any more. */
        using Clock = std::chrono::steady_clock;
        auto deadline = Clock::now() + std::chrono::seconds(3);
        while (!finished_ && !IsDisplayThreadParked()) {
            if (Clock::now() >= deadline)
                BreakDisplayConnection();
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        if (finished_)
            thread_.join();
        else
            thread_.detach();
    }

    bool GetDisplaySize(LONG &width, LONG &height) override
    {
        width = display_.w / scale_;
        height = display_.h / scale_;
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
            shown->scale = scale_;
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
            wakeup_.wait(wake, [this] { return answer_ >= 0 || lost_; });
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

    static void LoseConnection(void *self)
    {
        static_cast<DesktopPresentation *>(self)->Lose(
            "Lost the connection to the display; unpacking goes on without the window");
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

    void Run()
    {
        /* Signals stay with the program's own thread, as before there was
           this one; a write to a broken display connection then fails with
           EPIPE here instead of ending the process. */
        sigset_t all;
        sigfillset(&all);
        pthread_sigmask(SIG_BLOCK, &all, nullptr);
        bool ready = OpenDisplay();
        {
            std::lock_guard<std::mutex> wake(wakeLock_);
            started_ = ready;
            if (!ready)
                lost_ = true;
        }
        wakeup_.notify_all();
        while (ready) {
            TakeEvents();
            CheckDisplay();
            if (!IsLost())
                ShowChanges();
            CheckDisplay();
            std::unique_lock<std::mutex> wake(wakeLock_);
            if (stopping_)
                break;
            wakeup_.wait_for(wake, roundPeriod, [this] { return stopping_ || woken_; });
            woken_ = false;
        }
        bool connected = initialised_ && !IsDisplayConnectionLost();
        ForgetWindows(connected);
        if (connected)
            sdl_.SDL_Quit();
        finished_ = true;
    }

    /* Drops the record of every window; on the display too while it is
       still there to talk to. */
    void ForgetWindows(bool connected)
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
            if (connected)
                DestroyShown(*shown);
            delete shown;
        }
    }

    bool OpenDisplay()
    {
        if (x11_) {
            sdl_.SDL_SetHint(SDL_HINT_VIDEODRIVER, "x11");
            if (!InstallDisplayLossHooks(LoseConnection, this))
                return false;
        }
        /* A progress window is no reason to keep the screen saver away. */
        sdl_.SDL_SetHint(SDL_HINT_VIDEO_ALLOW_SCREENSAVER, "1");
        sdl_.SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
        /* A click on Abort counts even when it is the click that activates
           the window, as it would on the system's own screens. */
        sdl_.SDL_SetHint(SDL_HINT_MOUSE_FOCUS_CLICKTHROUGH, "1");
        /* The pixels go straight to the window; no 3D driver is woken. */
        sdl_.SDL_SetHint(SDL_HINT_FRAMEBUFFER_ACCELERATION, "0");
        if (sdl_.SDL_Init(SDL_INIT_VIDEO) != 0)
            return false;
        initialised_ = true;
        if (x11_)
            InstallDisplayLossHooks(LoseConnection, this);
        if (sdl_.SDL_GetDisplayUsableBounds(0, &display_) != 0 &&
            sdl_.SDL_GetDisplayBounds(0, &display_) != 0)
            return false;
        scale_ = std::max(1, std::min(display_.w / 640, display_.h / 480));
        return !IsDisplayConnectionLost();
    }

    /* A failed request on one of the windows means another program
       destroyed it: the run goes on without windows. */
    void CheckDisplay()
    {
        unsigned long resource = TakeFailedResource();
        if (resource == 0 || IsDisplayConnectionLost())
            return;
        for (ShownWindow *shown : windows_)
            if (shown->resource == resource)
                Lose("The window was destroyed from outside; unpacking goes on without it");
    }

    void TakeEvents()
    {
        SDL_Event event;
        while (!IsDisplayConnectionLost() && sdl_.SDL_PollEvent(&event))
            Handle(event);
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
                } else if (window->dirty || shown->sdl == nullptr) {
                    shown->frame = window->pixels;
                    shown->fresh = true;
                    window->dirty = false;
                }
                if (shown->sdl == nullptr && !shown->closing)
                    Describe(*shown, *window);
                current.emplace_back(shown, shown->closing);
            }
        }
        for (auto [shown, closing] : current) {
            if (shown->sdl == nullptr && !closing)
                Create(*shown);
            if (shown->fresh)
                Present(*shown);
            if (closing)
                Forget(shown);
        }
    }

    struct Placement {
        int left, top;
        std::string title;
    };

    /* What creating the window needs of the model; under the model lock. */
    void Describe(ShownWindow &shown, HostWindow &window)
    {
        shown.width = window.Width;
        shown.height = window.Height;
        shown.borderTop = window.BorderTop;
        std::memcpy(shown.palette, window.screen->palette, sizeof shown.palette);
        placements_[&shown] = {display_.x + window.LeftEdge * scale_,
                               display_.y + window.TopEdge * scale_, ToShownTitle(window.title)};
    }

    void Create(ShownWindow &shown)
    {
        Placement placement = placements_[&shown];
        placements_.erase(&shown);
        Uint32 flags = SDL_WINDOW_BORDERLESS;
        if (shown.modal)
            flags |= SDL_WINDOW_ALWAYS_ON_TOP | SDL_WINDOW_SKIP_TASKBAR;
        shown.sdl = sdl_.SDL_CreateWindow(placement.title.c_str(), placement.left, placement.top,
                                          shown.width * scale_, shown.height * scale_, flags);
        if (shown.sdl == nullptr)
            return;
        shown.canvas = sdl_.SDL_CreateRGBSurfaceWithFormat(
            0, shown.width * scale_, shown.height * scale_, 32, SDL_PIXELFORMAT_ARGB8888);
        shown.id = sdl_.SDL_GetWindowID(shown.sdl);
        sdl_.SDL_SetWindowHitTest(shown.sdl, HitTestTitleBar, &shown);
        if (x11_)
            shown.resource = WatchWindow(sdl_, shown.sdl);
        for (ShownWindow *other : windows_)
            if (shown.modal && other != &shown && other->sdl != nullptr && !other->modal)
                sdl_.SDL_SetWindowModalFor(shown.sdl, other->sdl);
        sdl_.SDL_RaiseWindow(shown.sdl);
    }

    void Present(ShownWindow &shown)
    {
        shown.fresh = false;
        if (shown.sdl == nullptr || shown.canvas == nullptr ||
            shown.frame.size() != size_t(shown.width) * size_t(shown.height))
            return;
        Uint32 colours[256] = {};
        for (int pen = 0; pen < 8; pen++) {
            const Colour &colour = shown.palette[pen];
            colours[pen] =
                0xFF000000u | Uint32(colour.red) << 16 | Uint32(colour.green) << 8 | colour.blue;
        }
        SDL_Surface *canvas = shown.canvas;
        for (int y = 0; y < shown.height; y++) {
            for (int copy = 0; copy < scale_; copy++) {
                Uint32 *row = reinterpret_cast<Uint32 *>(static_cast<Uint8 *>(canvas->pixels) +
                                                         size_t(y * scale_ + copy) * canvas->pitch);
                const UBYTE *pens = shown.frame.data() + size_t(y) * shown.width;
                for (int x = 0; x < shown.width; x++)
                    std::fill_n(row + x * scale_, scale_, colours[pens[x]]);
            }
        }
        SDL_Surface *surface = sdl_.SDL_GetWindowSurface(shown.sdl);
        if (surface != nullptr && !IsDisplayConnectionLost()) {
            sdl_.SDL_UpperBlit(canvas, nullptr, surface, nullptr);
            sdl_.SDL_UpdateWindowSurface(shown.sdl);
        }
    }

    void DestroyShown(ShownWindow &shown)
    {
        if (shown.canvas != nullptr)
            sdl_.SDL_FreeSurface(shown.canvas);
        if (shown.sdl != nullptr)
            sdl_.SDL_DestroyWindow(shown.sdl);
        shown.canvas = nullptr;
        shown.sdl = nullptr;
    }

    void Forget(ShownWindow *shown)
    {
        DestroyShown(*shown);
        ModelGuard guard(GetModelLock());
        windows_.erase(std::find(windows_.begin(), windows_.end(), shown));
        delete shown;
    }

    /* The model's window shown as this SDL window, if it is still open;
       under the model lock. */
    HostWindow *FindWindow(Uint32 id) const
    {
        for (ShownWindow *shown : windows_)
            if (shown->sdl != nullptr && shown->id == id)
                return shown->window;
        return nullptr;
    }

    /* A button chosen, by mouse or key: the request's answer, or the
       program's gadget-up message; under the model lock. */
    void Choose(HostWindow &window, HostGadget &button)
    {
        if (&window == asking_) {
            {
                std::lock_guard<std::mutex> wake(wakeLock_);
                answer_ = button.GadgetID;
            }
            wakeup_.notify_all();
        } else if (asking_ == nullptr) {
            ReleaseGadget(window, button);
        }
    }

    void Handle(const SDL_Event &event)
    {
        ModelGuard guard(GetModelLock());
        switch (event.type) {
        case SDL_MOUSEBUTTONDOWN:
        case SDL_MOUSEBUTTONUP: {
            HostWindow *window = FindWindow(event.button.windowID);
            if (window == nullptr || event.button.button != SDL_BUTTON_LEFT)
                break;
            HostGadget *gadget = FindGadgetAt(*window, event.button.x / scale_, event.button.y / scale_);
            if (event.type == SDL_MOUSEBUTTONDOWN) {
                if (gadget == nullptr || (asking_ != nullptr && window != asking_))
                    break;
                /* Shown pressed at once, at the next showing of changes;
                   the program hears of it only at the release. */
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
            break;
        }
        case SDL_KEYDOWN: {
            HostWindow *window = asking_ != nullptr ? asking_ : FindWindow(event.key.windowID);
            if (window == nullptr)
                break;
            SDL_Keycode key = event.key.keysym.sym;
            for (HostGadget *button : ListButtons(*window))
                if (!button->label.empty() && key < 128 &&
                    std::tolower(static_cast<unsigned char>(button->label[0])) == key)
                    Choose(*window, *button);
            break;
        }
        case SDL_WINDOWEVENT:
            HandleWindowEvent(event.window);
            break;
        default:
            break;
        }
    }

    void HandleWindowEvent(const SDL_WindowEvent &event)
    {
        for (ShownWindow *shown : windows_) {
            if (shown->sdl == nullptr || shown->id != event.windowID)
                continue;
            HostWindow *window = shown->window;
            if (event.event == SDL_WINDOWEVENT_EXPOSED ||
                event.event == SDL_WINDOWEVENT_SIZE_CHANGED) {
                shown->fresh = true;
            } else if (event.event == SDL_WINDOWEVENT_MOVED && window != nullptr) {
                window->LeftEdge = WORD((event.data1 - display_.x) / scale_);
                window->TopEdge = WORD((event.data2 - display_.y) / scale_);
            } else if (event.event == SDL_WINDOWEVENT_CLOSE && window != nullptr) {
                /* Closing the window asks what its first button asks; a
                   request closed is answered by its rightmost button. */
                std::vector<HostGadget *> buttons = ListButtons(*window);
                if (window == asking_) {
                    {
                        std::lock_guard<std::mutex> wake(wakeLock_);
                        answer_ = 0;
                    }
                    wakeup_.notify_all();
                } else if (!buttons.empty()) {
                    Choose(*window, *buttons.front());
                }
            }
        }
    }

    const SdlLibrary &sdl_;
    bool x11_;
    std::thread thread_;
    bool initialised_ = false;
    std::atomic<bool> finished_ = false;
    SDL_Rect display_ = {};
    int scale_ = 1;
    std::map<ShownWindow *, Placement> placements_;

    /* Under the model lock. */
    std::vector<ShownWindow *> windows_;
    HostWindow *asking_ = nullptr;
    HostGadget *pressed_ = nullptr;
    HostWindow *pressedWindow_ = nullptr;

    /* Under wakeLock_; taken after the model lock when both are. */
    std::mutex wakeLock_;
    std::condition_variable wakeup_;
    bool started_ = false;
    bool stopping_ = false;
    bool woken_ = false;
    bool lost_ = false;
    int answer_ = -1;
};

}  // namespace

Presentation *StartDesktopPresentation()
{
    bool wayland = std::getenv("WAYLAND_DISPLAY") != nullptr;
    bool x11 = std::getenv("DISPLAY") != nullptr;
    if (!x11 && !wayland)
        return nullptr;
    const SdlLibrary *sdl = LoadSdlLibrary();
    if (sdl == nullptr)
        return nullptr;
    /* A display reached without a desktop session (a remote X display, a
       virtual one) has no session bus; SDL would have D-Bus start one of its
       own, which outlives the run. A window needs none. */
    setenv("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent", 0);
    /* X11 wherever there is an X display (XWayland included): there the
       loss of the display is handled. */
    DesktopPresentation *desktop = new DesktopPresentation(*sdl, x11);
    if (!desktop->Start()) {
        delete desktop;
        return nullptr;
    }
    return desktop;
}
