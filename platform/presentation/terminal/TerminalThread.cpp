#include "../../system/Clock.h"
#include "BoxRendering.h"
#include "DisplayText.h"
#include "TerminalPresentation.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

/* The terminal presentation's thread: taking the terminal and giving it
   back, the loop that waits for signals, keys and wakings, and the
   drawing of the box.

   Lock order: as TerminalPresentation.h says. */

void TerminalPresentation::Enter(HostWindow &window)
{
    InitDisplayText();
    if (!signals_.Start())
        return;
    startedAt_ = GetMilliseconds();
    keys_ = open("/dev/tty", O_RDWR | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    screen_.SetControl(keys_ >= 0 ? keys_ : STDERR_FILENO);
    wake_ = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    {
        std::lock_guard<std::mutex> state(mutex_);
        window_ = &window;
        buttons_ = ListButtons(window);
        entered_ = true;
        stopping_ = false;
    }
    /* Taken at once, so that even a run too short for the thread to
       look shows its last state. */
    FollowForeground();
    thread_ = std::thread(&TerminalPresentation::Run, this);
}

void TerminalPresentation::Leave()
{
    if (!entered_)
        return;
    {
        std::lock_guard<std::mutex> state(mutex_);
        stopping_ = true;
    }
    changed_.notify_all();
    Wake();
    if (thread_.joinable() && thread_.get_id() != std::this_thread::get_id())
        thread_.join();
    Publish(nullptr);
    std::vector<std::string> lines;
    {
        std::lock_guard<std::mutex> output(outputMutex_);
        summaryDue_ = screen_.IsTaken();
        screen_.TakeDown();
        screen_.GiveBack();
        std::lock_guard<std::mutex> state(mutex_);
        entered_ = false;
        lines.swap(heldLines_);
    }
    for (const std::string &line : lines)
        Presentation::ReportErrorLine(line.c_str());
    if (keys_ >= 0)
        close(keys_);
    if (wake_ >= 0)
        close(wake_);
    keys_ = wake_ = -1;
    signals_.Stop();
}

void TerminalPresentation::Run()
{
    for (;;) {
        struct pollfd watched[3] = {{signals_.GetDescriptor(), POLLIN, 0},
                                    {wake_, POLLIN, 0},
                                    {IsTaken() && !keysLost_ ? keys_ : -1, POLLIN, 0}};
        poll(watched, 3, drawPeriod);
        /* A terminal that hung up stays readable for ever. */
        if (watched[2].revents & (POLLHUP | POLLERR | POLLNVAL))
            keysLost_ = true;
        uint64_t count;
        while (read(wake_, &count, sizeof count) > 0) {
        }
        {
            std::lock_guard<std::mutex> state(mutex_);
            if (stopping_)
                return;
        }
        for (int signalNumber = signals_.Next(); signalNumber != 0; signalNumber = signals_.Next())
            TakeSignal(signalNumber);
        FollowForeground();
        ReadKeys();
        bool force;
        {
            std::lock_guard<std::mutex> state(mutex_);
            force = forceDraw_;
            forceDraw_ = false;
        }
        if (!Draw(force) && force) {
            std::lock_guard<std::mutex> state(mutex_);
            forceDraw_ = true;
        }
    }
}

void TerminalPresentation::FollowForeground()
{
    std::lock_guard<std::mutex> output(outputMutex_);
    if (screen_.IsTaken() || !screen_.IsForeground())
        return;
    screen_.Take();
    std::lock_guard<std::mutex> state(mutex_);
    forceDraw_ = true;
}

bool TerminalPresentation::IsTaken()
{
    std::lock_guard<std::mutex> output(outputMutex_);
    return screen_.IsTaken();
}

void TerminalPresentation::Publish(const HostWindow *closing)
{
    if (!entered_)
        return;
    std::vector<const HostWindow *> windows;
    for (const HostWindow *window : GetOpenWindows())
        if (window->request == nullptr && window != closing)
            windows.push_back(window);
    std::lock_guard<std::mutex> state(mutex_);
    shown_.swap(windows);
    generation_++;
}

void TerminalPresentation::RequestDraw()
{
    if (!entered_)
        return;
    {
        std::lock_guard<std::mutex> state(mutex_);
        forceDraw_ = true;
    }
    Wake();
}

void TerminalPresentation::Wake()
{
    uint64_t one = 1;
    if (wake_ >= 0 && write(wake_, &one, sizeof one) < 0) {
        /* The counter is full: the thread is being woken already. */
    }
}

bool TerminalPresentation::Draw(bool force)
{
    std::lock_guard<std::mutex> output(outputMutex_);
    if (!screen_.IsTaken())
        return true;
    return DrawLocked(force);
}

bool TerminalPresentation::DrawLocked(bool force)
{
    TerminalScene scene = {{}, 80, 24, "", nullptr};
    screen_.GetSize(scene.width, scene.rows);
    unsigned long generation;
    std::vector<const HostWindow *> windows;
    {
        std::lock_guard<std::mutex> state(mutex_);
        if (!force && !screen_.IsResized() && generation_ == drawnGeneration_)
            return true;
        generation = generation_;
        windows = shown_;
        scene.prompt = prompt_;
        scene.pressed = pressed_;
    }
    std::vector<std::string> lines;
    {
        std::unique_lock<std::recursive_mutex> model(GetModelLock(), std::try_to_lock);
        if (!model)
            return false;
        /* The windows as the program handed them over at its last text:
           a message line is never caught erased and not yet rewritten. */
        for (const HostWindow *window : windows) {
            FlushDrawing(*const_cast<HostWindow *>(window));
            scene.windows.push_back(
                {window, window->texts, window->laidOutText, window->laidOutFromEnd});
        }
        lines = RenderScene(terminal_, scene);
    }
    screen_.Show(lines, scene.width, scene.rows);
    drawnGeneration_ = generation;
    return true;
}
