#ifndef PLATFORM_SDL_LIBRARY_H
#define PLATFORM_SDL_LIBRARY_H

#include <SDL.h>

/* SDL2, loaded when the desktop is to be used rather than linked: the
   program then starts where SDL2 is missing, and does not load it (with the
   dozens of libraries it brings) for a run without a display. The table
   holds the calls the desktop presentation makes, under SDL's own names. */

#define VELORIN_SDL_CALLS(CALL)                                                                   \
    CALL(SDL_Init)                                                                                \
    CALL(SDL_Quit)                                                                                \
    CALL(SDL_SetHint)                                                                             \
    CALL(SDL_GetError)                                                                            \
    CALL(SDL_GetDisplayBounds)                                                                    \
    CALL(SDL_GetDisplayUsableBounds)                                                              \
    CALL(SDL_CreateWindow)                                                                        \
    CALL(SDL_DestroyWindow)                                                                       \
    CALL(SDL_GetWindowID)                                                                         \
    CALL(SDL_SetWindowHitTest)                                                                    \
    CALL(SDL_SetWindowModalFor)                                                                   \
    CALL(SDL_RaiseWindow)                                                                         \
    CALL(SDL_GetWindowSurface)                                                                    \
    CALL(SDL_CreateRGBSurfaceWithFormat)                                                          \
    CALL(SDL_FreeSurface)                                                                         \
    CALL(SDL_UpperBlit)                                                                           \
    CALL(SDL_UpdateWindowSurface)                                                                 \
    CALL(SDL_PollEvent)

struct SdlLibrary {
#define VELORIN_SDL_MEMBER(name) decltype(&::name) name;
    VELORIN_SDL_CALLS(VELORIN_SDL_MEMBER)
#undef VELORIN_SDL_MEMBER
    /* Declared apart: its header brings in X11's, whose names clash with
       the system's own (Window, Screen). */
    SDL_bool (*SDL_GetWindowWMInfo)(SDL_Window *window, struct SDL_SysWMinfo *info);
};

/* The library with every call found, or null when it cannot be loaded. */
const SdlLibrary *LoadSdlLibrary();

#endif
