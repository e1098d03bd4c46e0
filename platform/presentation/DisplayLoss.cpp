#include "DisplayLoss.h"
#include "SdlLibrary.h"

#include <atomic>

#include <dlfcn.h>
#include <sys/socket.h>
#include <unistd.h>

#include <SDL_syswm.h>
#include <X11/Xlib.h>

namespace {

using ErrorHandler = int (*)(Display *, XErrorEvent *);
using IOErrorHandler = int (*)(Display *);
using SetErrorHandlerCall = ErrorHandler (*)(ErrorHandler);
using SetIOErrorHandlerCall = IOErrorHandler (*)(IOErrorHandler);

SetErrorHandlerCall setErrorHandler;
SetIOErrorHandlerCall setIOErrorHandler;

DisplayLossListener lossListener;
void *lossContext;
std::atomic<bool> connectionLost;
std::atomic<bool> threadParked;
std::atomic<Display *> shownDisplay;
std::atomic<unsigned long> failedResource;

/* A failed request (a window destroyed by another client, say) is noted,
   not fatal. */
int NoteRequestError(Display *, XErrorEvent *event)
{
    failedResource = event->resourceid;
    return 0;
}

/* The connection broke. Returning would make Xlib end the process; even
   where libX11 lets a program come back (an exit handler, from libX11 1.7),
   the call that met the loss may never return (SDL's window teardown waits
   for an event in a loop that a dead connection never ends). So the thread
   stays here for good; nothing needs it any more. */
int NoteConnectionLoss(Display *)
{
    bool first = !connectionLost.exchange(true);
    if (first && lossListener != nullptr)
        lossListener(lossContext);
    threadParked = true;
    for (;;)
        pause();
}

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
    shownDisplay = info.info.x11.display;
    return info.info.x11.window;
}

void BreakDisplayConnection()
{
    if (Display *display = shownDisplay.load())
        shutdown(ConnectionNumber(display), SHUT_RDWR);
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
