#ifndef PLATFORM_X_WINDOW_H
#define PLATFORM_X_WINDOW_H

#include <cstdint>
#include <string>
#include <vector>

#include "XDisplay.h"

/* One top-level X window that shows a model window's pixels: it draws its
   own frame, so it asks the window manager for none. */
struct XWindowLook {
    int16_t left, top;
    uint16_t width, height; /* in pixels of the display */
    std::string title;      /* UTF-8 */
    bool modal;
    xcb_window_t owner; /* the window a modal one stands over, or 0 */
};

/* Creates, describes for the window manager and maps the window; its id. */
xcb_window_t CreateXWindow(const XDisplay &display, const XWindowLook &look);

/* Shows pens, width × height pixels of the model, each as a square of
   scale × scale display pixels, with colours[pen] as the display's pixel. */
void PutXWindowPixels(const XDisplay &display, xcb_window_t window, xcb_gcontext_t context,
                      const std::vector<uint8_t> &pens, int width, int height, int scale,
                      const uint32_t colours[256], std::vector<uint8_t> &image);

/* Answers a window manager's _NET_WM_PING, sent back to the root window. */
void AnswerPing(const XDisplay &display, const xcb_client_message_event_t &ping);

/* Hands a drag that started at the root position (x, y) with button 1 to
   the window manager, which moves the window. */
void StartWindowMove(const XDisplay &display, xcb_window_t window, int16_t x, int16_t y);

#endif
