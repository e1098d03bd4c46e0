#include "XDisplay.h"

#include <cstdlib>
#include <cstring>
#include <memory>

namespace
{

template <typename Reply> using Owned = std::unique_ptr<Reply, decltype(&std::free)>;

xcb_screen_t *FindScreen(xcb_connection_t *connection, unsigned number)
{
    xcb_screen_iterator_t screens = xcb_setup_roots_iterator(xcb_get_setup(connection));
    for (; screens.rem > 0; xcb_screen_next(&screens), number--)
        if (number == 0)
            return screens.data;
    return nullptr;
}

const xcb_visualtype_t *FindVisual(const xcb_screen_t &screen, uint8_t &depth)
{
    for (auto depths = xcb_screen_allowed_depths_iterator(&screen); depths.rem > 0;
         xcb_depth_next(&depths))
        for (auto visuals = xcb_depth_visuals_iterator(depths.data); visuals.rem > 0;
             xcb_visualtype_next(&visuals))
            if (visuals.data->visual_id == screen.root_visual) {
                depth = depths.data->depth;
                return visuals.data;
            }
    return nullptr;
}

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
    const xcb_setup_t *setup = xcb_get_setup(connection);
    display.screen = FindScreen(connection, number);
    if (display.screen == nullptr) {
        why = "the display has no screen " + std::to_string(number);
        return false;
    }
    uint8_t depth = 0;
    const xcb_visualtype_t *visual = FindVisual(*display.screen, depth);
    if (visual == nullptr || visual->_class != XCB_VISUAL_CLASS_TRUE_COLOR) {
        why = "the display's screen does not show true colour";
        return false;
    }
    display.redMask = visual->red_mask;
    display.greenMask = visual->green_mask;
    display.blueMask = visual->blue_mask;
    for (auto formats = xcb_setup_pixmap_formats_iterator(setup); formats.rem > 0;
         xcb_format_next(&formats))
        if (formats.data->depth == depth) {
            display.bitsPerPixel = formats.data->bits_per_pixel;
            display.scanlinePad = formats.data->scanline_pad;
        }
    if (display.bitsPerPixel != 16 && display.bitsPerPixel != 24 && display.bitsPerPixel != 32) {
        why = "the display's pixels are of a size Velorin does not draw";
        return false;
    }
    display.lsbFirst = setup->image_byte_order == XCB_IMAGE_ORDER_LSB_FIRST;
    display.maximumRequestBytes = uint32_t(setup->maximum_request_length) * 4;

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
    uint8_t firstKeycode = setup->min_keycode;
    auto keyboardCookie = xcb_get_keyboard_mapping(connection, firstKeycode,
                                                   uint8_t(setup->max_keycode - firstKeycode + 1));
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
    if (area != nullptr && area->format == 32 && xcb_get_property_value_length(area.get()) == 16) {
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
