#include "../../system/Clock.h"
#include "TerminalPresentation.h"

#include <chrono>
#include <csignal>

#include <proto/newlib.h>

/* The signals the thread takes (Ctrl-C, Ctrl-Z, continue, a resize, an
   end from outside) and the ending of the run that a second Ctrl-C or an
   outside signal brings, from either thread.

   Lock order: as TerminalPresentation.h says. */

void TerminalPresentation::TakeSignal(int signalNumber)
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

void TerminalPresentation::Interrupt()
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

void TerminalPresentation::EndFromThread()
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

void TerminalPresentation::SeeEndRequest()
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

void TerminalPresentation::GiveBackTerminal(bool takeDown)
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

void TerminalPresentation::EndRun()
{
    GiveBackTerminal(true);
    INewlib->_exit(failed_ ? failedRun : abortedRun);
}
