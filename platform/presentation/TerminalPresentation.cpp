#include "terminal/TerminalPresentation.h"

#include <algorithm>
#include <cerrno>

#include <unistd.h>

#include "../system/Clock.h"
#include "../system/RunTally.h"
#include "../window/Font.h"
#include "terminal/BoxRendering.h"
#include "terminal/RunSummary.h"

/* What the model calls on the terminal presentation: windows shown and
   hidden, pauses, requests asked under the box, and the run's end.

   Lock order: as TerminalPresentation.h says. */

bool TerminalPresentation::GetDisplaySize(LONG &width, LONG &height)
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

void TerminalPresentation::ShowWindow(HostWindow &window)
{
    if (window.request == nullptr && !entered_)
        Enter(window);
    Publish(nullptr);
    RequestDraw();
}

void TerminalPresentation::HideWindow(HostWindow &window)
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

void TerminalPresentation::Refresh(HostWindow &, bool now)
{
    SeeEndRequest();
    Publish(nullptr);
    if (now)
        RequestDraw();
}

void TerminalPresentation::CheckInput()
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

void TerminalPresentation::Drawn()
{
    SeeEndRequest();
    generation_++;
}

void TerminalPresentation::Pause(LONG ticks)
{
    SeeEndRequest();
    RequestDraw();
    PauseTicks(ticks);
}

UWORD TerminalPresentation::Ask(HostWindow &request)
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

void TerminalPresentation::ReportRunEnd(int returnCode)
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

void TerminalPresentation::ReportErrorLine(const char *line)
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

Presentation *StartTerminalPresentation()
{
    if (!isatty(STDERR_FILENO))
        return nullptr;
    TerminalCapabilities terminal;
    if (!terminal.Read(STDERR_FILENO))
        return nullptr;
    return new TerminalPresentation(terminal);
}
