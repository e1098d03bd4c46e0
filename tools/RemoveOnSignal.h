#ifndef TOOLS_REMOVE_ON_SIGNAL_H
#define TOOLS_REMOVE_ON_SIGNAL_H

#include <string>

#include <signal.h>

/* While set, the file name in the directory open on descriptor directory
   (AT_FDCWD for the working directory) is removed when SIGINT, SIGTERM or
   SIGHUP ends the program; the signal then ends it as it would have. The
   descriptor must stay open until KeepOnSignal. */
void RemoveOnSignal(int directory, const std::string &name);
/* The file is kept from now on (it was renamed or removed). */
void KeepOnSignal();

/* Holds SIGINT, SIGTERM and SIGHUP back while it lives, so that a file can
   be created and set for removal with no moment between in which a signal
   would leave it behind. */
class EndingSignalsHeld
{
  public:
    EndingSignalsHeld();
    EndingSignalsHeld(const EndingSignalsHeld &) = delete;
    EndingSignalsHeld &operator=(const EndingSignalsHeld &) = delete;
    ~EndingSignalsHeld();

  private:
    sigset_t previous_;
};

#endif
