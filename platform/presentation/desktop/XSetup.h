#ifndef PLATFORM_X_SETUP_H
#define PLATFORM_X_SETUP_H

#include <cstddef>
#include <cstdint>
#include <string>

#include <xcb/xproto.h>

/* What the windows need of the setup reply that an X server sends when a
   connection opens: one screen and how its pixels are laid out. The reply
   comes from whatever answers at the display's address, so every count in
   it is checked against the reply's own length before anything it counts
   is read. */
struct XSetup {
    /* Where the screen's fixed part lies in the reply; a copy of it. */
    size_t screenOffset;
    xcb_screen_t screen;
    /* The screen's root visual, the depth it belongs to and that depth's
       pixmap format. */
    xcb_visualtype_t visual;
    uint8_t depth;
    uint8_t bitsPerPixel;
    uint8_t scanlinePad;
    bool lsbFirst;
    uint32_t maximumRequestBytes;
    uint8_t minKeycode, maxKeycode;
};

/* The reply's prefix: its status, the protocol's version and the length of
   the rest in units of four bytes. */
constexpr size_t X_SETUP_PREFIX_SIZE = 8;

/* Reads the size bytes of reply (its 8-byte prefix included) for screen
   number screen; false with the reason in why when the reply is
   inconsistent or the screen cannot show the windows. The reply is in this
   machine's byte order, as XCB asks for it. */
bool ReadXSetup(const uint8_t *reply, size_t size, unsigned screen, XSetup &setup,
                std::string &why);

#endif
