#include "Presentation.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <mutex>
#include <thread>

#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <proto/newlib.h>

#include "../system/RunTally.h"
#include "../window/Font.h"

#include "terminal/BoxRendering.h"
#include "terminal/DisplayText.h"
#include "terminal/KeyInput.h"
#include "terminal/RunSummary.h"
#include "terminal/TerminalCapabilities.h"
#include "terminal/TerminalScreen.h"
#include "terminal/TerminalSignals.h"

/* The windows drawn as text on the terminal of standard error, kept there
   by a thread of the presentation while the program works: it redraws what
   changed within 50 ms, also while the program waits in a long read or
   write, follows the terminal's size, gives the terminal back on Ctrl-Z and
   takes it again on continue, draws only while the program is in the
   foreground, and takes the person's keys at all times. Buttons are pressed
   with the first letter of their label, the first one also with Ctrl-C;
   a request is asked under the windows. Keys typed before a request that
   the window has no use for wait for it, so that "ay" typed quickly
   aborts. A second Ctrl-C while a press waits for its request ends the run
   as a confirmed abort at once, or, after an error line, as the failure. */

namespace
{

/* How often the thread looks for changes to show, and the longest a
   drawing waits to be seen. */
const int drawPeriod = 40;

/* After a second Ctrl-C, how long the program has to come to its request
   (which then answers yes), and how long to come into the platform at all,
   before the run is ended from the presentation's thread. */
const unsigned long long requestGrace = 50;
const unsigned long long endGrace = 150;

/* The return codes of a run whose abort was confirmed, and of one that
   failed: an abort confirmed after an error line ends the run as the
   failure it already is. */
const int abortedRun = 2;
const int failedRun = 0;

class TerminalPresentation : public Presentation
{
  public:
    explicit TerminalPresentation(const TerminalCapabilities &terminal) : terminal_(terminal) {}

    ~TerminalPresentation() override { Leave(); }

    /* The default screen is sized so that the window, a third of its width,
       takes as many pixel columns as the box has cells, one to one, for the
       terminal's width at the start; the box follows later resizes. */
    bool GetDisplaySize(LONG &width, LONG &height) override
    {
        int columns, rows;
        screen_.GetSize(columns, rows);
        LONG room = std::min<LONG>(columns - (terminal_.lastColumnUsable ? 0 : 1), 80);
        if (room < 40)
            return false;
        width = 3 * FONT_WIDTH * (room - 2);
        height = 256;
        return true;
    }

    void ShowWindow(HostWindow &window) override
    {
        if (window.request == nullptr && !entered_)
            Enter(window);
        Publish(nullptr);
        RequestDraw();
    }

    void HideWindow(HostWindow &window) override
    {
        if (window.request != nullptr || !entered_)
            return;
        bool othersOpen = false;
        for (HostWindow *open : GetOpenWindows())
            othersOpen |= open != &window && open->request == nullptr;
        if (othersOpen) {
            Publish(&window);
            /* A drawing under way may still read the closing window. */
            std::lock_guard<std::mutex> output(outputMutex_);
            std::lock_guard<std::mutex> state(mutex_);
            forceDraw_ = true;
        } else {
            Leave();
        }
    }

    void Refresh(HostWindow &, bool now) override
    {
        SeeEndRequest();
        Publish(nullptr);
        if (now)
            RequestDraw();
    }

    /* The thread takes the keys as they come and shows a press at once;
       the program hands the presses to the window when it looks for
       messages, and takes the keys still waiting, at most once a
       millisecond, so that a key typed before a progress update is seen at
       that update. */
    void CheckInput() override
    {
        SeeEndRequest();
        unsigned long long now = GetMilliseconds();
        if (now != lastKeys_) {
            lastKeys_ = now;
            ReadKeys();
        }
        if (pressesWaiting_.load())
            PressButtons();
    }

    /* Only noted here: the thread reads the window when it draws. */
    void Drawn() override
    {
        SeeEndRequest();
        generation_++;
    }

    void Pause(LONG ticks) override
    {
        SeeEndRequest();
        RequestDraw();
        unsigned long long milliseconds = GetPauseMilliseconds(ticks);
        timespec wait = {time_t(milliseconds / 1000), long(milliseconds % 1000) * 1000000L};
        while (nanosleep(&wait, &wait) != 0 && errno == EINTR) {
        }
    }

    UWORD Ask(HostWindow &request) override
    {
        std::vector<HostGadget *> buttons = ListButtons(request);
        if (buttons.empty())
            return 0;
        std::string keys;
        for (HostGadget *button : buttons)
            keys += std::string(keys.empty() ? "" : "/") + GetButtonKey(*button);

        std::unique_lock<std::mutex> state(mutex_);
        if (endRequested_) {
            endTaken_ = true;
            changed_.notify_all();
            return buttons.front()->GadgetID;
        }
        pressed_ = nullptr;
        HostGadget *typed = nullptr;
        while (typed == nullptr && !typeAhead_.empty()) {
            for (HostGadget *button : buttons)
                if (typeAhead_[0] == GetButtonKey(*button))
                    typed = button;
            typeAhead_.erase(0, 1);
        }
        if (typed != nullptr || keys_ < 0) {
            interruptWaiting_ = false;
            return typed != nullptr ? typed->GadgetID : 0;
        }
        requestButtons_ = buttons;
        answer_ = nullptr;
        prompt_ = request.request->title + ": " + request.request->body + " [" + keys + "] ";
        state.unlock();
        /* Drawn here too, in case the program holds the model while it waits. */
        Draw(true);
        state.lock();
        changed_.wait(state, [&] { return answer_ != nullptr || endRequested_; });
        UWORD answer = answer_ != nullptr ? answer_->GadgetID : buttons.front()->GadgetID;
        endTaken_ = endRequested_;
        requestButtons_.clear();
        prompt_.clear();
        interruptWaiting_ = false;
        forceDraw_ = true;
        state.unlock();
        Wake();
        return answer;
    }

    /* Once the box has been taken down, one line takes its place: what the
       run unpacked, or that it was aborted. Written at once, without a
       lock, as the process may be ending from the presentation's thread. */
    void ReportRunEnd(int returnCode) override
    {
        if (!summaryDue_.exchange(false))
            return;
        const RunTally &tally = GetRunTally();
        std::string line = DescribeRun(returnCode, tally.files, tally.directories, tally.bytes,
                                       GetMilliseconds() - startedAt_);
        if (line.empty())
            return;
        line += '\n';
        for (size_t done = 0; done < line.size();) {
            ssize_t written = write(STDERR_FILENO, line.data() + done, line.size() - done);
            if (written < 0 && errno == EINTR)
                continue;
            if (written <= 0)
                return;
            done += size_t(written);
        }
    }

    /* An error line means the run has failed. */
    bool IsOnTerminal() override { return true; }

    void ReportErrorLine(const char *line) override
    {
        failed_ = true;
        {
            std::lock_guard<std::mutex> state(mutex_);
            if (entered_) {
                heldLines_.push_back(line);
                return;
            }
        }
        Presentation::ReportErrorLine(line);
    }

  private:
    void Enter(HostWindow &window)
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

    /* Takes the box down and gives the terminal back, with the error lines
       kept meanwhile in the box's place; the run's summary follows them
       when the run ends. */
    void Leave()
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

    /* The presentation's thread. */
    void Run()
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
            for (int signalNumber = signals_.Next(); signalNumber != 0;
                 signalNumber = signals_.Next())
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

    void TakeSignal(int signalNumber)
    {
        switch (signalNumber) {
        case SIGINT:
            Interrupt();
            break;
        case SIGWINCH: {
            std::lock_guard<std::mutex> output(outputMutex_);
            screen_.NoteResize();
            break;
        }
        case SIGTSTP: {
            {
                std::lock_guard<std::mutex> output(outputMutex_);
                screen_.GiveBack();
            }
            TerminalSignals::StopProcess();
            break;
        }
        case SIGCONT: {
            /* Continued after a stop that was not ours to see: the shell
               may have changed the modes meanwhile. */
            std::lock_guard<std::mutex> output(outputMutex_);
            if (screen_.IsTaken())
                screen_.ApplyModes();
            break;
        }
        default:
            /* Ended from outside: the box stays, showing how far the run
               got, as no summary will follow it. */
            GiveBackTerminal(false);
            TerminalSignals::EndProcess(signalNumber);
        }
    }

    /* Ctrl-C answers a request with its first button, and otherwise
       presses the window's first button; a second one before that press
       is answered ends the run. */
    void Interrupt()
    {
        {
            std::lock_guard<std::mutex> state(mutex_);
            if (!requestButtons_.empty()) {
                answer_ = requestButtons_.front();
                changed_.notify_all();
                return;
            }
            if (!interruptWaiting_) {
                interruptWaiting_ = true;
                if (!buttons_.empty())
                    Press(buttons_.front());
                return;
            }
            endRequestedAt_ = GetMilliseconds();
            endRequested_ = true;
            changed_.notify_all();
        }
        EndFromThread();
    }

    /* Call with mutex_ held. */
    void Press(HostGadget *button)
    {
        pendingPresses_.push_back(button);
        pressesWaiting_ = true;
        pressed_ = button;
        typeAhead_.clear();
        forceDraw_ = true;
    }

    /* Gives the program the time to end by itself; otherwise ends the
       process here, with the terminal given back, as a confirmed abort. */
    void EndFromThread()
    {
        {
            std::unique_lock<std::mutex> state(mutex_);
            if (changed_.wait_for(state, std::chrono::milliseconds(endGrace),
                                  [&] { return endTaken_ || stopping_; }))
                return;
            endTaken_ = true;
        }
        EndRun();
    }

    /* The program, at its next call here, ends the run itself if it did
       not come to its request in time. */
    void SeeEndRequest()
    {
        if (!endRequested_.load() || GetMilliseconds() - endRequestedAt_ < requestGrace)
            return;
        {
            std::lock_guard<std::mutex> state(mutex_);
            if (endTaken_)
                return;
            endTaken_ = true;
        }
        Leave();
        INewlib->exit(failed_ ? failedRun : abortedRun);
    }

    /* Restores the terminal, with the box taken down for the run's summary
       or left under the cursor, and prints the error lines held while the
       box was up, before the process ends. */
    void GiveBackTerminal(bool takeDown)
    {
        std::vector<std::string> lines;
        {
            std::lock_guard<std::mutex> output(outputMutex_);
            if (takeDown) {
                summaryDue_ = summaryDue_ || screen_.IsTaken();
                screen_.TakeDown();
            }
            screen_.GiveBack();
            std::lock_guard<std::mutex> state(mutex_);
            lines.swap(heldLines_);
        }
        for (const std::string &line : lines)
            Presentation::ReportErrorLine(line.c_str());
    }

    [[noreturn]] void EndRun()
    {
        GiveBackTerminal(true);
        INewlib->_exit(failed_ ? failedRun : abortedRun);
    }

    void ReadKeys()
    {
        if (!IsTaken() || keys_ < 0)
            return;
        std::lock_guard<std::mutex> reading(keyMutex_);
        char bytes[64];
        ssize_t got;
        while ((got = read(keys_, bytes, sizeof bytes)) > 0) {
            std::string keys = keyInput_.Decode(bytes, size_t(got));
            std::lock_guard<std::mutex> state(mutex_);
            for (char key : keys)
                TakeKey(key);
        }
    }

    /* Call with mutex_ held. */
    void TakeKey(char key)
    {
        if (!requestButtons_.empty()) {
            for (HostGadget *button : requestButtons_)
                if (answer_ == nullptr && key == GetButtonKey(*button)) {
                    answer_ = button;
                    changed_.notify_all();
                }
            return;
        }
        for (HostGadget *button : buttons_)
            if (key == GetButtonKey(*button)) {
                Press(button);
                return;
            }
        if (typeAhead_.size() < 16)
            typeAhead_ += key;
    }

    /* Hands the presses to the window. Call from the program's thread, which
       alone changes the model. */
    void PressButtons()
    {
        std::lock_guard<std::recursive_mutex> model(GetModelLock());
        std::lock_guard<std::mutex> state(mutex_);
        for (HostGadget *button : pendingPresses_)
            ReleaseGadget(*window_, *button);
        pendingPresses_.clear();
        pressesWaiting_ = false;
    }

    /* Takes the terminal while the program is in the foreground; in the
       background it is left alone, and nothing is drawn. */
    void FollowForeground()
    {
        std::lock_guard<std::mutex> output(outputMutex_);
        if (screen_.IsTaken() || !screen_.IsForeground())
            return;
        screen_.Take();
        std::lock_guard<std::mutex> state(mutex_);
        forceDraw_ = true;
    }

    bool IsTaken()
    {
        std::lock_guard<std::mutex> output(outputMutex_);
        return screen_.IsTaken();
    }

    /* Hands the thread the windows to show, all but one about to close.
       Call from the program's thread. */
    void Publish(const HostWindow *closing)
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

    void RequestDraw()
    {
        if (!entered_)
            return;
        {
            std::lock_guard<std::mutex> state(mutex_);
            forceDraw_ = true;
        }
        Wake();
    }

    void Wake()
    {
        uint64_t one = 1;
        if (wake_ >= 0 && write(wake_, &one, sizeof one) < 0) {
            /* The counter is full: the thread is being woken already. */
        }
    }

    /* Draws when something changed, or always when forced; false when the
       model was busy. */
    bool Draw(bool force)
    {
        std::lock_guard<std::mutex> output(outputMutex_);
        if (!screen_.IsTaken())
            return true;
        return DrawLocked(force);
    }

    /* Call with outputMutex_ held. */
    bool DrawLocked(bool force)
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

    const TerminalCapabilities terminal_;
    TerminalSignals signals_;
    std::thread thread_;
    int keys_ = -1;
    bool keysLost_ = false;
    int wake_ = -1;
    bool entered_ = false;

    /* The person's input and the program's requests, shared by both threads. */
    std::mutex mutex_;
    std::condition_variable changed_;
    bool stopping_ = false;
    bool forceDraw_ = false;
    HostWindow *window_ = nullptr;
    std::vector<HostGadget *> buttons_;
    std::vector<HostGadget *> pendingPresses_;
    std::atomic<bool> pressesWaiting_{false};
    const HostGadget *pressed_ = nullptr;
    std::string typeAhead_;
    std::vector<HostGadget *> requestButtons_;
    HostGadget *answer_ = nullptr;
    std::string prompt_;
    bool interruptWaiting_ = false;
    std::atomic<bool> failed_{false};
    std::atomic<bool> endRequested_{false};
    std::atomic<unsigned long long> endRequestedAt_{0};
    bool endTaken_ = false;
    std::vector<std::string> heldLines_;
    std::atomic<bool> summaryDue_{false};
    unsigned long long startedAt_ = 0;
    std::vector<const HostWindow *> shown_;
    std::atomic<unsigned long> generation_{0};

    /* The terminal, drawn on by one thread at a time. */
    std::mutex outputMutex_;
    TerminalScreen screen_{terminal_};
    unsigned long drawnGeneration_ = 0;

    /* The keys, read by either thread. */
    std::mutex keyMutex_;
    KeyInput keyInput_;
    unsigned long long lastKeys_ = 0;
};

} // namespace

Presentation *StartTerminalPresentation()
{
    if (!isatty(STDERR_FILENO))
        return nullptr;
    TerminalCapabilities terminal;
    if (!terminal.Read(STDERR_FILENO))
        return nullptr;
    return new TerminalPresentation(terminal);
}
