#ifndef PLATFORM_DISPLAY_LOSS_H
#define PLATFORM_DISPLAY_LOSS_H

/* What becomes of the run when its X display goes away. Xlib's own handlers
   end the process from inside whatever call met the fault, which would end
   an unpacking halfway and, with exit(1), even read as a success. These
   hooks note the fault instead, so that the run goes on without its window.
   All X traffic happens on the desktop presentation's thread, which is the
   only one these hooks can ever stop. */

using DisplayLossListener = void (*)(void *context);

/* Installs the hooks into libX11 before SDL opens the display, and again
   after (SDL sets a handler of its own that ends in Xlib's). listener is
   called, on the presentation's thread, when the connection breaks; the
   thread then stays parked in the hook for the rest of the run. False when
   libX11 cannot be loaded. */
bool InstallDisplayLossHooks(DisplayLossListener listener, void *context);

struct SdlLibrary;
struct SDL_Window;

/* The X window behind an SDL window, or 0; its display is the one that
   BreakDisplayConnection breaks. */
unsigned long WatchWindow(const SdlLibrary &sdl, SDL_Window *window);

/* Breaks the connection to a display that stopped answering, from another
   thread: the presentation's thread, waiting for the display, then meets
   the connection's loss and parks as above. */
void BreakDisplayConnection();

/* Whether the connection broke; whether the presentation's thread is parked
   for good because of it. */
bool IsDisplayConnectionLost();
bool IsDisplayThreadParked();

/* The X resource that the last failed request named, then 0 again. */
unsigned long TakeFailedResource();

#endif
