#include "Installer.h"

#include <cerrno>
#include <csignal>
#include <cstring>

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

extern char **environ;

namespace
{

const char shell[] = "/bin/sh";

/* The child gets the signals as a freshly started program has them: the
   start-up ignores SIGPIPE and SIGXFSZ for itself, and while the command
   runs the installer ignores SIGINT and SIGQUIT, which reach the command. */
const int resetSignals[] = {SIGPIPE, SIGXFSZ};

} // namespace

int RunCommand(const std::string &command, int directory, const std::string &directoryName,
               const std::vector<std::string> &arguments, std::string &error)
{
    std::vector<const char *> argv = {shell, "-c", command.c_str()};
    for (const std::string &argument : arguments)
        argv.push_back(argument.c_str());
    argv.push_back(nullptr);

    /* The child reports a failed exec through a pipe that exec closes. */
    int report[2];
    if (pipe2(report, O_CLOEXEC) != 0) {
        error = std::string("cannot start ") + shell + ": " + std::strerror(errno);
        return INSTALLER_CANNOT_RUN;
    }
    struct sigaction ignore = {}, savedInterrupt, savedQuit;
    ignore.sa_handler = SIG_IGN;
    sigaction(SIGINT, &ignore, &savedInterrupt);
    sigaction(SIGQUIT, &ignore, &savedQuit);
    sigset_t unblocked;
    sigemptyset(&unblocked);

    /* Between fork and exec the child calls only what is safe in a copy of
       a process with threads. A signal that ends the installer is held
       back until the child is known, so that the child is ended with it. */
    sigset_t held;
    HoldEndingSignals(held);
    pid_t child = fork();
    if (child == 0) {
        sigaction(SIGINT, &savedInterrupt, nullptr);
        sigaction(SIGQUIT, &savedQuit, nullptr);
        ReleaseEndingSignals();
        struct sigaction standard = {};
        standard.sa_handler = SIG_DFL;
        for (int signalNumber : resetSignals)
            sigaction(signalNumber, &standard, nullptr);
        sigprocmask(SIG_SETMASK, &unblocked, nullptr);
        int failure = 0;
        /* The directory both passes wrote into, whatever its name names
           now. */
        if (fchdir(directory) == 0) {
            execve(shell, const_cast<char *const *>(argv.data()), environ);
            failure = errno;
        } else {
            failure = -errno;
        }
        ssize_t ignored = write(report[1], &failure, sizeof failure);
        (void)ignored;
        _exit(INSTALLER_CANNOT_RUN);
    }
    NoteCommandProcess(child > 0 ? child : 0);
    RestoreSignals(held);
    close(report[1]);
    int status = 0, failure = 0;
    if (child < 0) {
        failure = errno;
    } else {
        ssize_t got;
        do
            got = read(report[0], &failure, sizeof failure);
        while (got < 0 && errno == EINTR);
        if (got != sizeof failure)
            failure = 0;
        while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
        }
        NoteCommandProcess(0);
    }
    close(report[0]);
    sigaction(SIGINT, &savedInterrupt, nullptr);
    sigaction(SIGQUIT, &savedQuit, nullptr);

    if (failure < 0) {
        error = "cannot enter " + directoryName + ": " + std::strerror(-failure);
        return INSTALLER_CANNOT_RUN;
    }
    if (failure > 0) {
        error = std::string("cannot run ") + shell + ": " + std::strerror(failure);
        return failure == ENOENT ? INSTALLER_NO_SHELL : INSTALLER_CANNOT_RUN;
    }
    if (WIFSIGNALED(status))
        return 128 + WTERMSIG(status);
    return WEXITSTATUS(status);
}
