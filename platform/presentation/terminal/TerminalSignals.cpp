#include "TerminalSignals.h"

#include <cerrno>
#include <initializer_list>

#include <pthread.h>
#include <sys/signalfd.h>
#include <unistd.h>

namespace
{

bool IsIgnored(int signalNumber)
{
    struct sigaction action = {};
    return sigaction(signalNumber, nullptr, &action) == 0 && action.sa_handler == SIG_IGN;
}

bool IsEnd(int signalNumber)
{
    return signalNumber == SIGTERM || signalNumber == SIGHUP || signalNumber == SIGQUIT;
}

} // namespace

bool TerminalSignals::Start()
{
    sigemptyset(&taken_);
    for (int signalNumber : {SIGINT, SIGWINCH, SIGTSTP, SIGCONT, SIGTERM, SIGHUP, SIGQUIT})
        if (!IsIgnored(signalNumber))
            sigaddset(&taken_, signalNumber);
    sigset_t blocked = taken_;
    sigaddset(&blocked, SIGTTOU);
    sigaddset(&blocked, SIGTTIN);
    if (pthread_sigmask(SIG_BLOCK, &blocked, &savedMask_) != 0)
        return false;
    descriptor_ = signalfd(-1, &taken_, SFD_NONBLOCK | SFD_CLOEXEC);
    if (descriptor_ < 0) {
        pthread_sigmask(SIG_SETMASK, &savedMask_, nullptr);
        return false;
    }
    return true;
}

void TerminalSignals::Stop()
{
    if (descriptor_ < 0)
        return;
    int ending = 0;
    for (int signalNumber = Next(); signalNumber != 0; signalNumber = Next())
        if (IsEnd(signalNumber))
            ending = signalNumber;
    close(descriptor_);
    descriptor_ = -1;
    pthread_sigmask(SIG_SETMASK, &savedMask_, nullptr);
    if (ending != 0)
        raise(ending);
}

int TerminalSignals::Next()
{
    struct signalfd_siginfo information;
    for (;;) {
        ssize_t got = read(descriptor_, &information, sizeof information);
        if (got == ssize_t(sizeof information))
            return int(information.ssi_signo);
        if (got < 0 && errno == EINTR)
            continue;
        return 0;
    }
}

void TerminalSignals::StopProcess()
{
    /* Raised at this thread with the signal let through, the stop takes
       hold before raise returns; the whole process stops with it. */
    sigset_t stop;
    sigemptyset(&stop);
    sigaddset(&stop, SIGTSTP);
    struct sigaction standard = {}, saved = {};
    standard.sa_handler = SIG_DFL;
    sigaction(SIGTSTP, &standard, &saved);
    pthread_sigmask(SIG_UNBLOCK, &stop, nullptr);
    raise(SIGTSTP);
    pthread_sigmask(SIG_BLOCK, &stop, nullptr);
    sigaction(SIGTSTP, &saved, nullptr);
}

void TerminalSignals::EndProcess(int signalNumber)
{
    /* Raised with the program's own disposition: by default it ends the
       process; a handler that the program set (an installer's, which
       removes its temporary directory) ends it itself. */
    sigset_t end;
    sigemptyset(&end);
    sigaddset(&end, signalNumber);
    pthread_sigmask(SIG_UNBLOCK, &end, nullptr);
    raise(signalNumber);
    _exit(128 + signalNumber);
}
