#include "RemoveOnSignal.h"

#include <csignal>
#include <cstdlib>
#include <cstring>

#include <fcntl.h>
#include <unistd.h>

namespace
{

/* Read by the handler, so set before it is installed and never freed while
   it may run. */
char *volatile removedPath = nullptr;
volatile int removedDirectory = AT_FDCWD;
const int endingSignals[] = {SIGINT, SIGTERM, SIGHUP};

void RemoveAndEnd(int signalNumber)
{
    if (char *path = removedPath)
        unlinkat(removedDirectory, path, 0);
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

void RemoveOnSignal(int directory, const std::string &name)
{
    KeepOnSignal();
    removedDirectory = directory;
    removedPath = strdup(name.c_str());
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
}

void KeepOnSignal()
{
    /* The handler must never see a path being freed. */
    sigset_t set = EndingSignals(), previous;
    sigprocmask(SIG_BLOCK, &set, &previous);
    char *path = removedPath;
    removedPath = nullptr;
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
