#ifndef PLATFORM_TERMINAL_SIGNALS_H
#define PLATFORM_TERMINAL_SIGNALS_H

#include <signal.h>

/* The signals that concern a program drawing on its terminal, taken as
   messages by one thread instead of interrupting whichever thread they
   hit: Ctrl-C, a resize, Ctrl-Z and its continue, and the ends (hang-up,
   quit, terminate), so that the terminal is given back first. Output and
   terminal control from the background are let through rather than
   stopping the process. Signals that were ignored at the start stay
   ignored. */
class TerminalSignals
{
  public:
    /* Blocks the signals in the calling thread, which must be the only
       one yet; threads it starts inherit the block. */
    bool Start();
    /* Lets the signals through again, as they were before Start; an end
       that arrived meanwhile then takes effect. */
    void Stop();

    /* The descriptor that is readable when a signal waits. */
    int GetDescriptor() const { return descriptor_; }
    /* The next signal waiting, or 0. */
    int Next();

    /* Stops the process as Ctrl-Z does, until it is continued. */
    static void StopProcess();
    /* Ends the process by the signal, as it would have ended without us. */
    [[noreturn]] static void EndProcess(int signalNumber);

  private:
    sigset_t taken_;
    sigset_t savedMask_;
    int descriptor_ = -1;
};

#endif
