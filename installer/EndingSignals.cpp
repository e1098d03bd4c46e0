#include "Installer.h"

#include <atomic>
#include <cerrno>
#include <csignal>
#include <ctime>

#include <pthread.h>
#include <sys/wait.h>
#include <unistd.h>

/* An installer ended by SIGTERM, SIGHUP or SIGINT removes its temporary
   directory before it ends. Whichever thread takes the signal first does
   the work; the main thread, which creates the files, is stopped first
   (parked in a handler of its own), so that nothing is created in the
   directory while it is removed. A further signal meanwhile parks the
   thread it reaches. The work calls only what a signal handler may. */

namespace
{

const int endingSignals[] = {SIGTERM, SIGHUP, SIGINT};

std::atomic<int> ending{0};
std::atomic<bool> mainParked{false};
std::atomic<pid_t> commandProcess{0};
std::atomic<bool> directoryNoted{false};
pthread_t mainThread;
int parkSignal = 0;
bool keepDirectory = false;
/* Written before the directory is noted, read only by the handler; never
   freed, so that a signal during the program's own exit finds them. */
std::string &leftLine = *new std::string;
std::string &keptLine = *new std::string;

void Say(const std::string &line)
{
    ssize_t ignored = write(STDERR_FILENO, line.data(), line.size());
    (void)ignored;
}

[[noreturn]] void Park()
{
    if (pthread_equal(pthread_self(), mainThread))
        mainParked = true;
    for (;;)
        pause();
}

void OnPark(int)
{
    Park();
}

/* Ends as the signal's default would have, so that a calling shell sees
   the signal: status 128 + N. */
[[noreturn]] void EndBy(int signalNumber)
{
    signal(signalNumber, SIG_DFL);
    sigset_t let;
    sigemptyset(&let);
    sigaddset(&let, signalNumber);
    pthread_sigmask(SIG_UNBLOCK, &let, nullptr);
    raise(signalNumber);
    _exit(128 + signalNumber);
}

void StopMainThread()
{
    if (pthread_equal(pthread_self(), mainThread))
        return;
    pthread_kill(mainThread, parkSignal);
    /* A thread held inside a system call parks when the call returns; one
       that never returns is not waited for beyond ten seconds. */
    struct timespec pause = {0, 1000000};
    for (int waited = 0; !mainParked && waited < 10000; waited++)
        nanosleep(&pause, nullptr);
}

void OnEnding(int signalNumber)
{
    int expected = 0;
    if (!ending.compare_exchange_strong(expected, signalNumber))
        Park();
    StopMainThread();
    pid_t child = commandProcess;
    if (child > 0) {
        kill(child, signalNumber);
        while (waitpid(child, nullptr, 0) < 0 && errno == EINTR) {
        }
    }
    if (directoryNoted) {
        if (keepDirectory)
            Say(keptLine);
        else if (!RemoveTemporaryDirectoryAtOnce())
            Say(leftLine);
    }
    EndBy(signalNumber);
}

void Handle(int signalNumber, void (*handler)(int))
{
    struct sigaction action = {};
    action.sa_handler = handler;
    sigemptyset(&action.sa_mask);
    for (int blocked : endingSignals)
        sigaddset(&action.sa_mask, blocked);
    sigaction(signalNumber, &action, nullptr);
}

bool IsIgnored(int signalNumber)
{
    struct sigaction action = {};
    return sigaction(signalNumber, nullptr, &action) == 0 && action.sa_handler == SIG_IGN;
}

} // namespace

void CatchEndingSignals(const std::string &shownName)
{
    mainThread = pthread_self();
    parkSignal = SIGRTMIN + 1;
    leftLine = shownName + ": ended by a signal; cannot remove all of ";
    keptLine = shownName + ": ended by a signal; the files are kept in ";
    Handle(parkSignal, OnPark);
    for (int signalNumber : endingSignals)
        if (!IsIgnored(signalNumber))
            Handle(signalNumber, OnEnding);
}

void NoteTemporaryDirectory(const std::string &path, bool keep)
{
    leftLine += path + "\n";
    keptLine += path + "\n";
    keepDirectory = keep;
    directoryNoted = true;
}

void HoldEndingSignals(sigset_t &previous)
{
    sigset_t held;
    sigemptyset(&held);
    for (int signalNumber : endingSignals)
        sigaddset(&held, signalNumber);
    if (parkSignal != 0)
        sigaddset(&held, parkSignal);
    pthread_sigmask(SIG_BLOCK, &held, &previous);
}

void RestoreSignals(const sigset_t &previous)
{
    pthread_sigmask(SIG_SETMASK, &previous, nullptr);
}

void NoteCommandProcess(pid_t child)
{
    commandProcess = child;
}

void ReleaseEndingSignals()
{
    struct sigaction standard = {};
    standard.sa_handler = SIG_DFL;
    for (int signalNumber : endingSignals) {
        struct sigaction current = {};
        if (sigaction(signalNumber, nullptr, &current) == 0 && current.sa_handler == OnEnding)
            sigaction(signalNumber, &standard, nullptr);
    }
    if (parkSignal != 0)
        sigaction(parkSignal, &standard, nullptr);
}
