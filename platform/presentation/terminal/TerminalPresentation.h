#ifndef PLATFORM_PRESENTATION_TERMINAL_PRESENTATION_H
#define PLATFORM_PRESENTATION_TERMINAL_PRESENTATION_H

#include "../Presentation.h"
#include "KeyInput.h"
#include "TerminalCapabilities.h"
#include "TerminalScreen.h"
#include "TerminalSignals.h"

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

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

/* The class is kept in four files: what the model calls
   (TerminalPresentation.cpp), the thread and its drawing
   (TerminalThread.cpp), the person's keys (TerminalKeys.cpp), and the
   signals with the ending of the run they may bring
   (TerminalInterrupts.cpp).

   Lock order: the model lock, held by the program's thread when it
   calls in, comes before outputMutex_ (the terminal) and mutex_ (the
   shared state); the thread, holding outputMutex_, only tries the model
   lock, so the two never wait on each other. keyMutex_ (the keys) is never
   held with outputMutex_. mutex_ comes last, after any of them, and
   nothing is taken while it is held. The atomics are read without a
   lock, as the process may be ending from the thread. */

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
    bool GetDisplaySize(LONG &width, LONG &height) override;

    void ShowWindow(HostWindow &window) override;

    void HideWindow(HostWindow &window) override;

    void Refresh(HostWindow &, bool now) override;

    /* The thread takes the keys as they come and shows a press at once;
       the program hands the presses to the window when it looks for
       messages, and takes the keys still waiting, at most once a
       millisecond, so that a key typed before a progress update is seen at
       that update. */
    void CheckInput() override;

    /* Only noted here: the thread reads the window when it draws. */
    void Drawn() override;

    void Pause(LONG ticks) override;

    UWORD Ask(HostWindow &request) override;

    /* Once the box has been taken down, one line takes its place: what the
       run unpacked, or that it was aborted. Written at once, without a
       lock, as the process may be ending from the presentation's thread. */
    void ReportRunEnd(int returnCode) override;

    /* An error line means the run has failed. */
    bool IsOnTerminal() override { return true; }

    void ReportErrorLine(const char *line) override;

  private:
    void Enter(HostWindow &window);

    /* Takes the box down and gives the terminal back, with the error lines
       kept meanwhile in the box's place; the run's summary follows them
       when the run ends. */
    void Leave();

    /* The presentation's thread. */
    void Run();

    void TakeSignal(int signalNumber);

    /* Ctrl-C answers a request with its first button, and otherwise
       presses the window's first button; a second one before that press
       is answered ends the run. */
    void Interrupt();

    /* Call with mutex_ held. */
    void Press(HostGadget *button);

    /* Gives the program the time to end by itself; otherwise ends the
       process here, with the terminal given back, as a confirmed abort. */
    void EndFromThread();

    /* The program, at its next call here, ends the run itself if it did
       not come to its request in time. */
    void SeeEndRequest();

    /* Restores the terminal, with the box taken down for the run's summary
       or left under the cursor, and prints the error lines held while the
       box was up, before the process ends. */
    void GiveBackTerminal(bool takeDown);

    [[noreturn]] void EndRun();

    void ReadKeys();

    /* Call with mutex_ held. */
    void TakeKey(char key);

    /* Hands the presses to the window. Call from the program's thread, which
       alone changes the model. */
    void PressButtons();

    /* Takes the terminal while the program is in the foreground; in the
       background it is left alone, and nothing is drawn. */
    void FollowForeground();

    bool IsTaken();

    /* Hands the thread the windows to show, all but one about to close.
       Call from the program's thread. */
    void Publish(const HostWindow *closing);

    void RequestDraw();

    void Wake();

    /* Draws when something changed, or always when forced; false when the
       model was busy. */
    bool Draw(bool force);

    /* Call with outputMutex_ held. */
    bool DrawLocked(bool force);

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

#endif
