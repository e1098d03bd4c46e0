#include "XDisplay.h"

#include <cstdlib>
#include <cstring>
#include <memory>

#include "XSetup.h"

namespace
{

template <typename Reply> using Owned = std::unique_ptr<Reply, decltype(&std::free)>;

/* Scales an 8-bit channel into the bits of mask. */
uint32_t PlaceChannel(uint8_t value, uint32_t mask)
{
    if (mask == 0)
        return 0;
    int shift = __builtin_ctz(mask);
    int bits = __builtin_popcount(mask);
    uint32_t scaled = bits >= 8 ? uint32_t(value) << (bits - 8) : uint32_t(value) >> (8 - bits);
    return (scaled << shift) & mask;
}

} // namespace

bool ReadXDisplay(xcb_connection_t *connection, unsigned number, XDisplay &display,
                  std::string &why)
{
    display = XDisplay{};
    display.connection = connection;
    /* XCB holds the reply as the server sent it, its length as the server
       gave it. */
    const xcb_setup_t *setup = xcb_get_setup(connection);
    const auto *reply = reinterpret_cast<const uint8_t *>(setup);
    XSetup facts;
    if (!ReadXSetup(reply, X_SETUP_PREFIX_SIZE + size_t(setup->length) * 4, number, facts, why))
        return false;
    /* Aligned as XCB's own records are: every record before it is a
       multiple of four bytes long. */
    display.screen =
        reinterpret_cast<xcb_screen_t *>(const_cast<uint8_t *>(reply + facts.screenOffset));
    display.redMask = facts.visual.red_mask;
    display.greenMask = facts.visual.green_mask;
    display.blueMask = facts.visual.blue_mask;
    display.bitsPerPixel = facts.bitsPerPixel;
    display.scanlinePad = facts.scanlinePad;
    display.lsbFirst = facts.lsbFirst;
    display.maximumRequestBytes = facts.maximumRequestBytes;

    /* Every question is sent before the first answer is awaited: one
       round trip. */
    struct Name {
        const char *text;
        xcb_atom_t *atom;
        xcb_intern_atom_cookie_t cookie;
    } names[] = {
#define VELORIN_ATOM(name)                                                                         \
    {                                                                                              \
#name, &display.name, {}                                                                   \
    }
        VELORIN_ATOM(WM_PROTOCOLS),
        VELORIN_ATOM(WM_DELETE_WINDOW),
        VELORIN_ATOM(WM_CLIENT_MACHINE),
        VELORIN_ATOM(_NET_WM_PING),
        VELORIN_ATOM(_NET_WM_NAME),
        VELORIN_ATOM(UTF8_STRING),
        VELORIN_ATOM(_NET_WM_PID),
        VELORIN_ATOM(_MOTIF_WM_HINTS),
        VELORIN_ATOM(_NET_WM_STATE),
        VELORIN_ATOM(_NET_WM_STATE_ABOVE),
        VELORIN_ATOM(_NET_WM_STATE_SKIP_TASKBAR),
        VELORIN_ATOM(_NET_WM_WINDOW_TYPE),
        VELORIN_ATOM(_NET_WM_WINDOW_TYPE_NORMAL),
        VELORIN_ATOM(_NET_WM_WINDOW_TYPE_DIALOG),
        VELORIN_ATOM(_NET_WORKAREA),
        VELORIN_ATOM(_NET_WM_MOVERESIZE),
        VELORIN_ATOM(_NET_ACTIVE_WINDOW),
#undef VELORIN_ATOM
    };
    for (Name &name : names)
        name.cookie = xcb_intern_atom(connection, 0, uint16_t(std::strlen(name.text)), name.text);
    uint8_t firstKeycode = facts.minKeycode;
    auto keyboardCookie = xcb_get_keyboard_mapping(connection, firstKeycode,
                                                   uint8_t(facts.maxKeycode - firstKeycode + 1));
    bool answered = true;
    for (Name &name : names) {
        Owned<xcb_intern_atom_reply_t> reply(
            xcb_intern_atom_reply(connection, name.cookie, nullptr), &std::free);
        answered = answered && reply != nullptr;
        *name.atom = reply != nullptr ? reply->atom : xcb_atom_t(XCB_ATOM_NONE);
    }
    Owned<xcb_get_keyboard_mapping_reply_t> keyboard(
        xcb_get_keyboard_mapping_reply(connection, keyboardCookie, nullptr), &std::free);
    if (keyboard != nullptr) {
        display.firstKeycode = firstKeycode;
        display.keysymsPerKeycode = keyboard->keysyms_per_keycode;
        const xcb_keysym_t *keysyms = xcb_get_keyboard_mapping_keysyms(keyboard.get());
        display.keysyms.assign(keysyms,
                               keysyms + xcb_get_keyboard_mapping_keysyms_length(keyboard.get()));
    }

    xcb_screen_t &screen = *display.screen;
    display.areaWidth = screen.width_in_pixels;
    display.areaHeight = screen.height_in_pixels;
    Owned<xcb_get_property_reply_t> area(
        xcb_get_property_reply(connection,
                               xcb_get_property(connection, 0, screen.root, display._NET_WORKAREA,
                                                XCB_ATOM_CARDINAL, 0, 4),
                               nullptr),
        &std::free);
    /* The value's length is the server's word; the reply's own length says
       how much of it XCB holds. */
    if (area != nullptr && area->format == 32 && xcb_get_property_value_length(area.get()) == 16 &&
        area->length >= 4) {
        const uint32_t *values = static_cast<const uint32_t *>(xcb_get_property_value(area.get()));
        if (values[2] > 0 && values[3] > 0) {
            display.areaX = int16_t(values[0]);
            display.areaY = int16_t(values[1]);
            display.areaWidth = uint16_t(values[2]);
            display.areaHeight = uint16_t(values[3]);
        }
    }
    if (!answered || xcb_connection_has_error(connection) != 0) {
        why = "the display stopped answering";
        return false;
    }
    return true;
}

unsigned long ReadKeyCharacter(const XDisplay &display, xcb_keycode_t key)
{
    size_t index = size_t(key - display.firstKeycode) * display.keysymsPerKeycode;
    if (key < display.firstKeycode || display.keysymsPerKeycode == 0 ||
        index >= display.keysyms.size())
        return 0;
    xcb_keysym_t keysym = display.keysyms[index];
    /* Keysyms of Latin-1 are the characters' own codes. */
    if (keysym >= 'A' && keysym <= 'Z')
        return keysym - 'A' + 'a';
    return keysym < 0x100 ? keysym : 0;
}

uint32_t MakePixel(const XDisplay &display, uint8_t red, uint8_t green, uint8_t blue)
{
    return PlaceChannel(red, display.redMask) | PlaceChannel(green, display.greenMask) |
           PlaceChannel(blue, display.blueMask);
}
