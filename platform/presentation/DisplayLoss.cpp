#include "DisplayLoss.h"
#include "SdlLibrary.h"

#include <atomic>

#include <dlfcn.h>
#include <unistd.h>

#include <SDL_syswm.h>
#include <X11/Xlib.h>

namespace {

using ErrorHandler = int (*)(Display *, XErrorEvent *);
using IOErrorHandler = int (*)(Display *);
using IOErrorExitHandler = void (*)(Display *, void *);
using SetErrorHandlerCall = ErrorHandler (*)(ErrorHandler);
using SetIOErrorHandlerCall = IOErrorHandler (*)(IOErrorHandler);
using SetIOErrorExitHandlerCall = void (*)(Display *, IOErrorExitHandler, void *);

SetErrorHandlerCall setErrorHandler;
SetIOErrorHandlerCall setIOErrorHandler;
SetIOErrorExitHandlerCall setIOErrorExitHandler;

DisplayLossListener lossListener;
void *lossContext;
std::atomic<bool> connectionLost;
std::atomic<bool> threadParked;
std::atomic<Display *> watchedDisplay;
std::atomic<unsigned long> failedResource;

/* A failed request (a window destroyed by another client, say) is noted,
   not fatal. */
int NoteRequestError(Display *, XErrorEvent *event)
{
    failedResource = event->resourceid;
    return 0;
}

/* The connection broke. Where libX11 lets a program come back from that,
   the exit handler below returns and so does Xlib; elsewhere returning would
   make Xlib end the process, so the thread stays here for good. */
int NoteConnectionLoss(Display *display)
{
    bool first = !connectionLost.exchange(true);
    if (first && lossListener != nullptr)
        lossListener(lossContext);
    if (display != nullptr && display == watchedDisplay.load())
        return 0;
    threadParked = true;
    for (;;)
        pause();
}

void ContinueAfterConnectionLoss(Display *, void *) {}

}  // namespace

bool InstallDisplayLossHooks(DisplayLossListener listener, void *context)
{
    if (setErrorHandler == nullptr) {
        void *x11 = dlopen("libX11.so.6", RTLD_NOW | RTLD_LOCAL);
        if (x11 == nullptr)
            return false;
        setErrorHandler = reinterpret_cast<SetErrorHandlerCall>(dlsym(x11, "XSetErrorHandler"));
        setIOErrorHandler =
            reinterpret_cast<SetIOErrorHandlerCall>(dlsym(x11, "XSetIOErrorHandler"));
        /* libX11 1.7 and later. */
        setIOErrorExitHandler =
            reinterpret_cast<SetIOErrorExitHandlerCall>(dlsym(x11, "XSetIOErrorExitHandler"));
        if (setErrorHandler == nullptr || setIOErrorHandler == nullptr)
            return false;
    }
    lossListener = listener;
    lossContext = context;
    setErrorHandler(NoteRequestError);
    setIOErrorHandler(NoteConnectionLoss);
    return true;
}

unsigned long WatchWindow(const SdlLibrary &sdl, SDL_Window *window)
{
    SDL_SysWMinfo info;
    SDL_VERSION(&info.version);
    if (!sdl.SDL_GetWindowWMInfo(window, &info) || info.subsystem != SDL_SYSWM_X11)
        return 0;
    Display *display = info.info.x11.display;
    if (setIOErrorExitHandler != nullptr && watchedDisplay.load() != display) {
        setIOErrorExitHandler(display, ContinueAfterConnectionLoss, nullptr);
        watchedDisplay = display;
    }
    return info.info.x11.window;
}

bool IsDisplayConnectionLost()
{
    return connectionLost;
}

bool IsDisplayThreadParked()
{
    return threadParked;
}

unsigned long TakeFailedResource()
{
    return failedResource.exchange(0);
}
