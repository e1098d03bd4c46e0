#include "RemoveOnSignal.h"

#include <csignal>
#include <cstdlib>
#include <cstring>

#include <fcntl.h>
#include <unistd.h>

namespace
{

/* Read by the handler, so set before it is installed and never freed while
   it may run. Two files at most: an archive and its signature. */
char *volatile removedPaths[REMOVED_FILES_MOST] = {};
volatile int removedDirectories[REMOVED_FILES_MOST] = {AT_FDCWD, AT_FDCWD};
const int endingSignals[] = {SIGINT, SIGTERM, SIGHUP};

void RemoveAndEnd(int signalNumber)
{
    for (int slot = 0; slot < REMOVED_FILES_MOST; slot++) {
        if (char *path = removedPaths[slot])
            unlinkat(removedDirectories[slot], path, 0);
    }
    signal(signalNumber, SIG_DFL);
    raise(signalNumber);
}

sigset_t EndingSignals()
{
    sigset_t set;
    sigemptyset(&set);
    for (int signalNumber : endingSignals)
        sigaddset(&set, signalNumber);
    return set;
}

} // namespace

int RemoveOnSignal(int directory, const std::string &name)
{
    int slot = 0;
    while (slot < REMOVED_FILES_MOST - 1 && removedPaths[slot] != nullptr)
        slot++;
    KeepOnSignal(slot);
    removedDirectories[slot] = directory;
    removedPaths[slot] = strdup(name.c_str());
    for (int signalNumber : endingSignals) {
        /* A signal that the caller ignores (nohup, a shell's background job)
           stays ignored: it would not have ended the program. */
        struct sigaction current;
        sigaction(signalNumber, nullptr, &current);
        if (current.sa_handler == SIG_IGN)
            continue;
        struct sigaction action = {};
        action.sa_handler = RemoveAndEnd;
        action.sa_mask = EndingSignals();
        sigaction(signalNumber, &action, nullptr);
    }
    return slot;
}

void KeepOnSignal(int slot)
{
    if (slot < 0 || slot >= REMOVED_FILES_MOST)
        return;
    /* The handler must never see a path being freed. */
    sigset_t set = EndingSignals(), previous;
    sigprocmask(SIG_BLOCK, &set, &previous);
    char *path = removedPaths[slot];
    removedPaths[slot] = nullptr;
    sigprocmask(SIG_SETMASK, &previous, nullptr);
    std::free(path);
}

EndingSignalsHeld::EndingSignalsHeld()
{
    sigset_t set = EndingSignals();
    sigprocmask(SIG_BLOCK, &set, &previous_);
}

EndingSignalsHeld::~EndingSignalsHeld()
{
    sigprocmask(SIG_SETMASK, &previous_, nullptr);
}
