#include "XSetup.h"

#include <cstring>

namespace
{

template <typename Record> Record ReadRecord(const uint8_t *reply, size_t at)
{
    Record record;
    std::memcpy(&record, reply + at, sizeof record);
    return record;
}

/* Whether count records of recordSize bytes lie between at and size;
   at never exceeds size, so nothing here can wrap. */
bool Fits(size_t at, size_t size, size_t count, size_t recordSize)
{
    return count <= (size - at) / recordSize;
}

bool Inconsistent(const char *what, size_t size, std::string &why)
{
    why = "the X server's setup is inconsistent: " + std::string(what) + " past its " +
          std::to_string(size) + " bytes";
    return false;
}

} // namespace

bool ReadXSetup(const uint8_t *reply, size_t size, unsigned number, XSetup &setup, std::string &why)
{
    setup = XSetup{};
    if (size < sizeof(xcb_setup_t))
        return Inconsistent("its fixed part runs", size, why);
    auto fixed = ReadRecord<xcb_setup_t>(reply, 0);
    if (X_SETUP_PREFIX_SIZE + size_t(fixed.length) * 4 != size) {
        why = "the X server's setup is inconsistent: it gives its length as " +
              std::to_string(X_SETUP_PREFIX_SIZE + size_t(fixed.length) * 4) + " bytes in " +
              std::to_string(size);
        return false;
    }
    setup.lsbFirst = fixed.image_byte_order == XCB_IMAGE_ORDER_LSB_FIRST;
    setup.maximumRequestBytes = uint32_t(fixed.maximum_request_length) * 4;
    setup.minKeycode = fixed.min_keycode;
    setup.maxKeycode = fixed.max_keycode;

    /* The vendor's name, padded to four bytes, then the pixmap formats. */
    size_t at = sizeof(xcb_setup_t);
    if (!Fits(at, size, (size_t(fixed.vendor_len) + 3) / 4, 4))
        return Inconsistent("the vendor's name runs", size, why);
    at += (size_t(fixed.vendor_len) + 3) / 4 * 4;
    size_t formats = at;
    if (!Fits(at, size, fixed.pixmap_formats_len, sizeof(xcb_format_t)))
        return Inconsistent("the pixmap formats run", size, why);
    at += size_t(fixed.pixmap_formats_len) * sizeof(xcb_format_t);

    /* Every screen is walked, so that a reply is judged whole whichever
       screen is asked for. */
    bool found = false;
    for (unsigned index = 0; index < fixed.roots_len; index++) {
        if (!Fits(at, size, 1, sizeof(xcb_screen_t)))
            return Inconsistent("a screen runs", size, why);
        auto screen = ReadRecord<xcb_screen_t>(reply, at);
        if (index == number) {
            setup.screenOffset = at;
            setup.screen = screen;
        }
        at += sizeof(xcb_screen_t);
        for (unsigned d = 0; d < screen.allowed_depths_len; d++) {
            if (!Fits(at, size, 1, sizeof(xcb_depth_t)))
                return Inconsistent("a screen's depths run", size, why);
            auto depth = ReadRecord<xcb_depth_t>(reply, at);
            at += sizeof(xcb_depth_t);
            if (!Fits(at, size, depth.visuals_len, sizeof(xcb_visualtype_t)))
                return Inconsistent("a depth's visuals run", size, why);
            for (unsigned v = 0; v < depth.visuals_len && index == number && !found; v++) {
                auto visual =
                    ReadRecord<xcb_visualtype_t>(reply, at + v * sizeof(xcb_visualtype_t));
                if (visual.visual_id == screen.root_visual) {
                    found = true;
                    setup.visual = visual;
                    setup.depth = depth.depth;
                }
            }
            at += size_t(depth.visuals_len) * sizeof(xcb_visualtype_t);
        }
    }
    if (number >= fixed.roots_len) {
        why = "the display has no screen " + std::to_string(number);
        return false;
    }
    if (!found || setup.visual._class != XCB_VISUAL_CLASS_TRUE_COLOR) {
        why = "the display's screen does not show true colour";
        return false;
    }
    for (size_t index = 0; index < fixed.pixmap_formats_len; index++) {
        auto format = ReadRecord<xcb_format_t>(reply, formats + index * sizeof(xcb_format_t));
        if (format.depth == setup.depth) {
            setup.bitsPerPixel = format.bits_per_pixel;
            setup.scanlinePad = format.scanline_pad;
        }
    }
    if (setup.bitsPerPixel != 16 && setup.bitsPerPixel != 24 && setup.bitsPerPixel != 32) {
        why = "the display's pixels are of a size Velorin does not draw";
        return false;
    }
    return true;
}
