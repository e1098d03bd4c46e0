#include "../window/Font.h"
#include "../host/HostControls.h"
#include "Presentation.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>

#include <SDL.h>

/* The windows as real top-level windows on the desktop, through SDL2. The
   default public screen is the display, divided by a whole-number scale on
   large displays; each window is placed where it stands on that screen and
   drawn with its own frame, so it is opened without the desktop's. Pixels
   are shown at most about 60 times a second, and always at once before a
   request, before a pause and when a window closes. A press and release on
   a button queues its gadget-up message; a request window is modal. */

namespace {

struct ShownWindow {
    SDL_Window *sdl;
    SDL_Surface *canvas;
    int scale;
    HostWindow *window;
};

const unsigned long long framePeriod = 16;
/* While the program waits (a pause, a request), input is looked at this
   often, in milliseconds. SDL's blocking wait is not used: on X11 it wakes
   itself with an event sent over a second connection, which has ended runs
   with an X error. */
const Uint32 waitStep = 10;

SDL_HitTestResult HitTestTitleBar(SDL_Window *, const SDL_Point *area, void *data)
{
    const ShownWindow *shown = static_cast<const ShownWindow *>(data);
    return area->y < shown->window->BorderTop * shown->scale ? SDL_HITTEST_DRAGGABLE
                                                              : SDL_HITTEST_NORMAL;
}

/* Window titles are the system's 8-bit text; SDL wants UTF-8. */
std::string ToUtf8(const std::string &text)
{
    std::string converted;
    for (unsigned char c : text) {
        if (c < 0x80) {
            converted.push_back(char(c));
        } else {
            converted.push_back(char(0xC0 | (c >> 6)));
            converted.push_back(char(0x80 | (c & 0x3F)));
        }
    }
    return converted;
}

class DesktopPresentation : public Presentation {
public:
    explicit DesktopPresentation(const SDL_Rect &display) : display_(display)
    {
        scale_ = std::max(1, std::min(display.w / 640, display.h / 480));
    }

    ~DesktopPresentation() override
    {
        for (HostWindow *window : GetOpenWindows())
            Destroy(*window);
        SDL_Quit();
    }

    bool GetDisplaySize(LONG &width, LONG &height) override
    {
        width = display_.w / scale_;
        height = display_.h / scale_;
        return true;
    }

    void ShowWindow(HostWindow &window) override
    {
        Uint32 flags = SDL_WINDOW_BORDERLESS;
        if (window.request != nullptr)
            flags |= SDL_WINDOW_ALWAYS_ON_TOP | SDL_WINDOW_SKIP_TASKBAR;
        SDL_Window *sdl = SDL_CreateWindow(
            ToUtf8(window.title).c_str(), display_.x + window.LeftEdge * scale_,
            display_.y + window.TopEdge * scale_, window.Width * scale_, window.Height * scale_, flags);
        if (sdl == nullptr)
            return;
        SDL_Surface *canvas = SDL_CreateRGBSurfaceWithFormat(
            0, window.Width * scale_, window.Height * scale_, 32, SDL_PIXELFORMAT_ARGB8888);
        ShownWindow *shown = new ShownWindow{sdl, canvas, scale_, &window};
        window.shown = shown;
        SDL_SetWindowHitTest(sdl, HitTestTitleBar, shown);
        for (HostWindow *other : GetOpenWindows())
            if (window.request != nullptr && other != &window && other->shown != nullptr)
                SDL_SetWindowModalFor(sdl, static_cast<ShownWindow *>(other->shown)->sdl);
        SDL_RaiseWindow(sdl);
        Present(window);
    }

    void HideWindow(HostWindow &window) override
    {
        Present(window);
        Destroy(window);
    }

    void Refresh(HostWindow &window, bool now) override
    {
        if (now)
            Present(window);
    }

    void CheckInput() override
    {
        /* The program looks at its messages after every piece, thousands of
           times a second; the display is asked for input once a millisecond
           at most, which no person can tell from every time. */
        unsigned long long now = GetMilliseconds();
        if (now != lastInput_) {
            lastInput_ = now;
            TakeEvents();
        }
        if (now - lastPresent_ >= framePeriod)
            PresentChanged();
    }

    void Drawn() override
    {
        /* The time is taken first: what is drawn while input is handled
           here waits for the next round. */
        unsigned long long now = GetMilliseconds();
        if (now - lastRound_ < framePeriod)
            return;
        lastRound_ = now;
        CheckInput();
    }

    void Pause(LONG ticks) override
    {
        for (HostWindow *window : GetOpenWindows())
            Present(*window);
        unsigned long long end = GetMilliseconds() + GetPauseMilliseconds(ticks);
        TakeEvents();
        for (unsigned long long now = GetMilliseconds(); now < end; now = GetMilliseconds()) {
            SDL_Delay(Uint32(std::min<unsigned long long>(end - now, waitStep)));
            TakeEvents();
            PresentChanged();
        }
    }

    UWORD Ask(HostWindow &request) override
    {
        for (HostWindow *window : GetOpenWindows())
            if (window != &request)
                Present(*window);
        ShowWindow(request);
        if (request.shown == nullptr)
            return 0;
        asking_ = &request;
        answer_ = -1;
        while (answer_ < 0) {
            SDL_Delay(waitStep);
            TakeEvents();
            PresentChanged();
        }
        asking_ = nullptr;
        HideWindow(request);
        return UWORD(answer_);
    }

private:
    void TakeEvents()
    {
        SDL_Event event;
        while (SDL_PollEvent(&event))
            Handle(event);
    }

    HostWindow *FindWindow(Uint32 id) const
    {
        for (HostWindow *window : GetOpenWindows())
            if (window->shown != nullptr &&
                SDL_GetWindowID(static_cast<ShownWindow *>(window->shown)->sdl) == id)
                return window;
        return nullptr;
    }

    /* A button chosen, by mouse or key: the request's answer, or the
       program's gadget-up message. */
    void Choose(HostWindow &window, HostGadget &button)
    {
        if (&window == asking_)
            answer_ = button.GadgetID;
        else if (asking_ == nullptr)
            ReleaseGadget(window, button);
    }

    void Handle(const SDL_Event &event)
    {
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
                pressed_ = gadget;
                pressedWindow_ = window;
                gadget->pressed = true;
                DrawButton(*window, *gadget);
                Present(*window);
            } else if (pressed_ != nullptr && window == pressedWindow_) {
                HostGadget *released = pressed_;
                released->pressed = false;
                pressed_ = nullptr;
                DrawButton(*window, *released);
                Present(*window);
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
        case SDL_WINDOWEVENT: {
            HostWindow *window = FindWindow(event.window.windowID);
            if (window == nullptr)
                break;
            if (event.window.event == SDL_WINDOWEVENT_EXPOSED) {
                Present(*window);
            } else if (event.window.event == SDL_WINDOWEVENT_MOVED) {
                window->LeftEdge = WORD((event.window.data1 - display_.x) / scale_);
                window->TopEdge = WORD((event.window.data2 - display_.y) / scale_);
            } else if (event.window.event == SDL_WINDOWEVENT_CLOSE) {
                /* Closing the window asks what its first button asks; a
                   request closed is answered by its rightmost button. */
                std::vector<HostGadget *> buttons = ListButtons(*window);
                if (window == asking_)
                    answer_ = 0;
                else if (!buttons.empty())
                    Choose(*window, *buttons.front());
            }
            break;
        }
        default:
            break;
        }
    }

    void PresentChanged()
    {
        for (HostWindow *window : GetOpenWindows())
            if (window->dirty)
                Present(*window);
    }

    void Present(HostWindow &window)
    {
        ShownWindow *shown = static_cast<ShownWindow *>(window.shown);
        window.dirty = false;
        if (shown == nullptr || shown->canvas == nullptr)
            return;
        Uint32 colours[256] = {};
        for (int pen = 0; pen < 8; pen++) {
            const Colour &colour = window.screen->palette[pen];
            colours[pen] = 0xFF000000u | Uint32(colour.red) << 16 | Uint32(colour.green) << 8 | colour.blue;
        }
        SDL_Surface *canvas = shown->canvas;
        SDL_LockSurface(canvas);
        for (int y = 0; y < window.Height; y++) {
            for (int copy = 0; copy < scale_; copy++) {
                Uint32 *row = reinterpret_cast<Uint32 *>(static_cast<Uint8 *>(canvas->pixels) +
                                                         size_t(y * scale_ + copy) * canvas->pitch);
                const UBYTE *pens = window.pixels.data() + size_t(y) * window.Width;
                for (int x = 0; x < window.Width; x++)
                    std::fill_n(row + x * scale_, scale_, colours[pens[x]]);
            }
        }
        SDL_UnlockSurface(canvas);
        SDL_Surface *surface = SDL_GetWindowSurface(shown->sdl);
        if (surface != nullptr) {
            SDL_BlitSurface(canvas, nullptr, surface, nullptr);
            SDL_UpdateWindowSurface(shown->sdl);
        }
        lastPresent_ = GetMilliseconds();
    }

    void Destroy(HostWindow &window)
    {
        ShownWindow *shown = static_cast<ShownWindow *>(window.shown);
        if (shown == nullptr)
            return;
        if (pressedWindow_ == &window) {
            pressed_ = nullptr;
            pressedWindow_ = nullptr;
        }
        SDL_FreeSurface(shown->canvas);
        SDL_DestroyWindow(shown->sdl);
        delete shown;
        window.shown = nullptr;
    }

    SDL_Rect display_;
    int scale_ = 1;
    unsigned long long lastPresent_ = 0;
    unsigned long long lastRound_ = 0;
    unsigned long long lastInput_ = 0;
    HostWindow *asking_ = nullptr;
    int answer_ = -1;
    HostGadget *pressed_ = nullptr;
    HostWindow *pressedWindow_ = nullptr;
};

}  // namespace

Presentation *StartDesktopPresentation()
{
    bool wayland = std::getenv("WAYLAND_DISPLAY") != nullptr;
    if (std::getenv("DISPLAY") == nullptr && !wayland)
        return nullptr;
    /* A display reached without a desktop session (a remote X display, a
       virtual one) has no session bus; SDL would have D-Bus start one of its
       own, which outlives the run. A window needs none. */
    setenv("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent", 0);
    if (!wayland)
        SDL_SetHint(SDL_HINT_VIDEODRIVER, "x11");
    /* A progress window is no reason to keep the screen saver away. */
    SDL_SetHint(SDL_HINT_VIDEO_ALLOW_SCREENSAVER, "1");
    SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
    /* A click on Abort counts even when it is the click that activates the
       window, as it would on the system's own screens. */
    SDL_SetHint(SDL_HINT_MOUSE_FOCUS_CLICKTHROUGH, "1");
    /* The pixels go straight to the window; no 3D driver is woken for them. */
    SDL_SetHint(SDL_HINT_FRAMEBUFFER_ACCELERATION, "0");
    if (SDL_Init(SDL_INIT_VIDEO) != 0)
        return nullptr;
    SDL_Rect display;
    if (SDL_GetDisplayUsableBounds(0, &display) != 0 && SDL_GetDisplayBounds(0, &display) != 0) {
        SDL_Quit();
        return nullptr;
    }
    return new DesktopPresentation(display);
}
