#include "ScrollKeys.h"

#include <climits>

namespace
{

/* The keysyms of the keys that scroll, main keyboard and keypad. */
enum : xcb_keysym_t {
    keySpace = 0x20,
    keyHome = 0xff50,
    keyUp = 0xff52,
    keyDown = 0xff54,
    keyPageUp = 0xff55,
    keyPageDown = 0xff56,
    keyEnd = 0xff57,
    keypadHome = 0xff95,
    keypadUp = 0xff97,
    keypadDown = 0xff99,
    keypadPageUp = 0xff9a,
    keypadPageDown = 0xff9b,
    keypadEnd = 0xff9c,
};

/* Far enough to reach either end of any text. */
const int wholeText = INT_MAX / 2;

} // namespace

int GetScrollLines(const XDisplay &display, xcb_keycode_t key, int page)
{
    size_t index = size_t(key - display.firstKeycode) * display.keysymsPerKeycode;
    if (key < display.firstKeycode || display.keysymsPerKeycode == 0 ||
        index >= display.keysyms.size())
        return 0;
    switch (display.keysyms[index]) {
    case keyUp:
    case keypadUp:
        return -1;
    case keyDown:
    case keypadDown:
        return 1;
    case keyPageUp:
    case keypadPageUp:
        return -page;
    case keyPageDown:
    case keypadPageDown:
    case keySpace:
        return page;
    case keyHome:
    case keypadHome:
        return -wholeText;
    case keyEnd:
    case keypadEnd:
        return wholeText;
    default:
        return 0;
    }
}
