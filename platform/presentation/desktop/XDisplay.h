#ifndef PLATFORM_X_DISPLAY_H
#define PLATFORM_X_DISPLAY_H

#include <cstdint>
#include <string>
#include <vector>

#include <xcb/xcb.h>

/* What the desktop needs to know of an open X display, read once at the
   start: the screen, how its pixels are laid out, the atoms of the window
   managers' conventions and the keyboard's letters. */
struct XDisplay {
    xcb_connection_t *connection;
    xcb_screen_t *screen;
    /* The area left free by panels and docks, in pixels of the root. */
    int16_t areaX, areaY;
    uint16_t areaWidth, areaHeight;

    /* The root visual's pixel layout: true colour only. */
    uint32_t redMask, greenMask, blueMask;
    uint8_t bitsPerPixel;
    uint8_t scanlinePad;
    bool lsbFirst;
    uint32_t maximumRequestBytes;

    xcb_atom_t WM_PROTOCOLS, WM_DELETE_WINDOW, WM_CLIENT_MACHINE, _NET_WM_PING, _NET_WM_NAME,
        UTF8_STRING, _NET_WM_PID, _MOTIF_WM_HINTS, _NET_WM_STATE, _NET_WM_STATE_ABOVE,
        _NET_WM_STATE_SKIP_TASKBAR, _NET_WM_WINDOW_TYPE, _NET_WM_WINDOW_TYPE_NORMAL,
        _NET_WM_WINDOW_TYPE_DIALOG, _NET_WORKAREA, _NET_WM_MOVERESIZE, _NET_ACTIVE_WINDOW;

    uint8_t firstKeycode;
    uint8_t keysymsPerKeycode;
    std::vector<xcb_keysym_t> keysyms;
};

/* Reads screen number screen of the connection into display; false with
   the reason in why when it cannot show the windows. Waits for the
   server's answers. */
bool ReadXDisplay(xcb_connection_t *connection, unsigned screen, XDisplay &display,
                  std::string &why);

/* The character a key gives unshifted (letters in lower case), or 0. */
unsigned long ReadKeyCharacter(const XDisplay &display, xcb_keycode_t key);

/* A pixel of the colour in the root visual's layout. */
uint32_t MakePixel(const XDisplay &display, uint8_t red, uint8_t green, uint8_t blue);

#endif
