#include "DesktopPresentation.h"
#include "DisplayConnection.h"

#include <algorithm>
#include <cstdlib>
#include <string>

#include <fcntl.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>
#include <xcb/xcbext.h>

/* The desktop presentation's thread: its start and end, the connection
   to the display, the loop that takes the input and shows the changes
   every round, and the probe that notices a display that stopped
   answering.

   Lock order: the model lock, then wakeLock_. */

bool DesktopPresentation::Start(std::string &why)
{
    thread_ = std::thread(&DesktopPresentation::Run, this);
    std::unique_lock<std::mutex> wake(wakeLock_);
    auto deadline = std::chrono::steady_clock::now() + openingTime;
    if (!wakeup_.wait_until(wake, deadline, [this] { return tried_; })) {
        /* A server that accepted the connection and never answers: the
           thread's wait ends when its socket is shut down. */
        tooLate_ = true;
        BreakConnection();
        wakeup_.wait(wake, [this] { return tried_; });
        why = "the display did not answer within " +
              std::to_string(std::chrono::seconds(openingTime).count()) + " seconds";
    } else {
        why = openingFault_;
    }
    return started_;
}

DesktopPresentation::~DesktopPresentation()
{
    std::unique_lock<std::mutex> wake(wakeLock_);
    stopping_ = true;
    wakeup_.notify_all();
    /* A display that stops answering (a stopped server, a dead network
       link) holds the thread in a wait for it: the connection is then
       broken under it, which ends the wait. */
    if (!wakeup_.wait_for(wake, closingTime, [this] { return finished_; })) {
        wake.unlock();
        Lose("The display stopped answering; Velorin ends without taking its window down");
        wake.lock();
        BreakConnection();
    }
    wake.unlock();
    thread_.join();
    if (breaker_ >= 0)
        close(breaker_);
}

bool DesktopPresentation::IsLost()
{
    std::lock_guard<std::mutex> wake(wakeLock_);
    return lost_;
}

void DesktopPresentation::Wake()
{
    {
        std::lock_guard<std::mutex> wake(wakeLock_);
        woken_ = true;
    }
    wakeup_.notify_all();
}

void DesktopPresentation::Lose(const char *why)
{
    {
        std::lock_guard<std::mutex> wake(wakeLock_);
        if (lost_)
            return;
        lost_ = true;
    }
    wakeup_.notify_all();
    ReportErrorLine(why);
}

void DesktopPresentation::BreakConnection()
{
    if (breaker_ >= 0)
        shutdown(breaker_, SHUT_RDWR);
}

void DesktopPresentation::Run()
{
    /* Signals stay with the program's own thread, as before there was
       this one; a write to a broken display connection then fails with
       EPIPE here instead of ending the process. */
    sigset_t all;
    sigfillset(&all);
    pthread_sigmask(SIG_BLOCK, &all, nullptr);
    std::string fault;
    bool ready = OpenDisplay(fault);
    {
        std::lock_guard<std::mutex> wake(wakeLock_);
        ready = ready && !tooLate_;
        started_ = ready;
        tried_ = true;
        openingFault_ = fault;
        if (!ready)
            lost_ = true;
    }
    wakeup_.notify_all();
    while (ready) {
        bool connected = !IsLost();
        if (connected)
            TakeEvents();
        if (!IsLost())
            ShowChanges();
        if (connected) {
            Probe();
            xcb_flush(display_.connection);
            if (xcb_connection_has_error(display_.connection) != 0)
                Lose("Lost the connection to the display; unpacking goes on without the "
                     "window");
        }
        std::unique_lock<std::mutex> wake(wakeLock_);
        if (stopping_)
            break;
        wakeup_.wait_for(wake, roundPeriod, [this] { return stopping_ || woken_; });
        woken_ = false;
    }
    if (ready)
        ForgetWindows();
    if (display_.connection != nullptr)
        xcb_disconnect(display_.connection);
    std::lock_guard<std::mutex> wake(wakeLock_);
    finished_ = true;
    wakeup_.notify_all();
}

bool DesktopPresentation::OpenDisplay(std::string &why)
{
    int socket =
        ConnectDisplaySocket(address_, std::chrono::steady_clock::now() + openingTime, why);
    if (socket < 0)
        return false;
    {
        std::lock_guard<std::mutex> wake(wakeLock_);
        if (tooLate_) {
            close(socket);
            return false;
        }
        breaker_ = fcntl(socket, F_DUPFD_CLOEXEC, 3);
    }
    xcb_connection_t *connection = OpenXConnection(socket, address_, why);
    if (connection == nullptr)
        return false;
    if (!ReadXDisplay(connection, address_.screen, display_, why)) {
        xcb_disconnect(connection);
        display_.connection = nullptr;
        return false;
    }
    scale_ =
        std::clamp(std::min(display_.areaWidth / 640, display_.areaHeight / 480), 1, largestScale);
    std::lock_guard<std::mutex> wake(wakeLock_);
    heard_ = std::chrono::steady_clock::now();
    return true;
}

void DesktopPresentation::Probe()
{
    auto now = std::chrono::steady_clock::now();
    if (probing_) {
        void *reply = nullptr;
        xcb_generic_error_t *error = nullptr;
        if (xcb_poll_for_reply(display_.connection, probe_.sequence, &reply, &error) == 0)
            return;
        std::free(reply);
        std::free(error);
        probing_ = false;
        std::lock_guard<std::mutex> wake(wakeLock_);
        heard_ = now;
    }
    if (now - probeSent_ >= probePeriod) {
        probe_ = xcb_get_input_focus(display_.connection);
        probeSent_ = now;
        probing_ = true;
    }
}

void DesktopPresentation::TakeEvents()
{
    while (xcb_generic_event_t *event = xcb_poll_for_event(display_.connection)) {
        Handle(*event);
        std::free(event);
    }
}
