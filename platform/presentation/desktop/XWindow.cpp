#include "XWindow.h"

#include <algorithm>
#include <cstring>

#include <unistd.h>

namespace
{

void SetProperty(const XDisplay &display, xcb_window_t window, xcb_atom_t property, xcb_atom_t type,
                 uint8_t format, size_t count, const void *data)
{
    xcb_change_property(display.connection, XCB_PROP_MODE_REPLACE, window, property, type, format,
                        uint32_t(count), data);
}

void SetAtoms(const XDisplay &display, xcb_window_t window, xcb_atom_t property,
              const std::vector<xcb_atom_t> &atoms)
{
    SetProperty(display, window, property, XCB_ATOM_ATOM, 32, atoms.size(), atoms.data());
}

void SendToRoot(const XDisplay &display, xcb_client_message_event_t message)
{
    message.response_type = XCB_CLIENT_MESSAGE;
    message.format = 32;
    xcb_send_event(display.connection, 0, display.screen->root,
                   XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY | XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT,
                   reinterpret_cast<const char *>(&message));
}

} // namespace

xcb_window_t CreateXWindow(const XDisplay &display, const XWindowLook &look)
{
    xcb_connection_t *connection = display.connection;
    xcb_window_t window = xcb_generate_id(connection);
    /* No background: the server never clears what an expose uncovers,
       which is drawn again from the model at once. */
    uint32_t values[] = {XCB_BACK_PIXMAP_NONE,
                         XCB_EVENT_MASK_EXPOSURE | XCB_EVENT_MASK_STRUCTURE_NOTIFY |
                             XCB_EVENT_MASK_BUTTON_PRESS | XCB_EVENT_MASK_BUTTON_RELEASE |
                             XCB_EVENT_MASK_KEY_PRESS};
    xcb_create_window(connection, XCB_COPY_FROM_PARENT, window, display.screen->root, look.left,
                      look.top, look.width, look.height, 0, XCB_WINDOW_CLASS_INPUT_OUTPUT,
                      display.screen->root_visual, XCB_CW_BACK_PIXMAP | XCB_CW_EVENT_MASK, values);

    SetProperty(display, window, XCB_ATOM_WM_NAME, display.UTF8_STRING, 8, look.title.size(),
                look.title.data());
    SetProperty(display, window, display._NET_WM_NAME, display.UTF8_STRING, 8, look.title.size(),
                look.title.data());
    static const char windowClass[] = "velorin\0Velorin";
    SetProperty(display, window, XCB_ATOM_WM_CLASS, XCB_ATOM_STRING, 8, sizeof windowClass,
                windowClass);
    SetAtoms(display, window, display.WM_PROTOCOLS,
             {display.WM_DELETE_WINDOW, display._NET_WM_PING});
    /* A window manager that pings names the process by its id and machine. */
    uint32_t pid = uint32_t(getpid());
    SetProperty(display, window, display._NET_WM_PID, XCB_ATOM_CARDINAL, 32, 1, &pid);
    char host[256] = {};
    gethostname(host, sizeof host - 1);
    SetProperty(display, window, display.WM_CLIENT_MACHINE, XCB_ATOM_STRING, 8, std::strlen(host),
                host);
    /* Placed where asked and of a fixed size: USPosition, PPosition,
       PMinSize and PMaxSize. */
    uint32_t sizeHints[18] = {1 | 4 | 16 | 32, uint32_t(look.left), uint32_t(look.top),
                              look.width,      look.height,         look.width,
                              look.height,     look.width,          look.height};
    SetProperty(display, window, XCB_ATOM_WM_NORMAL_HINTS, XCB_ATOM_WM_SIZE_HINTS, 32, 18,
                sizeHints);
    /* Takes keys (InputHint), shown at once (StateHint, NormalState). */
    uint32_t hints[9] = {1 | 2, 1, 1};
    SetProperty(display, window, XCB_ATOM_WM_HINTS, XCB_ATOM_WM_HINTS, 32, 9, hints);
    /* Decorations: none. */
    uint32_t motifHints[5] = {2, 0, 0, 0, 0};
    SetProperty(display, window, display._MOTIF_WM_HINTS, display._MOTIF_WM_HINTS, 32, 5,
                motifHints);
    if (look.modal) {
        SetAtoms(display, window, display._NET_WM_WINDOW_TYPE,
                 {display._NET_WM_WINDOW_TYPE_DIALOG});
        SetAtoms(display, window, display._NET_WM_STATE,
                 {display._NET_WM_STATE_ABOVE, display._NET_WM_STATE_SKIP_TASKBAR});
        if (look.owner != 0)
            SetProperty(display, window, XCB_ATOM_WM_TRANSIENT_FOR, XCB_ATOM_WINDOW, 32, 1,
                        &look.owner);
    } else {
        SetAtoms(display, window, display._NET_WM_WINDOW_TYPE,
                 {display._NET_WM_WINDOW_TYPE_NORMAL});
    }
    xcb_map_window(connection, window);
    uint32_t above = XCB_STACK_MODE_ABOVE;
    xcb_configure_window(connection, window, XCB_CONFIG_WINDOW_STACK_MODE, &above);
    /* Asks the window manager to activate it; source 1: an application. */
    xcb_client_message_event_t activate = {};
    activate.window = window;
    activate.type = display._NET_ACTIVE_WINDOW;
    activate.data.data32[0] = 1;
    SendToRoot(display, activate);
    return window;
}

void PutXWindowPixels(const XDisplay &display, xcb_window_t window, xcb_gcontext_t context,
                      const std::vector<uint8_t> &pens, int width, int height, int scale,
                      const uint32_t colours[256], std::vector<uint8_t> &image)
{
    if (pens.size() != size_t(width) * size_t(height) || scale < 1)
        return;
    size_t bytesPerPixel = display.bitsPerPixel / 8;
    size_t pad = std::max<size_t>(display.scanlinePad, 8);
    size_t shownWidth = size_t(width) * scale;
    size_t stride = (shownWidth * display.bitsPerPixel + pad - 1) / pad * pad / 8;
    size_t shownHeight = size_t(height) * scale;
    image.assign(stride * shownHeight, 0);
    for (size_t y = 0; y < shownHeight; y++) {
        uint8_t *row = image.data() + y * stride;
        const uint8_t *source = pens.data() + (y / scale) * width;
        for (size_t x = 0; x < shownWidth; x++) {
            uint32_t pixel = colours[source[x / scale]];
            uint8_t *at = row + x * bytesPerPixel;
            if (bytesPerPixel == 4 &&
                display.lsbFirst == (__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__)) {
                std::memcpy(at, &pixel, 4);
                continue;
            }
            for (size_t byte = 0; byte < bytesPerPixel; byte++) {
                size_t shift = 8 * (display.lsbFirst ? byte : bytesPerPixel - 1 - byte);
                at[byte] = uint8_t(pixel >> shift);
            }
        }
    }
    /* In bands of whole rows that each fit one request (its header is 24
       bytes). */
    size_t rowsPerBand = std::max<size_t>(1, (display.maximumRequestBytes - 24) / stride);
    for (size_t top = 0; top < shownHeight; top += rowsPerBand) {
        size_t rows = std::min(rowsPerBand, shownHeight - top);
        xcb_put_image(display.connection, XCB_IMAGE_FORMAT_Z_PIXMAP, window, context,
                      uint16_t(shownWidth), uint16_t(rows), 0, int16_t(top), 0,
                      display.screen->root_depth, uint32_t(rows * stride),
                      image.data() + top * stride);
    }
}

void AnswerPing(const XDisplay &display, const xcb_client_message_event_t &ping)
{
    xcb_client_message_event_t answer = ping;
    answer.window = display.screen->root;
    SendToRoot(display, answer);
}

void StartWindowMove(const XDisplay &display, xcb_window_t window, int16_t x, int16_t y)
{
    /* The pointer is the window manager's from here on. */
    xcb_ungrab_pointer(display.connection, XCB_CURRENT_TIME);
    xcb_client_message_event_t move = {};
    move.window = window;
    move.type = display._NET_WM_MOVERESIZE;
    move.data.data32[0] = uint32_t(x);
    move.data.data32[1] = uint32_t(y);
    move.data.data32[2] = 8; /* _NET_WM_MOVERESIZE_MOVE */
    move.data.data32[3] = 1; /* button 1 */
    move.data.data32[4] = 1; /* an application asks */
    SendToRoot(display, move);
}
