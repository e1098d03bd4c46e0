#ifndef TOOLS_REMOVE_ON_SIGNAL_H
#define TOOLS_REMOVE_ON_SIGNAL_H

#include <string>

#include <signal.h>

/* While set, the file name in the directory open on descriptor directory
   (AT_FDCWD for the working directory) is removed when SIGINT, SIGTERM or
   SIGHUP ends the program; the signal then ends it as it would have. The
   descriptor must stay open until KeepOnSignal. Up to REMOVED_FILES_MOST
   files at once (an archive and its signature); the result names the
   file's place for KeepOnSignal. */
constexpr int REMOVED_FILES_MOST = 2;
int RemoveOnSignal(int directory, const std::string &name);
/* The file in that place is kept from now on (it was renamed or removed). */
void KeepOnSignal(int slot);

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
