#ifndef TESTS_SUPPORT_X_CLIENT_H
#define TESTS_SUPPORT_X_CLIENT_H

#include <cstdint>
#include <string>
#include <vector>

/* A client of an X display for the tests: reads what the screen shows, and
   plays the window manager's part in a ping. Kept apart from the model's
   headers, whose names (Window, Screen) X11's share. */
class XClient
{
  public:
    explicit XClient(const std::string &displayName);
    XClient(const XClient &) = delete;
    XClient &operator=(const XClient &) = delete;
    ~XClient();

    bool IsOpen() const { return display_ != nullptr; }

    /* The screen's pixels in the rectangle as 0xRRGGBB, row after row. */
    std::vector<uint32_t> Grab(long x, long y, long width, long height);

    /* Sends window a _NET_WM_PING, as a window manager does, and waits for
       the answer on the root window: whether it came within timeoutMs. */
    bool Ping(unsigned long window, long timeoutMs);

    /* Asks window to close, as a window manager's close button does
       (WM_DELETE_WINDOW). */
    void Close(unsigned long window);

  private:
    void *display_;
};

#endif
