#include "XClient.h"

#include <chrono>

#include <poll.h>

#include <X11/Xlib.h>
#include <X11/Xutil.h>

namespace
{

Display *AsDisplay(void *display)
{
    return static_cast<Display *>(display);
}

} // namespace

XClient::XClient(const std::string &displayName) : display_(XOpenDisplay(displayName.c_str())) {}

XClient::~XClient()
{
    if (display_ != nullptr)
        XCloseDisplay(AsDisplay(display_));
}

std::vector<uint32_t> XClient::Grab(long x, long y, long width, long height)
{
    Display *display = AsDisplay(display_);
    std::vector<uint32_t> pixels;
    XImage *image = XGetImage(display, DefaultRootWindow(display), int(x), int(y), unsigned(width),
                              unsigned(height), AllPlanes, ZPixmap);
    if (image == nullptr)
        return pixels;
    for (long row = 0; row < height; row++)
        for (long column = 0; column < width; column++)
            pixels.push_back(uint32_t(XGetPixel(image, int(column), int(row)) & 0xFFFFFF));
    XDestroyImage(image);
    return pixels;
}

void XClient::Close(unsigned long window)
{
    Display *display = AsDisplay(display_);
    XEvent event = {};
    event.xclient.type = ClientMessage;
    event.xclient.window = window;
    event.xclient.message_type = XInternAtom(display, "WM_PROTOCOLS", False);
    event.xclient.format = 32;
    event.xclient.data.l[0] = long(XInternAtom(display, "WM_DELETE_WINDOW", False));
    event.xclient.data.l[1] = CurrentTime;
    XSendEvent(display, window, False, NoEventMask, &event);
    XFlush(display);
}

bool XClient::Ping(unsigned long window, long timeoutMs)
{
    Display *display = AsDisplay(display_);
    Window root = DefaultRootWindow(display);
    Atom protocols = XInternAtom(display, "WM_PROTOCOLS", False);
    Atom ping = XInternAtom(display, "_NET_WM_PING", False);
    /* A window answers by sending the message back to the root window. */
    XSelectInput(display, root, SubstructureNotifyMask);
    const long stamp = 424242;
    XEvent event = {};
    event.xclient.type = ClientMessage;
    event.xclient.window = window;
    event.xclient.message_type = protocols;
    event.xclient.format = 32;
    event.xclient.data.l[0] = long(ping);
    event.xclient.data.l[1] = stamp;
    event.xclient.data.l[2] = long(window);
    XSendEvent(display, window, False, NoEventMask, &event);
    XFlush(display);
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (std::chrono::steady_clock::now() < deadline) {
        while (XPending(display) > 0) {
            XEvent answer;
            XNextEvent(display, &answer);
            const XClientMessageEvent &message = answer.xclient;
            if (answer.type == ClientMessage && message.window == root &&
                message.message_type == protocols && Atom(message.data.l[0]) == ping &&
                message.data.l[1] == stamp && (unsigned long)message.data.l[2] == window)
                return true;
        }
        struct pollfd wait = {ConnectionNumber(display), POLLIN, 0};
        poll(&wait, 1, 10);
    }
    return false;
}
